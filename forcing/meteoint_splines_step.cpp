// Methods 7 and 8 of a meteorological input: the station mesh built once at
// construction, and in every step the spline values of the mesh's stations
// on the model grid.

#include <algorithm>

#include "forcing/meteoint.h"
#include "forcing/meteoint_files_set.h"
#include "forcing/meteoint_files_station.h"
#include "framework/diagnostics_writer.h"

namespace {

// The missing value of the mesh.
constexpr double MeshNoData = -9999;

}  // namespace

void meteointerpol::StationsToMesh(int stationFile) {
    const meteoint::StationFile& stations = Method.Files[stationFile];
    const splines::MeshResult built = splines::BuildStationMesh(stations, Spacing);
    if (built.Status != splines::MeshStatus::Ok) {
        if (Writer) *Writer << splines::IrregularMeshText << "[end-entry]";
        throw splines::IrregularMeshCode;
    }
    Mesh = std::make_unique<SplineMeshGrids>(built.Mesh);
    Mesh->Writer = Writer;
    Mesh->ModuleName = ModuleName;
    const int32_t nR = Mesh->Rows;
    const int32_t nC = Mesh->Cols;
    for (int32_t r = 1; r <= nR; ++r) {
        for (int32_t p = 1; p <= nC; ++p) {
            const size_t station = static_cast<size_t>(built.Mesh.At(r, p));
            Mesh->X[r][p] = stations.XRot[station];
            Mesh->Y[r][p] = stations.YRot[station];
        }
    }
    RefuseFarStations(stationFile);
    if (InterpolationMethod == 8) {
        SplineGrid2 = matrix(1, NRows, 1, NCols, NRows);
        for (int32_t row = 1; row <= NRows; ++row) std::fill(SplineGrid2[row] + 1, SplineGrid2[row] + NCols + 1, NoData);
    }

    SplineSettings settings;
    settings.OriginX = Mesh->X[nR][1];
    settings.OriginY = Mesh->Y[nR][1];
    settings.Dh = Spacing.Horizontal;
    settings.Dv = Spacing.Vertical;
    settings.MeshNoData = MeshNoData;
    settings.CentreX = XllCorner;
    settings.CentreY = YllCorner;
    settings.CellSize = CellSize;
    settings.MeshX = Mesh->X;
    settings.MeshY = Mesh->Y;
    settings.MeshRows = nR;
    settings.MeshCols = nC;
    settings.CellX = IdwX;
    settings.CellY = IdwY;
    settings.Rows = NRows;
    settings.Cols = NCols;
    settings.GridNoData = NoData;
    settings.Slope = AnisotropySlope;
    settings.Refinement = 1.0;
    settings.EndExtension = 0;
    settings.ZoneGrid = ZoneGrid;
    settings.Writer = Writer;
    settings.ModuleName = ModuleName;
    Splines = std::make_unique<TSplines>(settings);
}

void meteointerpol::RefuseFarStations(int stationFile) {
    const int32_t nR = Mesh->Rows;
    const int32_t nC = Mesh->Cols;
    const splines::SubgridSize size =
        splines::MeshSubgridSize(Mesh->X, Mesh->Y, nR, nC, Mesh->X[nR][1], Mesh->Y[nR][1], CellSize);
    const double limit = splines::LargestSubgridSide(NRows, NCols);
    if (size.Rows <= limit && size.Cols <= limit) return;
    const meteoint::StationFile& stations = Method.Files[stationFile];
    const int32_t far =
        splines::StationFarthestOutside(stations.X, stations.Y, XllCorner, YllCorner, CellSize, NRows, NCols);
    const StationFileReader* reader = FileSet ? FileSet->Station(stationFile) : nullptr;
    if (Writer) {
        *Writer << "FATAL: Error converting the station coordinates into a grid:\nstation " << far;
        if (far > 0) *Writer << " (x = " << stations.X[static_cast<size_t>(far)] << ", y = "
                             << stations.Y[static_cast<size_t>(far)] << ")";
        *Writer << " of " << (reader ? reader->FileName() : ModuleName)
                << " lies too far from the model grid: the station mesh would span " << size.Rows << " rows and "
                << size.Cols << " columns of " << CellSize << " m, more than " << limit
                << " (100 times the larger side of the model grid, at least 10000)\n"
                << "[end-entry]";
    }
    throw splines::IrregularMeshCode;
}

void meteointerpol::InterpolateSplines() {
    if (!Mesh || !Splines) return;
    auto interpolate = [this](int f, double** target) {
        // A station that the file does not have, or whose value is missing,
        // leaves a gap in the mesh.
        const std::span<const double> values = Method.Files[f].Value;
        for (int32_t r = 1; r <= Mesh->Rows; ++r) {
            for (int32_t p = 1; p <= Mesh->Cols; ++p) {
                const double station = Mesh->Station[r][p];
                double v = MeshNoData;
                if (station >= 1 && station < static_cast<double>(values.size())) {
                    const double value = values[static_cast<size_t>(station)];
                    if (meteoint::IsValid(value, NoDataBound)) v = value;
                }
                Mesh->Value[r][p] = v;
            }
        }
        Splines->PrepareColumnSplines(Mesh->Value, Mesh->SecondDerivative);
        Splines->InterpolateMesh(Mesh->Value, Mesh->SecondDerivative, target);
    };
    // A step whose stations all report one value takes that value without
    // interpolating; the gradient grid of method 8 is still interpolated.
    const bool allEqual =
        meteoint::AllEqualCommonValue(StationValuesAllEqual(), Method.Files[0], NoDataBound).has_value();
    if (!allEqual) interpolate(0, ResultGrid);
    if (InterpolationMethod == 8 && SplineGrid2) interpolate(1, SplineGrid2);
}

void meteointerpol::ReleaseSplines() {
    Splines.reset();
    Mesh.reset();
    if (SplineGrid2) free_matrix(SplineGrid2, 1, NRows, 1, NCols);
    SplineGrid2 = nullptr;
}

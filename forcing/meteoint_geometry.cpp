// Station geometry of a meteorological input, set up once during
// construction: the main direction of the station mesh, the rotation of
// stations and cells into the frame of the anisotropy ellipse, the mean
// station spacing and the look-up stations of the bilinear methods; and the
// station arrays the kernels read.

#include <algorithm>
#include <span>
#include <string>

#include "forcing/meteoint.h"
#include "forcing/meteoint_files_set.h"
#include "framework/diagnostics_writer.h"
#include "framework/gridtable.h"

void meteointerpol::SetUpStationGeometry() {
    const StationFileReader& first = *FileSet->Station(0);
    const int method = InterpolationMethod;
    if (method >= 5 && method <= 8) {
        const meteoint::Anisotropy estimate = meteoint::EstimateAnisotropy(first.Stations().X, first.Stations().Y);
        AnisotropySlope = estimate.SlopeDegrees;
        AnisotropyRatio = estimate.Ratio;
    }
    AnisotropySlope = meteoint::SlopeToRadians(AnisotropySlope);
    // The regression (2) and the grid list (9) use neither slope nor ratio.
    const bool anisotropic = meteoint::UsesAnisotropy(method);
    if (anisotropic) {
        switch (meteoint::CheckAnisotropy(AnisotropySlope, AnisotropyRatio)) {
            case meteoint::AnisotropyCheck::SlopeOutOfRange:
                if (Writer) *Writer << meteoint::SlopeOutOfRangeText << "[end-entry]";
                throw meteoint::AnisotropyErrorCode;
            case meteoint::AnisotropyCheck::RatioOutOfRange:
                if (Writer) *Writer << meteoint::RatioOutOfRangeText << "[end-entry]";
                throw meteoint::AnisotropyErrorCode;
            case meteoint::AnisotropyCheck::Ok:
                break;
        }
    }

    const int files = StationFileCount();
    if (anisotropic && AnisotropyRatio < 1) {
        CreateRotatedCoordGrids();
        for (int f = 0; f < files; ++f) {
            const StationDescription& stations = FileSet->Station(f)->Stations();
            meteoint::RotatedStations rotated =
                meteoint::RotateStationCoords(stations.X, stations.Y, XllCorner, YllCorner, AnisotropySlope);
            RotatedStationX[f] = std::move(rotated.X);
            RotatedStationY[f] = std::move(rotated.Y);
        }
    }
    BuildMethodData();

    if (Writer) {
        *Writer << "calculating average horizontal and vertical distance to the next station..."
                << "[end-entry]";
    }
    Spacing = meteoint::CalcStationDistances(Method.Files[0].XRot, Method.Files[0].YRot);
    if (Writer) {
        *Writer << "avg. horizontal distance: " << Spacing.Horizontal << " m"
                << "[end-entry]";
        *Writer << "avg. vertical   distance: " << Spacing.Vertical << " m"
                << "[end-entry]";
    }

    if (method == 7 || method == 8) StationsToMesh(0);
    if (method == 5 || method == 6) {
        if (Writer) *Writer << "choosing look-up-stations...";
        const std::span<const RowExtent> extents(Extents);
        const auto selected = [this](int32_t row, int32_t col) {
            return ZoneGrid[row][col] != NoData && (!Regions || Regions[row][col] == ProcessNumber);
        };
        // One "." per grid row in the entry, which ends with each file.
        const std::string rowDots(static_cast<size_t>(std::max(NRows, 0)), '.');
        LookUp.clear();
        for (int f = 0; f < files; ++f) {
            LookUp.push_back(
                meteoint::ChooseLookUpStations(Method.Files[f], Spacing, NRows, NCols, IdwX, IdwY, extents, selected));
            if (Writer) *Writer << rowDots << "[end-entry]";
        }
    }
}

void meteointerpol::CreateRotatedCoordGrids() {
    const int xIndex = FindFreeGridEntry(GridTable);
    const int yIndex = xIndex == NoFreeGridEntry ? NoFreeGridEntry : FindFreeGridEntry(GridTable, xIndex + 1);
    if (yIndex == NoFreeGridEntry) {
        if (Writer)
            *Writer << "FATAL: no more free grids in memeory, (max. " << 1000 << ")!"
                    << "[end-entry]";
        throw 12;
    }
    RotatedX = matrix(1, NRows, 1, NCols, NRows);
    RotatedY = matrix(1, NRows, 1, NCols, NRows);
    meteoint::CreateRotatedCoordGrids(CoordX, CoordY, NRows, NCols, NoData, XllCorner, YllCorner, AnisotropySlope,
                                      RotatedX, RotatedY);
    const std::string xName = "CoordXRot_" + ModuleName;
    const std::string yName = "CoordYRot_" + ModuleName;
    StoreGrid(xIndex, xName, RotatedX, nullptr, 1, xName, 0, 1, NRows);
    RotatedXIndex = xIndex;
    StoreGrid(yIndex, yName, RotatedY, nullptr, 1, yName, 0, 1, NRows);
    RotatedYIndex = yIndex;
    IdwX = RotatedX;
    IdwY = RotatedY;
}

void meteointerpol::BuildMethodData() {
    Method.Method = InterpolationMethod;
    Method.NoData = NoDataBound;
    Method.GridNoData = NoData;
    const double ratio = meteoint::UsesAnisotropy(InterpolationMethod) ? AnisotropyRatio : 1.0;
    Method.Idw = meteoint::MakeIdwParameters(IdwWeight, MaxDistance, ratio);
    Method.IdwFraction = IdwFraction;
    for (int f = 0; f < 2; ++f) {
        Method.Files[f] = meteoint::StationFile{};
        const StationFileReader* reader = FileSet ? FileSet->Station(f) : nullptr;
        if (!reader) continue;
        const StationDescription& stations = reader->Stations();
        meteoint::StationFile& file = Method.Files[f];
        file.Value = reader->Values();
        file.Altitude = stations.Altitude;
        file.X = stations.X;
        file.Y = stations.Y;
        const bool rotated = !RotatedStationX[f].empty();
        file.XRot = rotated ? std::span<const double>(RotatedStationX[f]) : file.X;
        file.YRot = rotated ? std::span<const double>(RotatedStationY[f]) : file.Y;
    }
}

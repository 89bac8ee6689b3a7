// Point output of the control cell (one row per sub-step, buffered and
// appended to the point files), the flushing of the soil model's outputs and
// its model end: the soil-water report, the last point rows, the statistics
// writers closed in order and everything released.

#include <algorithm>
#include <cinttypes>
#include <cstdio>

#include "framework/diagnostics_writer.h"
#include "framework/signals.h"
#include "parameters/soil.h"
#include "soil/unsatzon.h"

namespace {

// The next free record of a buffer (the caller has written full buffers).
DatedRow* NextRecord(ControlPointBuffer& buffer, int64_t year, int64_t month, int64_t day, int64_t hour) {
    if (buffer.Fill >= buffer.Capacity) return nullptr;
    DatedRow* row = &buffer.Rows[static_cast<size_t>(++buffer.Fill)];
    row->Year = year;
    row->Month = month;
    row->Day = day;
    row->Hour = hour;
    return row;
}

}  // namespace

void unsatzonmodellklasse::WritePointBuffer(FILE*, const std::string& fileName, int64_t* fill, DatedRow* records,
                                            int first, int last) {
    if (*fill == 0) return;
    const CtrlCIgnored quiet;
    if (last == 0) last = maxLayers;
    if (Writer) *Writer << "write " << fileName << "[end-entry]";
    FILE* file = std::fopen(fileName.c_str(), "a+");
    if (!file) {
        if (Writer) *Writer << "FATAL: \nerror opening file " << fileName << "[end-entry]";
        throw 65;
    }
    bool ok = true;
    for (int64_t r = 1; r <= *fill && ok; ++r) {
        const DatedRow& row = records[r];
        ok = std::fprintf(file, "%" PRId64 "\t%" PRId64 "\t%" PRId64 "\t%" PRId64, row.Year, row.Month, row.Day,
                          row.Hour) >= 0;
        for (int v = first; v <= last && ok; ++v) ok = std::fprintf(file, "\t%g", row.Values[v]) >= 0;
        if (ok) ok = std::fputc('\n', file) != EOF;
    }
    if (std::fclose(file) != 0) ok = false;
    if (!ok) {
        // Rows that did not reach the file are not reported as written.
        if (Writer) *Writer << "FATAL: \nerror writing file " << fileName << "[end-entry]";
        throw 65;
    }
    if (Writer) {
        *Writer << "(" << (static_cast<int64_t>(maxLayers) * 8 + 32) * *fill << " of " << zonalstatistic::BufferBytes
                << " buffer-bytes)" << "[end-entry]";
    }
    *fill = 0;
}

void unsatzonmodellklasse::AppendStackPointRecords() {
    if (!PointOutput) return;
    const int r = controlRow, c = controlColumn;
    auto append = [&](ControlPointBuffer& buffer, GridStack stack) {
        if (!stack || buffer.Capacity == 0) return;
        DatedRow* row = NextRecord(buffer, StepYear, StepMonth, StepDay, StepHour);
        if (!row) return;
        for (int l = 1; l <= maxLayers; ++l) row->Values[l] = stack[r][c][l];
    };
    append(PointBuffers[QBottomFile], QDown);
    append(PointBuffers[ThetaFile], Theta);
    append(PointBuffers[HhydFile], HydraulicHeads);
    if (heatTransferSwitch > 0 && heatMethod > 0) append(PointBuffers[PointFiles], SoilTemperature);
}

void unsatzonmodellklasse::AppendCellPointRecords(int row, int column, const double* etr,
                                                  const double* layerInterflow, double infiltration) {
    // Cells of response units copy their master: no rows of their own.
    if (!PointOutput || MasterHydrologicResponseUnits) return;
    const int L = maxLayers;
    if (DatedRow* record = NextRecord(PointBuffers[EtrFile], StepYear, StepMonth, StepDay, StepHour))
        for (int l = 0; l <= L; ++l) record->Values[l] = etr[l];
    if (DatedRow* record = NextRecord(PointBuffers[InterflowFile], StepYear, StepMonth, StepDay, StepHour))
        for (int l = 1; l <= L; ++l) record->Values[l] = layerInterflow[l];
    DatedRow* record = NextRecord(PointBuffers[OtherDataFile], StepYear, StepMonth, StepDay, StepHour);
    if (!record) return;
    auto at = [&](double** grid) { return grid ? grid[row][column] : NoData; };
    double** const grids[] = {DirectFlow, InterFlow, Baseflow, nullptr, RiverInfiltration, RiverExfiltration,
                              GroundwaterRecharge, CapillarUprise, Percolation, MacroporeInfiltration, DrainageFlow,
                              PondingStorage, InfiltrationExcess, GroundwaterDistance, GroundwaterLevel, RootGrid,
                              Albedo, SurfaceEvaporationResistance};
    int v = 0;
    for (double** g : grids) record->Values[++v] = at(g);
    record->Values[4] = infiltration;
    for (int k = 1; k <= vegetationLayers; ++k) {
        const size_t i = static_cast<size_t>(k);
        for (double** g : {LeafArea[i], Coverage[i], CanopyResistance[i], InterceptResistance[i], RootDepth[i],
                           Roughness[i]})
            record->Values[++v] = at(g);
    }
}

void unsatzonmodellklasse::AppendControlCellRecords(int row, int column, const std::vector<double>& layerEtr,
                                                    const std::vector<double>& layerInterflow, double surfaceFlux,
                                                    double mmPerRate) {
    const size_t n1 = static_cast<size_t>(maxLayers) + 1;
    std::vector<double> etr(n1, 0.0), interflow(n1, 0.0);
    for (size_t l = 0; l < n1 && l < layerEtr.size() && l < layerInterflow.size(); ++l) {
        etr[l] = layerEtr[l] * mmPerRate;
        interflow[l] = layerInterflow[l] * mmPerRate;
    }
    AppendCellPointRecords(row, column, etr.data(), interflow.data(), -surfaceFlux * mmPerRate);
}

// Buffers in the order the files are written, with their value ranges.
void unsatzonmodellklasse::WritePointBuffers() {
    if (!PointOutput) return;
    struct Range {
        int File, First, Last;
    };
    const Range ranges[] = {{QBottomFile, 1, 0}, {ThetaFile, 1, 0},    {HhydFile, 1, 0},
                            {OtherDataFile, 1, 18 + 6 * vegetationLayers}, {EtrFile, 0, 0},
                            {InterflowFile, 1, 0}};
    for (const Range& r : ranges) {
        ControlPointBuffer& b = PointBuffers[r.File];
        WritePointBuffer(nullptr, PointFileNames[r.File], &b.Fill, b.Rows.data(), r.First, r.Last);
    }
    if (heatTransferSwitch > 0) {
        ControlPointBuffer& b = PointBuffers[PointFiles];
        WritePointBuffer(nullptr, TemperatureFileName, &b.Fill, b.Rows.data(), 1, 0);
    }
}

void unsatzonmodellklasse::WriteFullPointBuffers() {
    if (!PointOutput) return;
    bool full = false;
    for (const ControlPointBuffer& b : PointBuffers) full = full || (b.Capacity > 0 && b.Fill >= b.Capacity);
    if (!full) return;
    // Only the full ones are written; the others keep filling.
    struct Range {
        int File, First, Last;
    };
    const Range ranges[] = {{QBottomFile, 1, 0}, {ThetaFile, 1, 0},    {HhydFile, 1, 0},
                            {PointFiles, 1, 0},  {OtherDataFile, 1, 18 + 6 * vegetationLayers},
                            {EtrFile, 0, 0},     {InterflowFile, 1, 0}};
    for (const Range& r : ranges) {
        ControlPointBuffer& b = PointBuffers[r.File];
        if (b.Capacity == 0 || b.Fill < b.Capacity) continue;
        const std::string& name = r.File == PointFiles ? TemperatureFileName : PointFileNames[r.File];
        WritePointBuffer(nullptr, name, &b.Fill, b.Rows.data(), r.First, r.Last);
    }
}

unsatzonmodellklasse::SoilWaterMeans unsatzonmodellklasse::MeanSoilWater(int layers) const {
    double ice = 0, free = 0, area = 0;
    for (int i = 1; i <= NRows; ++i) {
        for (int j = 1; j <= NCols; ++j) {
            if (SubbasinGrid[i][j] == NoData || !(SubbasinGrid[i][j] > 0)) continue;
            if (Regions && Regions[i][j] != ProcessNumber) continue;
            const double g = GlacierShare(i, j);
            const double w = CellWeight(i, j);
            const SoilType& soil = CellSoil(i, j);
            for (int l = 1; l <= layers; ++l) {
                const double dz = soil.thickness[static_cast<size_t>(l)];
                free += w * Theta[i][j][l] * dz * (1 - g);
                ice += w * soil.theta_sat[static_cast<size_t>(l)] * dz * g;
            }
            area += w;
        }
    }
    SoilWaterMeans means;
    if (area > 0) {
        means.Unglacierised = free / area;
        means.Glacierised = ice / area;
    }
    return means;
}

void unsatzonmodellklasse::WriteMeanSoilWater(FILE* log, int layers, const char* moment) const {
    const SoilWaterMeans means = MeanSoilWater(layers);
    std::fprintf(log, "mean soil water content for all cells at %s: %lf m^3/m^2\n", moment,
                 means.Unglacierised + means.Glacierised);
    std::fprintf(log,
                 "mean soil water content for unglacierized or only partly unglacierized cells at %s: %lf "
                 "m^3/m^2\n",
                 moment, means.Unglacierised);
    std::fprintf(log, "mean soil water content for partly or completely glacierized cells at %s: %lf m^3/m^2\n",
                 moment, means.Glacierised);
}

void unsatzonmodellklasse::WriteModelEndReport() {
    const std::string name = "modell_" + std::to_string(ProcessNumber) + ".log";
    FILE* log = std::fopen(name.c_str(), "a+");
    if (!log) {
        if (Writer) *Writer << "WARNING: log file " << name << " could not be opened" << "[end-entry]";
        return;
    }
    const int L = soilTypes ? soilTypes[1].LayerCount : maxLayers;
    if (PointOutput) {
        const SoilType& soil = CellSoil(controlRow, controlColumn);
        double water = 0;
        for (int l = 1; l <= L; ++l)
            water += Theta[controlRow][controlColumn][l] * soil.thickness[static_cast<size_t>(l)] * 1000;
        std::fprintf(log, "(mpi_rank %d) soil water content (control point r=%d c=%d) at model-end: %lf mm\n",
                     ProcessNumber, controlRow, controlColumn, water);
    }
    if (ProcessNumber == 0) WriteMeanSoilWater(log, L, "model-end");
    std::fclose(log);
}

void unsatzonmodellklasse::FlushOutputs() {
    if (Method == 0) return;
    WritePointBuffers();
    WriteTracerPointBuffers();
    FlushTracerStatistics();
    const StatisticsWriter order[] = {wQD,    wQI,    wQB,    wQg,      wSB_1,  wSB_2, wIMMO, wROOT,  wGWSTAND,
                                      wGWN,   wINFILT, wMACRO, wSUBSTEPS, wINFEX, wPOND, wQDRAIN, wTHAW, wGWIN, wGWEX};
    for (StatisticsWriter w : order)
        if (Statistics[w] && Statistics[w]->IsOn()) Statistics[w]->Flush();
}

void unsatzonmodellklasse::FinishRun(int append) {
    if (Deleted()) return;
    if (Method > 0) {
        GlacierSubbasins.clear();
        if (Status == 1) WriteModelEndReport();
        if (Status == 1) WriteStorageContent(append != 0);
        ReleaseTracers();
        UnsatzonOptionTag.clear();
        if (Status == 1) WritePointBuffers();
        for (ControlPointBuffer& b : PointBuffers) b = ControlPointBuffer{};
        const StatisticsWriter order[] = {wINFEX, wQD,   wQI,    wQB,    wQg,     wSB_1,  wSB_2,     wIMMO,  wROOT,
                                          wGWSTAND, wGWN, wINFILT, wMACRO, wSUBSTEPS, wQDRAIN, wPOND, wTHAW, wGWIN, wGWEX};
        for (StatisticsWriter w : order)
            if (Statistics[w]) Statistics[w]->Close();
        ReleaseAll();
    }
    modelobject::DeleteModule();
}

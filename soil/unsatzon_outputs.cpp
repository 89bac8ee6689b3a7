// The soil model's statistics writers, point-output files with their buffers,
// the option tag of the log line and the model-start reports.

#include <algorithm>
#include <cstdio>

#include "framework/diagnostics_writer.h"
#include "framework/gridtable.h"
#include "parameters/soil.h"
#include "soil/unsatzon.h"

int64_t ControlPointCapacity(int values) {
    return std::max<int64_t>(1, zonalstatistic::BufferBytes / (8 * static_cast<int64_t>(values) + 32));
}

void ControlPointBuffer::Allocate(int valuesPerRow) {
    ValuesPerRow = valuesPerRow;
    Capacity = ControlPointCapacity(valuesPerRow);
    Fill = 0;
    Values.assign(static_cast<size_t>(Capacity) * static_cast<size_t>(valuesPerRow), 0.0);
    Rows.assign(static_cast<size_t>(Capacity) + 1, DatedRow{});
    for (int64_t r = 1; r <= Capacity; ++r)
        Rows[static_cast<size_t>(r)].Values = Values.data() + static_cast<size_t>(r - 1) * valuesPerRow;
}

std::string LayerPointHeader(const std::string& quantity, int row, int column, int firstLayer, int lastLayer,
                             const std::string& note) {
    std::string text =
        "YY\tMM\tDD\tHH\t" + quantity + "[" + std::to_string(row) + "][" + std::to_string(column) + "]" + note;
    for (int l = firstLayer; l <= lastLayer; ++l) text.append("[").append(std::to_string(l)).append("]\t");
    return text + "\n";
}

std::string OtherDataPointHeader(int row, int column, int vegetationLayers) {
    std::string text = "YY\tMM\tDD\tHH\totherdata[" + std::to_string(row) + "][" + std::to_string(column) + "]";
    text += "QD\tQI\tDELTAGW/QB\tQINF\tGWIN\tGWEX\tGWN\tUPRISE\tPERCOL\tMACR\tQDRAIN\tACT_POND\tINFEX\tGWST\tGWLEVEL\tROOT";
    text += "\tAlbedo\tRSE";
    for (int i = 1; i <= vegetationLayers; ++i) {
        const std::string n = std::to_string(i);
        text += "\tLAI_" + n + "\tVCF_" + n + "\tRSC_" + n + "\tRSI_" + n + "\tROOT_" + n + "\tZ0_" + n;
    }
    return text + "\n";
}

DumpSwitches DumpSwitchesOf(int argc, const char* const* argv) {
    DumpSwitches switches;
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i];
        if (argument == "-dumpmode") switches.DumpMode = 1;
        if (argument == "-closeAfterDump") switches.CloseAfterDump = 1;
    }
    return switches;
}

std::string MakeUnsatzonOptionTag(bool flowTimes, bool irrigation, int surfaceWaterInteraction, bool drainage,
                                  bool clay, bool ponding) {
    std::string tag;
    if (flowTimes) tag += "+ft,";
    if (irrigation) tag += "+ir,";
    if (surfaceWaterInteraction == 1) tag += "+srf1";
    if (surfaceWaterInteraction >= 2) tag += "+srf2,";
    if (drainage) tag += "+dr,";
    if (clay) tag += "+cl,";
    if (ponding) tag += "+po,";
    return tag;
}

std::string ImmobilisedFileName(const std::string& name) {
    const size_t slash = name.find_last_of('/');
    const size_t point = name.rfind('.');
    if (point == std::string::npos || (slash != std::string::npos && point < slash)) return name + "_immo";
    return name.substr(0, point) + "_immo" + name.substr(point);
}

zonalstatistic* unsatzonmodellklasse::CreateStatistics(const NamedCode& file, int precision,
                                                       const std::string& title) {
    const int n = Subbasins.Count;
    std::vector<ZoneRecord> zones(static_cast<size_t>(n) + 1, ZoneRecord{});
    for (int r = 0; r <= n; ++r) {
        zones[static_cast<size_t>(r)].zonenwert = Subbasins.Records[r].zonenwert;
        zones[static_cast<size_t>(r)].rel = Subbasins.Records[r].rel;
    }
    return CreateOwnedStatistics(std::move(zones), n, StatisticsTable, StatisticsTableSize, file.Code, precision,
                                 file.Name, OutputDirectory, title, ModuleName);
}

void unsatzonmodellklasse::CreateMainStatistics() {
    const NamedCode* s = StatisticsFiles;
    Statistics[wGWSTAND] = CreateStatistics(s[sGWSTAND], 5, "groundwater level [m below surface] (GWSTAND)");
    Statistics[wGWN] = CreateStatistics(s[sGWN], 5, "groundwater recharge per zone [mm] (GWN)");
    Statistics[wSB_1] = CreateStatistics(s[sSB_1], 5, "rel. soil moisture 0..root depth per zone ");
    Statistics[wSB_2] = CreateStatistics(s[sSB_2], 5, "abs. soil moisture 0..profile depth per zone ");
    Statistics[wROOT] = CreateStatistics(s[sROOT], 5, "root depth [mm per zone] ");
    Statistics[wINFEX] = CreateStatistics(s[sINFEX], 5, "Infiltration excess [mm per zone]  ");
    Statistics[wQD] = CreateStatistics(s[sQD], 6, "direct discharge [mm per Zone] (QD)");
    Statistics[wQI] = CreateStatistics(s[sQI], 6, "Interflow [mm per zone]");
    Statistics[wQB] = CreateStatistics(s[sQB], 6, "base flow [mm per Zone]");
    Statistics[wQg] = CreateStatistics(s[sQg], 6, "total runoff [mm per zone] (sum of QB, QI und QD)");
    Statistics[wMACRO] = CreateStatistics(s[sMACRO], 6, "macropore_infiltration_per_zone_[mm] ");
    Statistics[wINFILT] = CreateStatistics(s[sINFILT], 6, "total_infiltration_per_zone_[mm] ");
    if (solverMethod == 3)
        Statistics[wSUBSTEPS] = CreateStatistics(SubstepsStatistics, 6, "Number_of_Substeps_per_Time_Step[-] ");
    if (heatTransferSwitch > 0) Statistics[wTHAW] = CreateStatistics(TemperatureStatistics, 5, "soil thaw depth [m] ");
}

void unsatzonmodellklasse::CreateDrainagePondStatistics() {
    if (DrainageDepth)
        Statistics[wQDRAIN] =
            CreateStatistics(StatisticsFiles[sQDRAIN], 5, "drainage discharge [mm per zone] (QDRAIN)");
    if (MaxPonding)
        Statistics[wPOND] =
            CreateStatistics(StatisticsFiles[sPOND], 5, "ponding water storage content [mm per zone]  ");
}

void unsatzonmodellklasse::CreatePointFiles() {
    PointOutput = false;
    if (controlRow <= 0) return;
    if (Regions && Regions[controlRow][controlColumn] != ProcessNumber) return;
    if (SubbasinGrid[controlRow][controlColumn] == NoData) {
        if (Writer) {
            *Writer << "WARNING: the control point (row " << controlRow << ", column " << controlColumn
                    << ") is not a cell of the soil model; no point output is written" << "[end-entry]";
        }
        return;
    }
    PointOutput = true;
    const int layerValues = maxLayers + 1;
    PointBuffers[QBottomFile].Allocate(layerValues);
    PointBuffers[ThetaFile].Allocate(layerValues);
    PointBuffers[HhydFile].Allocate(layerValues);
    PointBuffers[OtherDataFile].Allocate(6 * vegetationLayers + 19);
    PointBuffers[EtrFile].Allocate(layerValues);
    PointBuffers[InterflowFile].Allocate(layerValues);
    if (heatTransferSwitch > 0) PointBuffers[PointFiles].Allocate(layerValues);

    auto create = [&](const std::string& name, const std::string& header, const char* what) {
        FILE* file = std::fopen(name.c_str(), "w");
        bool ok = file != nullptr;
        if (ok) ok = std::fputs(header.c_str(), file) >= 0;
        if (file && std::fclose(file) != 0) ok = false;
        if (!ok) {
            if (Writer) {
                *Writer << "FATAL: error opening file for " << what << " \n-> check disk space or user rights"
                        << "[end-entry]";
            }
            throw 62;
        }
    };
    const int r = controlRow, c = controlColumn;
    create(PointFileNames[HhydFile], LayerPointHeader("hhyd", r, c, 1, maxLayers), "hydraulic head (single point)");
    create(PointFileNames[OtherDataFile], OtherDataPointHeader(r, c, vegetationLayers), "other detail data (single point)");
    create(PointFileNames[ThetaFile], LayerPointHeader("theta", r, c, 1, maxLayers), "soil theta (single point)");
    create(PointFileNames[QBottomFile], LayerPointHeader("q_bottom", r, c, 1, maxLayers),
           "flux at the bottom of the layers (single point)");
    create(PointFileNames[EtrFile],
           LayerPointHeader("etr", r, c, 0, maxLayers, "(etr[0] is evaporation from first layer)"),
           "transpiration/evaporation per layer (single point)");
    create(PointFileNames[InterflowFile], LayerPointHeader("interflow_per_layer", r, c, 1, maxLayers),
           "interflow (single point)");
    if (heatTransferSwitch > 0)
        create(TemperatureFileName, LayerPointHeader("temper", r, c, 1, maxLayers),
               "soil temperatures (single point details)");
}

void unsatzonmodellklasse::WriteStartReport() {
    const std::string name = "modell_" + std::to_string(ProcessNumber) + ".log";
    FILE* log = std::fopen(name.c_str(), "a+");
    if (!log) return;
    if (PointOutput) {
        const SoilType& soil = CellSoil(controlRow, controlColumn);
        double water = 0;
        for (int l = 1; l <= maxLayers; ++l)
            water += Theta[controlRow][controlColumn][l] * soil.thickness[static_cast<size_t>(l)] * 1000;
        std::fprintf(log, "soil water content (for control point r=%d c=%d) at model-start: %lf mm\n", controlRow,
                     controlColumn, water);
    }
    if (ProcessNumber == 0) WriteMeanSoilWater(log, maxLayers, "model-start");
    std::fclose(log);
}

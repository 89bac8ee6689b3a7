#include "forcing/meteoint_superposition_entity.h"

#include <algorithm>
#include <cmath>

#include "forcing/meteoint_superposition.h"
#include "forcing/meteoint_superposition_kernels.h"
#include "framework/diagnostics_writer.h"
#include "framework/gridtable.h"
#include "framework/parallel_rows.h"
#include "framework/zonalstatistic.h"

namespace {

constexpr int RegionListCode = 134;
constexpr int WeightListCode = 135;
constexpr int MissingGridCode = 33;
constexpr int GridTableFullCode = 12;
constexpr int ControlFileCode = 17;
constexpr int StatisticsPrecision = 4;

const char* const LayerRegionNames[3] = {"regression_regions", "regression_regions2", "regression_regions3"};
const char* const LayerWeightNames[3] = {"regression_weights1", "regression_weights2", "regression_weights3"};

}  // namespace

cSuperposition::cSuperposition(RegionalSuperposition* owner, const std::string& blockText) : Owner(owner) {
    const ModelSettings& s = Owner->Settings;
    Rows = Owner->NRows;
    Cols = Owner->NCols;
    NoData = Owner->NoData;
    InstanceNumber = Owner->ProcessNumber;
    ZoneGrid = Owner->GridTable ? Owner->GridTable[1].Data : nullptr;
    if (!ZoneGrid) Fatal("the zone grid (grid-table entry 1) is needed by " + Owner->ModuleName, MissingGridCode);
    Extents.assign(static_cast<size_t>(std::max(Rows, 0)) + 1, RowExtent{});
    for (int32_t row = 1; row <= Rows; ++row) {
        RowExtent extent{1, Cols};
        if (s.RowExtents) extent = s.RowExtents[row];
        extent.first = std::max(extent.first, 1);
        extent.last = std::min(extent.last, Cols);
        Extents[static_cast<size_t>(row)] = extent;
    }
    // The region table of the set-up; without one there are no regions.
    if (s.RegionRank && s.RegionCount > 0) {
        RegionRank = s.RegionRank;
        RegionCount = s.RegionCount;
        LargestRegionCode = s.MaxRegionCode;
    }

    // A constructor that throws runs no destructor: what was made so far is
    // given back here.
    try {
        ParseBlock(blockText);
        CreateOutputGrid();
        CreateStatistics();
        TakeRegionLayers();
    } catch (...) {
        try {
            Release();
        } catch (...) {
        }
        throw;
    }
}

cSuperposition::~cSuperposition() {
    // An entity left behind by a failed construction gives back what it holds
    // without writing anything that could fail.
    if (Released) return;
    try {
        Release();
    } catch (...) {
    }
}

void cSuperposition::Fatal(const std::string& text, int code) const {
    if (Owner->Writer) *Owner->Writer << "FATAL: " << text << "[end-entry]";
    throw code;
}

void cSuperposition::ParseBlock(const std::string& blockText) {
    const size_t brace = blockText.find('{');
    const size_t start = blockText.find_first_not_of(" \t");
    if (brace == std::string::npos || start == std::string::npos || start > brace) {
        Fatal("error in control file, an entity block of [" + Owner->ModuleName +
                  "] must begin with the entity's name and \"{\":\n" + blockText,
              ControlFileCode);
    }
    Name = superposition::FirstWord(blockText.substr(start, brace - start));
    if (Name.empty()) {
        Fatal("error in control file, an entity block of [" + Owner->ModuleName +
                  "] has no name before \"{\":\n" + blockText,
              ControlFileCode);
    }
    const size_t close = blockText.find('}', brace);
    std::string body = blockText.substr(brace + 1, close == std::string::npos ? std::string::npos : close - brace);

    while (body.find("entityinputgrid") != std::string::npos) ParseInput(body);
    CheckWeightSums();
    ParseOutputKeys(body);
}

void cSuperposition::ParseInput(std::string& body) {
    using namespace superposition;
    SuperpositionInput input;
    const KeyValue grid = FindKeyValue(body, "entityinputgrid");
    input.GridName = FirstWord(grid.Value);
    body.erase(0, grid.After);
    if (input.GridName.empty()) {
        Fatal("error in control file, \"entityinputgrid\" = grid name; of entity " + Name + "; " +
                  Owner->ModuleName + "not found!",
              ControlFileCode);
    }
    input.GridIndex = RequiredGrid(input.GridName);
    input.Grid = Owner->GridTable[input.GridIndex].Data;

    const std::string where = "\nerror reading regions in " + Owner->ModuleName + " entity: " + Name +
                              ", inputgrid " + input.GridName;
    // The character after a key is passed over with it.
    const KeyValue regions = FindKeyValue(body, "regions");
    if (regions.KeyFound) body.erase(0, std::min(body.size(), regions.After + 1));
    std::vector<std::string> items;
    if (regions.KeyFound) {
        const KeyValue listed = FindKeyValue(body, "");
        if (listed.HasValue) items = ListItems(listed.Value);
    }
    for (const std::string& item : items) {
        int code = 0;
        if (!ParseInt(item, &code)) {
            Fatal(where + "\nthe region code \"" + item + "\" is no whole number\n", RegionListCode);
        }
        input.RegionCodes.push_back(code);
    }
    const int read = static_cast<int>(input.RegionCodes.size());
    if (read != RegionCount) {
        if (Owner->Writer) {
            *Owner->Writer << "FATAL: " << where << "\nThe number of regions here (" << read
                           << ") does not equal the number of" << "\nregions in the regiongrid (" << RegionCount
                           << ")\n" << "[end-entry]";
        }
        throw RegionListCode;
    }
    const int p = FirstMisplacedRegion(input.RegionCodes, RegionRank, LargestRegionCode);
    if (p > 0) {
        const int code = input.RegionCodes[static_cast<size_t>(p - 1)];
        if (Owner->Writer) {
            DiagnosticsWriter& w = *Owner->Writer;
            w << "FATAL: " << where << "\nregion on position " << p;
            if (RankOfCode(code, RegionRank, LargestRegionCode) == 0) {
                w << " was read as " << code << "\nThere is now region with this code in the region grid\n"
                  << "\nOnly the region codes from the region grid must be listet in ascending order here\n";
            } else {
                w << " in the region list should have value " << CodeOfRank(p, RegionRank, LargestRegionCode)
                  << "\nbut was read as " << code << "\nAll regions must be listet in ascending order here\n";
            }
            w << "regardless of their actual weight for this superposition instance\n" << "[end-entry]";
        }
        throw RegionListCode;
    }

    const std::string weightsWhere = "\nerror reading weights for regions in " + Owner->ModuleName +
                                     " entity: " + Name + ", inputgrid " + input.GridName;
    const KeyValue weights = FindKeyValue(body, "weights");
    if (weights.KeyFound) body.erase(0, std::min(body.size(), weights.After + 1));
    items.clear();
    if (weights.KeyFound) {
        const KeyValue listed = FindKeyValue(body, "");
        if (listed.HasValue) items = ListItems(listed.Value);
    }
    for (const std::string& item : items) {
        double weight = 0;
        if (!ParseDouble(item, &weight)) {
            Fatal(weightsWhere + "\nthe weight \"" + item + "\" is no number\n", WeightListCode);
        }
        input.Weights.push_back(weight);
    }
    const int weightCount = static_cast<int>(input.Weights.size());
    if (weightCount != RegionCount) {
        if (Owner->Writer) {
            *Owner->Writer << "FATAL: " << weightsWhere << "\nThe number of regions (" << RegionCount
                           << ") does not equal the number of weights (" << weightCount << ")\n" << "[end-entry]";
        }
        throw WeightListCode;
    }
    Inputs.push_back(std::move(input));
}

void cSuperposition::CheckWeightSums() {
    if (RegionCount <= 0) return;
    std::vector<const std::vector<double>*> lists;
    for (const SuperpositionInput& input : Inputs) lists.push_back(&input.Weights);
    double sum = 0;
    const int k = superposition::FirstUnbalancedRank(lists, RegionCount, &sum);
    if (k == 0) return;
    if (Owner->Writer) {
        *Owner->Writer << "FATAL: " << "\nerror reading weights for regions in " << Owner->ModuleName
                       << "\nentity: " << Name << "\nregion " << k << ": The sum of all weights is not 1.0 but "
                       << sum << " \n" << "[end-entry]";
    }
    throw WeightListCode;
}

void cSuperposition::ParseOutputKeys(const std::string& rest) {
    using namespace superposition;
    auto value = [&](const char* key, const char* what) {
        const KeyValue found = FindKeyValue(rest, key);
        const std::string word = FirstWord(found.Value);
        if (word.empty()) {
            Fatal(std::string("error in control file, \"") + key + "\" = " + what + "; of entity " + Name +
                      "; " + Owner->ModuleName + "not found!",
                  ControlFileCode);
        }
        return word;
    };
    auto integer = [&](const char* key) {
        const std::string word = value(key, "integer");
        int number = 0;
        if (!ParseInt(word, &number)) {
            Fatal(std::string("error in control file, \"") + key + "\" = integer; of entity " + Name +
                      " (read \"" + word + "\"); " + Owner->ModuleName + "not found!",
                  ControlFileCode);
        }
        return number;
    };
    OutputGridName = value("outputgrid", "grid name");
    WriteCode = integer("writecode");
    OutputTable = value("outputtable", "file name");
    StatisticsCode = integer("statcode");
}

void cSuperposition::CreateOutputGrid() {
    const int index = FindFreeGridEntry(Owner->GridTable);
    if (index < FirstGridIndex || index > LastGridIndex) {
        if (Owner->Writer) {
            *Owner->Writer << "FATAL: no free grid anymore, allowed number of grids is " << 1000 << "!"
                           << "[end-entry]";
        }
        throw GridTableFullCode;
    }
    const int processRegions = Owner->FindGrid("MPIRegions");
    ProcessRegions = processRegions > 0 ? Owner->GridTable[processRegions].Data : nullptr;
    const int helper = Owner->FindGrid("MPIHelper");
    Helper = helper > 0 ? Owner->GridTable[helper].Data : nullptr;

    OutputGrid = Owner->matrix(1, Rows, 1, Cols, Rows);
    for (int32_t row = 1; row <= Rows; ++row) {
        for (int32_t col = 1; col <= Cols; ++col) OutputGrid[row][col] = Counted(row, col) ? 0.0 : NoData;
    }
    Owner->StoreGrid(index, OutputGridName, OutputGrid, nullptr, 1, OutputGridName, WriteCode, 1, Rows);
    OutputGridIndex = index;
}

void cSuperposition::CreateStatistics() {
    const ModelSettings& s = Owner->Settings;
    const int zoneCount = s.Zones ? s.ZoneCount : 0;
    StatisticsZones.assign(static_cast<size_t>(zoneCount) + 1, ZoneRecord{});
    for (int z = 0; z <= zoneCount && s.Zones; ++z) {
        ZoneRecord& copy = StatisticsZones[static_cast<size_t>(z)];
        copy.zonenwert = s.Zones[z].zonenwert;
        copy.rel = s.Zones[z].rel;
        copy.RelCellSum = s.Zones[z].RelCellSum;
    }
    int status = 0;
    std::string fileName = OutputTable;
    Statistics = std::make_unique<zonalstatistic>(
        &status, Owner->Writer, Owner->StatisticsTable, Owner->StatisticsTableSize, Owner->RelCellArea, Rows, Cols,
        s.Zones ? StatisticsZones.data() : nullptr, zoneCount, StatisticsCode, StatisticsPrecision, fileName,
        s.DefaultOutputDirectory, s.OutputListCount, s.OutputListCodes);
    if (status != 0) throw status;
    Statistics->WriteHeader(Name, Owner->ModuleName);
}

void cSuperposition::TakeRegionLayers() {
    if (RegionCount <= 0) return;
    const int layers = std::min(RegionCount, 3);
    for (int l = 0; l < layers; ++l) {
        RegionLayer layer;
        layer.RegionIndex = RequiredGrid(LayerRegionNames[l]);
        layer.WeightIndex = RequiredGrid(LayerWeightNames[l]);
        layer.Regions = Owner->GridTable[layer.RegionIndex].Data;
        layer.Weights = Owner->GridTable[layer.WeightIndex].Data;
        Layers.push_back(layer);
    }
}

int cSuperposition::RequiredGrid(const std::string& name) const {
    const int index = Owner->FindGrid(name);
    if (index > 0) return index;
    // Not there at all: the grid table's own report.
    Owner->GetGridIndex(name);
    Fatal(name + " is registered in the grid table without a grid, but " + Owner->ModuleName +
              " entity " + Name + " needs its values",
          MissingGridCode);
}

bool cSuperposition::Counted(int32_t row, int32_t col) const {
    if (ZoneGrid[row][col] == NoData) return false;
    return !ProcessRegions || ProcessRegions[row][col] == InstanceNumber;
}

int cSuperposition::ZoneRankOf(int32_t row, int32_t col) const {
    const ModelSettings& s = Owner->Settings;
    const double code = ZoneCodeOf(ZoneGrid[row][col]);
    if (!s.ZoneRank || !(code >= 0 && code <= s.MaxZoneCode)) return -1;
    return s.ZoneRank[static_cast<int>(code)];
}

void cSuperposition::Superpose(int64_t hour, int64_t day, int64_t month, int64_t year) {
    Year = static_cast<int32_t>(year);
    Month = static_cast<int32_t>(month);
    Day = static_cast<int32_t>(day);
    Hour = static_cast<int32_t>(hour);
    if (Statistics) Statistics->ResetStep();
    // The input grids as the grid table holds them now.
    for (SuperpositionInput& input : Inputs) {
        input.Grid = Owner->GridTable[input.GridIndex].Data;
        if (!input.Grid) input.Grid = Owner->GridTable[RequiredGrid(input.GridName)].Data;
    }
    const auto [row, col] = SuperposeCells();
    if (row == 0) return;
    if (Owner->Writer) {
        *Owner->Writer << "FATAL: " << "\nerror in " << Owner->ModuleName << " entity: " << Name
                       << "\nthe region grids hold a region code without a region at row " << row << ", column "
                       << col << "\n" << "[end-entry]";
    }
    throw RegionListCode;
}

std::pair<int32_t, int32_t> cSuperposition::SuperposeCells() {
    const size_t inputCount = Inputs.size();
    std::vector<const double*> weights(inputCount);
    for (size_t i = 0; i < inputCount; ++i) weights[i] = Inputs[i].Weights.data();
    // Per row the first column whose region code has no rank (0: none).
    std::vector<int32_t> badColumn(static_cast<size_t>(std::max(Rows, 0)) + 1, 0);
    const int layerCount = static_cast<int>(Layers.size());

#pragma omp parallel for schedule(static, 1)
    for (int32_t row = 1; row <= Rows; ++row) {
        std::vector<double> values(inputCount);
        superposition::LayerSample samples[3];
        const RowExtent extent = Extents[static_cast<size_t>(row)];
        for (int32_t col = extent.first; col <= extent.last; ++col) {
            if (!Counted(row, col)) continue;
            for (size_t i = 0; i < inputCount; ++i) values[i] = Inputs[i].Grid[row][col];
            bool bad = false;
            for (int l = 0; l < layerCount; ++l) {
                const int64_t code = superposition::RegionCodeOf(Layers[l].Regions[row][col]);
                samples[l] = {};
                if (code <= 0) continue;
                const int rank = superposition::RankOfCode(code, RegionRank, LargestRegionCode);
                if (rank < 1 || rank > RegionCount) {
                    bad = true;
                    continue;
                }
                samples[l] = {rank, Layers[l].Weights[row][col]};
            }
            if (bad && badColumn[static_cast<size_t>(row)] == 0) badColumn[static_cast<size_t>(row)] = col;
            OutputGrid[row][col] = superposition::SuperposedValue(
                values, weights, std::span<const superposition::LayerSample>(samples, static_cast<size_t>(layerCount)));
        }
    }
    for (int32_t row = 1; row <= Rows; ++row) {
        if (badColumn[static_cast<size_t>(row)] != 0) return {row, badColumn[static_cast<size_t>(row)]};
    }
    return {0, 0};
}

void cSuperposition::WriteOutput() {
    if (OutputGridIndex > 0 && OutputGrid) Owner->WriteGridByCode(OutputGridIndex, true, false);
    if (!Statistics || !Statistics->IsOn()) return;
    int64_t cells = 0;
    for (int32_t row = 1; row <= Rows; ++row) {
        const RowExtent extent = Extents[static_cast<size_t>(row)];
        if (extent.last >= extent.first) cells += extent.last - extent.first + 1;
    }
    // Rows' sums in parallel, folded in row order by CloseStep.
#pragma omp parallel for schedule(static, 1) if (WorthThreads(cells))
    for (int32_t row = 1; row <= Rows; ++row) {
        const RowExtent extent = Extents[static_cast<size_t>(row)];
        for (int32_t col = extent.first; col <= extent.last; ++col) {
            if (!Counted(row, col)) continue;
            const int rank = ZoneRankOf(row, col);
            if (rank < 1) continue;
            Statistics->AddToRow(row, col, rank, OutputGrid[row][col], 1.0);
        }
    }
    Statistics->CloseStep(Year, Month, Day, Hour);
}

void cSuperposition::FlushStatistics() {
    if (Statistics) Statistics->Flush();
}

void cSuperposition::Release() {
    Released = true;
    if (OutputGridIndex >= FirstGridIndex && OutputGridIndex <= LastGridIndex && Owner->GridTable &&
        Owner->GridTable[OutputGridIndex].Data == OutputGrid) {
        Owner->ReleaseGrid(OutputGridIndex);
    }
    OutputGridIndex = 0;
    if (OutputGrid) Owner->free_matrix(OutputGrid, 1, Rows, 1, Cols);
    OutputGrid = nullptr;
    if (Statistics) {
        std::unique_ptr<zonalstatistic> statistics = std::move(Statistics);
        statistics->Close();
    }
    StatisticsZones.clear();
}

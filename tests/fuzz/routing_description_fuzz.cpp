// The routing model's set-up on any "[routing_model]" section, with eight
// subbasins: the set-up ends with status 0 or a code (thrown by the sub-model
// base for its own lines), never a crash, and a model it built can be torn
// down.

#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "framework/diagnostics_writer.h"
#include "framework/gridtable.h"
#include "framework/memory_handling.h"
#include "framework/model_settings.h"
#include "framework/statistics_table.h"
#include "framework/zonetable.h"
#include "routing/abfluss.h"

namespace {

struct World {
    std::vector<ZoneRecord> Records;
    std::vector<int> CodeToRank;
    SubbasinTable Subbasins;
    ModelSettings Settings;
    memory_handling Memory;
    std::unique_ptr<MemoryGrid[]> Table = CreateGridTable();
    double** ZoneGrid = nullptr;
    std::string Directory;

    World() {
        const int codes[8] = {1, 2, 3, 12, 13, 14, 20, 30};
        const double fractions[8] = {0.0549, 0.0278, 0.0499, 0.05, 0.03, 0.01, 0.1, 0.6774};
        CodeToRank.assign(31, 0);
        Records.assign(9, ZoneRecord{});
        Records[0].zonenwert = 1;
        Records[0].rel = 100;
        for (int i = 0; i < 8; ++i) {
            Records[static_cast<size_t>(i + 1)].zonenwert = codes[i];
            Records[static_cast<size_t>(i + 1)].rel = fractions[i];
            Records[static_cast<size_t>(i + 1)].n = Records[static_cast<size_t>(i + 1)].sx =
                Records[static_cast<size_t>(i + 1)].RelCellSum = 1;
            CodeToRank[static_cast<size_t>(codes[i])] = i + 1;
        }
        Subbasins = SubbasinTable{Records.data(), CodeToRank.data(), 8, 30};
        Settings.NRows = 3;
        Settings.NCols = 4;
        Settings.FirstRow = 1;
        Settings.LastRow = 3;
        Settings.CellSize = 100;
        Settings.NoData = -9999;
        Settings.StartYear = 2020, Settings.StartMonth = 1, Settings.StartDay = 1, Settings.StartHour = 1;
        Settings.EndYear = 2020, Settings.EndMonth = 1, Settings.EndDay = 2, Settings.EndHour = 0;
        ZoneGrid = Memory.matrix(1, 3, 1, 4, 3);
        for (int r = 1; r <= 3; ++r)
            for (int c = 1; c <= 4; ++c) ZoneGrid[r][c] = 1;
        Table[1].Data = ZoneGrid;
        Table[1].InternalName = "zone_grid";
        Table[1].EverUsed = true;
        char pattern[] = "/tmp/ruvex_fuzz_XXXXXX";
        if (!mkdtemp(pattern)) std::abort();
        Directory = pattern;
        if (chdir(Directory.c_str()) != 0) std::abort();
        Settings.CompiledControlFile = Directory + "/model.ctl";
    }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static World world;
    FILE* f = std::fopen(world.Settings.CompiledControlFile.c_str(), "wb");
    if (!f) std::abort();
    const std::string head = "[output_interval]\n24\n0\n1\n0\n";
    std::fwrite(head.data(), 1, head.size(), f);
    std::fwrite(data, 1, size, f);
    std::fclose(f);
    std::ostringstream console;
    DiagnosticsWriter writer(world.Directory + "/d.xml", DiagFatal, console);
    StatisticsTableEntry statistics[StatisticsTableSize + 1] = {};
    int status = -1;
    // The sub-model base reads the section's first lines in its own
    // constructor and throws its code, as the application expects.
    try {
        auto routing = std::make_unique<abflussmodellklasse>(&status, &writer, statistics, StatisticsTableSize,
                                                             "routing_model", world.Settings, world.Table.get(),
                                                             world.Subbasins, 0, nullptr, 0);
        if (status == 0) routing->DeleteModule();
    } catch (int) {
    }
    return 0;
}

// Tracers through the whole model on a piece of the example basin, the
// application stepped in this process: the load of a conservative tracer
// closes over every storage that holds it; a tracer that enters everywhere at
// one concentration leaves every sub-model at that concentration; a
// radioactive tracer held where no water moves decays with its half-life in
// every sub-model, whatever step length that sub-model keeps.

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <sstream>
#include <string>

#include "app/modapuzr.h"
#include "framework/diagnostics_writer.h"
#include "framework/gridtable.h"
#include "soil/example_basin_copy.h"
#include "soil/unsatzon.h"
#include "support/test_support.h"
#include "support/tracer_ledger.h"

using namespace testsupport;

namespace {

// Rows 15 to 26 and columns 18 to 37 of the example: the three subbasins
// meet there.
constexpr int FirstRow = 15, FirstColumn = 18, Rows = 12, Columns = 20;

void Replace(std::string& text, const std::string& from, const std::string& to) {
    const size_t at = text.find(from);
    ASSERT_NE(at, std::string::npos) << from;
    text.replace(at, from.size(), to);
}

// A grid of the cropped window with one value everywhere.
std::string UniformGrid(const TempDir& dir, double value) {
    std::istringstream in(ReadFile(dir.file("input/zones.asc")));
    std::ostringstream out;
    std::string line;
    for (int k = 0; k < 6 && std::getline(in, line); ++k) out << line << "\n";
    char cell[64];
    std::snprintf(cell, sizeof cell, "%.17g", value);
    for (int r = 0; r < Rows; ++r) {
        for (int c = 0; c < Columns; ++c) out << (c ? " " : "") << cell;
        out << "\n";
    }
    return out.str();
}

// The tracers of a run: each line of the control file's tracer section and
// the concentration of its input grid.
struct Tracer {
    std::string Line;
    double Input = 0;
};

struct Basin {
    int EndHour = 24, EndDay = 3, EndMonth = 6, StartDay = 1, StartMonth = 6;
    std::vector<Tracer> Tracers;
    std::function<void(std::string&)> Edit;
};

void WriteBasin(const TempDir& dir, const Basin& basin) {
    soiltest::CopyExampleInputs(dir);
    soiltest::CropExampleGrids(dir, FirstRow, FirstColumn, Rows, Columns);
    std::string control =
        soiltest::ExampleControl(basin.EndHour, basin.EndDay, basin.EndMonth, basin.StartDay, basin.StartMonth);
    ASSERT_FALSE(control.empty());
    control = SetSectionSwitch(control, "special_output", 0);
    control = SetSectionSwitch(control, "irrigation", 0);
    std::string section = "[substance_transport]\n" + std::to_string(basin.Tracers.size()) + "\n";
    std::string grids;
    for (size_t k = 0; k < basin.Tracers.size(); ++k) {
        section += basin.Tracers[k].Line + "\n";
        const std::string file = "tracer_" + std::to_string(k + 1) + ".asc";
        WriteFile(dir.file("input/" + file), UniformGrid(dir, basin.Tracers[k].Input));
        grids += file + " concflux_tracer_" + std::to_string(k + 1) +
                 "_input fillcode = 0 writecode = 0 statfile = " + file + ".sta statcode = 0\n";
    }
    Replace(control, "[substance_transport]\n0\n", section);
    control = AddStandardGrids(control, grids);
    if (basin.Edit) basin.Edit(control);
    WriteFile(dir.file("basin.ctl"), control);
}

// The application of a written basin, initialised in the basin's directory
// and stepped by Run.
struct InProcessRun {
    explicit InProcessRun(const TempDir& dir) : Dir(dir) { std::filesystem::current_path(dir.path()); }
    ~InProcessRun() {
        App.AfterTimeStep = nullptr;
        App.ClearMemory();
        std::filesystem::current_path(Previous);
    }
    int Init() {
        std::string program = "ruvex", file = "basin.ctl";
        char* argv[] = {program.data(), file.data(), nullptr};
        try {
            App.init(&Writer, 2, argv, 1);
        } catch (int thrown) {
            return thrown;
        }
        return 0;
    }
    int Run() {
        try {
            App.run();
        } catch (int thrown) {
            return thrown;
        }
        return 0;
    }
    double** Grid(const std::string& name) {
        const int k = FindGridEntry(App.GridTable.get(), name, true);
        return k > 0 ? App.GridTable[k].Data : nullptr;
    }
    const TempDir& Dir;
    std::filesystem::path Previous = std::filesystem::current_path();
    std::ostringstream Console;
    DiagnosticsWriter Writer{Dir.file("diag.xml"), DiagDebug, Console};
    ModellApplication App;
};

const char* Conservative =
    "chloride non_radioactive non_evaporating min_conc = 0 max_conc = 1e9 mg/l soilini = 0.5 gwini = 0.5 "
    "statcode = 0 gridcode = 0 path = output/ statext = sta gridext = asc";

}  // namespace

// Three days of June from a cold start (one under the sanitizers): rain on
// the first days, the soil draining and the subbasins' storages receding.
TEST(TracerLedger, ConservativeLoadClosesOverEveryStorage) {
    TempDir dir;
    Basin basin;
#ifdef RUVEX_SANITIZED
    basin.EndDay = 1;
#endif
    basin.Tracers = {{Conservative, 2.0}};
    WriteBasin(dir, basin);
    if (HasFatalFailure()) return;
    InProcessRun run(dir);
    ASSERT_EQ(run.Init(), 0) << run.Console.str();
    tracerledger::TracerLedger ledger(run.App, 1);
    run.App.AfterTimeStep = [&] { ledger.Step(); };
    ASSERT_EQ(run.Run(), 0) << run.Console.str();
    std::printf("%s", ledger.Table().c_str());
    EXPECT_GT(ledger.In(), 0);
    EXPECT_GT(ledger.Out(), 0);
    EXPECT_LT(std::fabs(ledger.RelativeResidual()), 1e-9) << ledger.Table();
}

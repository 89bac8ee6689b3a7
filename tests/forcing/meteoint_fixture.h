#pragma once
// A meteorological input on a small model grid, for the tests of the input's
// construction, clock and time step: the grid table with the grids the input
// takes from the set-up, the zone table, the model settings and a control
// file in a temporary directory.
//
// The grid is the example basin's: 4 columns, 3 rows, lower-left corner
// (1000, 2000), cells of 100 m, zones
//   -9999 1 1 2
//       1 1 2 2
//   -9999 1 2 -9999
// and elevations
//   -9999 500 520 610
//     480 505 600 640
//   -9999 470 580 -9999
// CoordX and CoordY are the cells' lower-left corners: column c has x =
// 900 + 100 c, row r has y = 2300 - 100 r.

#include <cstdint>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "forcing/meteoint.h"
#include "forcing/meteoint_files.h"
#include "framework/diagnostics_writer.h"
#include "framework/gridtable.h"
#include "framework/statistics_table.h"
#include "framework/zonetable.h"
#include "setup/setup_test_grid.h"
#include "support/test_support.h"

namespace meteotest {

constexpr double G = -9999;

struct StationPlace {
    double X = 0, Y = 0, Z = 0;
};

struct StationRow {
    MeteoDate Date;
    std::vector<double> Values;
};

// A station file: a title, the altitudes, x and y of the stations after four
// labels (and `extraColumns` more), a line of names, then the rows.
std::string StationText(const std::vector<StationPlace>& stations, const std::vector<StationRow>& rows,
                        int extraColumns = 0);

// `count` daily dates from `first` (hour kept), with leap years.
std::vector<MeteoDate> DailyDates(MeteoDate first, int count);

// Daily rows from `first`, every station with the value of `value(day index,
// station index from 1)`.
template <typename F>
std::vector<StationRow> DailyRows(MeteoDate first, int count, int stations, F value) {
    std::vector<StationRow> rows;
    int day = 0;
    for (const MeteoDate& date : DailyDates(first, count)) {
        StationRow row{date, {}};
        for (int s = 1; s <= stations; ++s) row.Values.push_back(value(day, s));
        rows.push_back(row);
        ++day;
    }
    return rows;
}

// The lines of an input's section, all positional; defaults make an
// inverse-distance input of "stations.txt" without limits or scenarios.
struct Section {
    int Method = 1;
    std::string StationLine = "stations.txt";
    std::string SecondStationLine;   // methods 6 and 8
    std::string ThirdLine = "none";  // regression file, or the method's parameter line
    std::string ResultName = "result.asc";
    int WriteCode = 0;
    std::string Scaling = "1";
    std::string StatisticsLine = "result.sta 0";
    std::string NoData = "9999";
    std::string Weight = "2";
    std::string Fraction = "0.5";
    std::string MaxDistance = "1e6";
    std::string Slope = "0";
    std::string Ratio = "1";
    std::string Limits = "-1e9\n-1e9\n1e9\n1e9\n";  // lower, its replacement, upper, its replacement
    std::string Scenario = "0\n";                   // SzenUse and what follows it

    std::string Text(const std::string& name) const;
};

class InputFixture {
public:
    // Daily steps at hour 24 from 1.1.2020 to 10.1.2020.
    InputFixture();
    ~InputFixture();

    // Writes the control file "model.ctl".
    void Control(const std::string& text);
    // Writes a file into the input directory.
    void Input(const std::string& name, const std::string& content);
    // The input `name` in the first free grid-table entry; a failed
    // construction fails the test (status checked by the caller).
    std::unique_ptr<meteointerpol> Make(const std::string& name, int* status);
    // The code a construction throws, 0 when it succeeds.
    int ConstructionCode(const std::string& name);
    // A grid the grid table holds, stored in the next free entry.
    void AddGrid(const std::string& internalName, setuptest::Grid& grid);
    std::string Console() const { return console.str(); }
    // Descriptions of every entry of the diagnostics file at the level.
    std::vector<std::string> Entries(int level);

    testsupport::TempDir dir;
    std::ostringstream console;
    DiagnosticsWriter writer;
    std::unique_ptr<MemoryGrid[]> table = CreateGridTable();
    StatisticsTableEntry statistics[StatisticsTableSize + 1] = {};
    ModelSettings settings;
    ZoneTable zones;
    setuptest::Grid zone{{G, 1, 1, 2}, {1, 1, 2, 2}, {G, 1, 2, G}};
    setuptest::Grid elevation{{G, 500, 520, 610}, {480, 505, 600, 640}, {G, 470, 580, G}};
    setuptest::Grid relCellArea{3, 4, 1.0};
    setuptest::Grid coordX{3, 4};
    setuptest::Grid coordY{3, 4};
    setuptest::Grid regions{3, 4, 0.0};
};

// The grid of an ASCII grid file as text, 1-based, with its header values.
struct TextGrid {
    int Cols = 0, Rows = 0;
    double Xll = 0, Yll = 0, CellSize = 0, NoData = 0;
    std::vector<std::vector<double>> Cells;  // [row][col], both from 1
    double at(int row, int col) const { return Cells[static_cast<size_t>(row)][static_cast<size_t>(col)]; }
};
TextGrid ReadTextGrid(const std::string& path);

// The data rows of a statistics file (three header lines skipped), each as
// its numbers.
std::vector<std::vector<double>> StatisticsRows(const std::string& path);

template <typename F>
int ThrownCode(F f) {
    try {
        f();
    } catch (int code) {
        return code;
    }
    return 0;
}

}  // namespace meteotest

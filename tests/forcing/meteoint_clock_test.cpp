// The clock of a meteorological input (current date, advancing, end of data,
// rewinding, stopping) and the failures of its construction and its steps.

#include <gtest/gtest.h>

#include <functional>

#include "forcing/meteoint.h"
#include "forcing/meteoint_files_station.h"
#include "forcing/meteoint_fixture.h"
#include "framework/gridtable.h"

using namespace meteotest;

namespace {

const std::vector<StationPlace> Two = {{1100, 2200, 500}, {1300, 2000, 650}};
const MeteoDate Start{2020, 1, 1, 24};

std::string DailyStations(int days, MeteoDate first = Start) {
    return StationText(Two, DailyRows(first, days, 2, [](int day, int s) { return day + 0.5 * s; }));
}

MeteoDate DateOf(meteointerpol& input) {
    int64_t h, d, m, y;
    input.GetActualDate(&h, &d, &m, &y);
    return {y, m, d, h};
}

// Steps the input as the application does until its data end; returns the
// dates of the steps.
std::vector<MeteoDate> StepToTheEnd(meteointerpol& input) {
    std::vector<MeteoDate> dates;
    do {
        const MeteoDate date = DateOf(input);
        input.InterpolateStep(date.Hour, date.Day, date.Month, date.Year);
        dates.push_back(date);
        input.ReadNextStep();
    } while (!input.EndOfData());
    return dates;
}

std::unique_ptr<meteointerpol> Build(InputFixture& f, const Section& section, const std::string& stations) {
    f.Control(section.Text("temperature"));
    f.Input("stations.txt", stations);
    int status = -1;
    auto input = f.Make("temperature", &status);
    EXPECT_EQ(status, 0);
    return input;
}

}  // namespace

// Ten daily steps from the start to the end date, whatever the file holds
// after it; a rewind gives the same dates again; a file that ends early ends
// the data after its last row; a stop at the current date ends them at once.
TEST(MeteoClock, StepsRewindsAndStops) {
    InputFixture f;
    auto input = Build(f, Section(), DailyStations(40));
    const auto dates = StepToTheEnd(*input);
    EXPECT_EQ(dates, DailyDates(Start, 10));
    for (int pass = 0; pass < 2; ++pass) {
        input->ResetToStart();
        input->ReadNextStep();
        EXPECT_FALSE(input->EndOfData());
        EXPECT_EQ(StepToTheEnd(*input), dates);
    }
    input->DeleteModule();

    InputFixture shorter;
    auto early = Build(shorter, Section(), DailyStations(7));
    EXPECT_EQ(StepToTheEnd(*early), DailyDates(Start, 7));

    InputFixture stopped;
    auto stop = Build(stopped, Section(), DailyStations(40));
    for (int k = 0; k < 3; ++k) stop->ReadNextStep();
    stop->StopAtActualDate();
    const MeteoDate at = DateOf(*stop);
    stop->ReadNextStep();
    EXPECT_TRUE(stop->EndOfData());
    EXPECT_EQ(DateOf(*stop), at);
}

// An input that starts after the model's first step, or skips a day, stands
// on another date than the first input: code 52.
TEST(MeteoClock, InputsOnDifferentDates) {
    InputFixture f;
    Section section;
    Section other = section;
    other.StationLine = "other.txt";
    f.Control(section.Text("temperature") + other.Text("precipitation"));
    f.Input("stations.txt", DailyStations(10));
    auto rows = DailyRows(Start, 10, 2, [](int day, int) { return day; });
    rows.erase(rows.begin() + 3);
    f.Input("other.txt", StationText(Two, rows));
    int status = -1;
    auto first = f.Make("temperature", &status);
    auto second = f.Make("precipitation", &status);
    ASSERT_EQ(status, 0);
    const int code = ThrownCode([&] {
        for (int k = 0; k < 10; ++k) {
            const MeteoDate date = DateOf(*first);
            first->InterpolateStep(date.Hour, date.Day, date.Month, date.Year);
            second->InterpolateStep(date.Hour, date.Day, date.Month, date.Year);
            first->ReadNextStep();
            second->ReadNextStep();
        }
    });
    EXPECT_EQ(code, 52);
    EXPECT_NE(f.Console().find("error in date columns of precipitation\n\nfirst Meteo data set (this is the set from "
                               "which data is get:\n4.1.2020 24. h\n\nbut in precipitation:\n5.1.2020 24. h"),
              std::string::npos);
}

// Method 3: a regression file that misses a day of the station file, and
// methods 6: two station files that disagree.
TEST(MeteoClock, FilesOfOneInputDisagree) {
    {
        InputFixture f;
        Section section;
        section.Method = 3;
        section.ThirdLine = "regression.txt";
        std::string regression = "jr mo\n";
        for (int day : {1, 2, 4, 5})
            regression += "2020 1 " + std::to_string(day) + " 24 10 0 0 10 0 0 10 0 -10000 0 0\n";
        f.Input("regression.txt", regression);
        auto input = Build(f, section, DailyStations(10));
        input->ReadNextStep();
        EXPECT_EQ(ThrownCode([&] { input->ReadNextStep(); }), 52);
        EXPECT_NE(f.Console().find("error in date column of temperature for IDW*Regress"), std::string::npos);
    }
    const std::vector<StationPlace> moved = {{1100, 2200, 500}, {1300, 2001, 650}};
    struct Case {
        const char* what;
        std::string second;
        bool atConstruction;
        const char* message;
    } cases[] = {
        {"station count", StationText({Two[0]}, DailyRows(Start, 10, 1, [](int, int) { return 0.0; })), true,
         "contain a different number of stations \n(1 and 2, resp.)"},
        {"coordinates", StationText(moved, DailyRows(Start, 10, 2, [](int, int) { return 0.0; })), true,
         "Altitude and/or coordinates of station 2 are different"},
        {"dates", StationText(Two, DailyRows({2020, 1, 1, 24}, 2, 2, [](int, int) { return 0.0; })), false,
         "error reading date from stationfiles:"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        InputFixture f;
        Section section;
        section.Method = 6;
        section.SecondStationLine = "gradients.txt";
        f.Control(section.Text("temperature"));
        f.Input("stations.txt", DailyStations(10));
        f.Input("gradients.txt", c.second);
        if (c.atConstruction) {
            EXPECT_EQ(f.ConstructionCode("temperature"), 73);
        } else {
            int status = -1;
            auto input = f.Make("temperature", &status);
            input->ReadNextStep();
            EXPECT_EQ(ThrownCode([&] { input->ReadNextStep(); }), 73);
        }
        EXPECT_NE(f.Console().find(c.message), std::string::npos);
    }
}

// What ends a construction, with its code and the start of its entry.
TEST(MeteoClock, ConstructionFailures) {
    struct Case {
        const char* what;
        std::function<void(Section&)> change;
        std::string stations;
        int code;
        const char* message;
    } cases[] = {
        {"start date missing", [](Section&) {}, DailyStations(5, {2020, 1, 2, 24}), 51,
         " dosnt contain date 1.1.2020, hour 24(feof)!"},
        {"station file missing", [](Section& s) { s.StationLine = "absent.txt"; }, DailyStations(5), 49,
         "error opening"},
        {"method 0", [](Section& s) { s.Method = 0; }, "", 53,
         "interpolation method has to range from 1..12 (here: 0)"},
        {"method 13", [](Section& s) { s.Method = 13; }, "", 53, "(here: 13)"},
        {"splines without a mesh", [](Section& s) { s.Method = 7; },
         StationText({{1000, 2000, 0}, {1000, 2200, 0}, {1000, 2400, 0}, {1200, 2000, 0}, {1200, 2200, 0},
                      {1200, 2400, 0}, {1400, 2000, 0}, {1400, 2200, 0}},
                     DailyRows(Start, 5, 8, [](int, int) { return 1.0; })),
         70, "Error converting the station coordinates into a grid"},
        {"no station file line", [](Section& s) { s.StationLine = ""; }, "", 49,
         "error reading station data file name nr. 0 for interpolation of temperature"},
        {"bad additional columns", [](Section& s) { s.StationLine = "stations.txt AdditionalColumns=x"; },
         DailyStations(5), 49, "\"AdditionalColumns=\" must be followed by a count"},
        {"lapse rate with two values", [](Section& s) { s.Method = 12, s.ThirdLine = "-0.0065 1000 lapse"; },
         DailyStations(5), 49, "error reading the required parameter \"lapse rate\""},
        {"four GIF parameters", [](Section& s) { s.Method = 9, s.ThirdLine = "1 2 3 4"; }, "", 49,
         "error reading the required 5 GIF-Mapping parameters"},
        {"four regression parameters", [](Section& s) { s.Method = 10, s.ThirdLine = "100 2000 50 1"; }, "", 49,
         "error reading the required 5 or 6 regression parameters"},
        {"unreadable scaling", [](Section& s) { s.Scaling = "abc"; }, DailyStations(5), 17,
         "error in control file, scaling factor for ; temperaturenot found!"},
        {"nodata bound not positive", [](Section& s) { s.NoData = "0"; }, DailyStations(5), 17,
         "nodata value in [temperature]"},
        {"missing statistics code", [](Section& s) { s.StatisticsLine = "result.sta"; }, DailyStations(5), 17,
         "name of the statistic result file in ; temperaturenot found!"},
        {"SzenMeth out of range", [](Section& s) { s.Scenario = "1\n9\n"; }, DailyStations(5), 17,
         "SzenMeth in [temperature]: allowed are 0 to 6, read 9"},
        {"eleven scenario grids", [](Section& s) { s.Scenario = "1\n5\na\nb\nc\nd\ne\nf\ng\nh\ni\nj\nk\n"; },
         DailyStations(5), 17, "scenario grid for month 12 in temperature not found!"},
        {"scenario row", [](Section& s) { s.Scenario = "1\n0\n1\n1000 2000 1 1 x 1 1 1 1 1 1 1 1 1\n"; },
         DailyStations(5), 48, "scenario-data row 1, column 5 in temperature: read error!"},
        {"slope", [](Section& s) { s.Slope = "90.0001", s.Ratio = "0.5"; }, DailyStations(5), 54,
         "anisotropy slope has to range from -90 to +90 degree"},
        {"ratio 0", [](Section& s) { s.Ratio = "0"; }, DailyStations(5), 54, "ratio of anisotropy has to range"},
        {"ratio above 1", [](Section& s) { s.Ratio = "1.5"; }, DailyStations(5), 54,
         "ratio of anisotropy has to range"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        InputFixture f;
        Section section;
        c.change(section);
        f.Control(section.Text("temperature"));
        if (!c.stations.empty()) f.Input("stations.txt", c.stations);
        EXPECT_EQ(f.ConstructionCode("temperature"), c.code);
        EXPECT_NE(f.Console().find(c.message), std::string::npos) << f.Console();
        // Nothing of the input is left in the grid table.
        EXPECT_EQ(FindGridEntry(f.table.get(), "temperature", false), 0);
        EXPECT_EQ(f.table[7].Data, nullptr);
    }

    InputFixture missingSection;
    missingSection.Control("[other]\n1\n");
    EXPECT_EQ(missingSection.ConstructionCode("temperature"), 17);
    EXPECT_NE(missingSection.Console().find("error in control file, [temperature]; (EOF)not found!"),
              std::string::npos);

    InputFixture noArea;
    noArea.table[static_cast<size_t>(FindGridEntry(noArea.table.get(), "RelCellArea", true))].InternalName = "Other";
    noArea.Control(Section().Text("temperature"));
    noArea.Input("stations.txt", DailyStations(5));
    EXPECT_EQ(noArea.ConstructionCode("temperature"), 74);
    EXPECT_NE(noArea.Console().find("Ruvex-QOR no longer works without a RelCellArea-Grid."), std::string::npos);
}

// Additional columns between the date and the values are skipped.
TEST(MeteoClock, AdditionalColumns) {
    InputFixture f;
    Section section;
    section.StationLine = "stations.txt  comment AdditionalColumns= 2 more comment";
    auto input =
        Build(f, section, StationText(Two, DailyRows(Start, 3, 2, [](int day, int s) { return day + 0.5 * s; }), 2));
    ASSERT_NE(input, nullptr);
    input->ReadNextStep();
    EXPECT_EQ(input->StationFile(0)->Values()[2], 2);
    EXPECT_NE(input->Description().find("additional columns: 2"), std::string::npos);
}

#include "forcing/meteoint_fixture.h"

#include <charconv>
#include <filesystem>
#include <fstream>

using namespace testsupport;

namespace meteotest {

namespace {

std::string Number(double v) {
    char buffer[64];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, v);
    return std::string(buffer, result.ptr);
}

int DaysInMonth(int64_t year, int64_t month) {
    static const int days[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    return month == 2 && leap ? 29 : days[month - 1];
}

}  // namespace

std::string StationText(const std::vector<StationPlace>& stations, const std::vector<StationRow>& rows,
                        int extraColumns) {
    std::string labels = "YY MM DD HH";
    for (int k = 0; k < extraColumns; ++k) labels += " extra";
    std::string text = "station values\n";
    for (int line = 0; line < 3; ++line) {
        text += labels;
        for (const StationPlace& s : stations) {
            text += ' ';
            text += Number(line == 0 ? s.Z : line == 1 ? s.X : s.Y);
        }
        text += "\n";
    }
    text += "names";
    for (size_t i = 1; i <= stations.size(); ++i) {
        text += " s";
        text += std::to_string(i);
    }
    text += "\n";
    for (const StationRow& row : rows) {
        text += std::to_string(row.Date.Year) + " " + std::to_string(row.Date.Month) + " " +
                std::to_string(row.Date.Day) + " " + std::to_string(row.Date.Hour);
        for (int k = 0; k < extraColumns; ++k) text += " x";
        for (double v : row.Values) {
            text += ' ';
            text += Number(v);
        }
        text += "\n";
    }
    return text;
}

std::vector<MeteoDate> DailyDates(MeteoDate first, int count) {
    std::vector<MeteoDate> dates;
    MeteoDate d = first;
    for (int i = 0; i < count; ++i) {
        dates.push_back(d);
        if (++d.Day > DaysInMonth(d.Year, d.Month)) {
            d.Day = 1;
            if (++d.Month > 12) {
                d.Month = 1;
                ++d.Year;
            }
        }
    }
    return dates;
}

std::string Section::Text(const std::string& name) const {
    std::string text = "[" + name + "]\n" + std::to_string(Method) + "\n" + StationLine + "\n";
    if (!SecondStationLine.empty()) text += SecondStationLine + "\n";
    text += ThirdLine + "\n" + ResultName + "\n" + std::to_string(WriteCode) + "\n" + Scaling + "\n" + StatisticsLine +
            "\n" + NoData + "\n" + Weight + "\n" + Fraction + "\n" + MaxDistance + "\n" + Slope + "\n" + Ratio + "\n" +
            Limits + Scenario;
    return text;
}

InputFixture::InputFixture() : writer(dir.file("diag.xml"), DiagDebug, console) {
    std::filesystem::create_directories(dir.file("in"));
    std::filesystem::create_directories(dir.file("out"));
    for (int r = 1; r <= 3; ++r) {
        for (int c = 1; c <= 4; ++c) {
            const bool inside = zone.at(r, c) != G;
            coordX.at(r, c) = inside ? 900 + 100.0 * c : G;
            coordY.at(r, c) = inside ? 2300 - 100.0 * r : G;
        }
    }
    zones = RankZoneGrid(ZoneRankingKind::SetUp, zone.data(), 3, 4, nullptr, G, 100, relCellArea.data(), &writer,
                         "zones.asc", "defaults");
    MemoryGrid& zoneEntry = table[1];
    zoneEntry.Data = zone.data();
    zoneEntry.InternalName = "zone_grid";
    zoneEntry.FileName = "zones.asc";
    zoneEntry.EverUsed = true;
    MemoryGrid& elevationEntry = table[2];
    elevationEntry.Data = elevation.data();
    elevationEntry.InternalName = "elevation";
    elevationEntry.FileName = "dem.asc";
    elevationEntry.EverUsed = true;
    AddGrid("RelCellArea", relCellArea);
    AddGrid("CoordX", coordX);
    AddGrid("CoordY", coordY);
    AddGrid("MPIRegions", regions);

    settings.CompiledControlFile = dir.file("model.ctl");
    settings.InitialStateDirectory = dir.file("in/");
    settings.DefaultOutputDirectory = dir.file("out/");
    settings.WriteAsciiGrids = true;
    settings.LogInterval = 24;
    settings.NCols = 4;
    settings.NRows = 3;
    settings.FirstRow = 1;
    settings.LastRow = 3;
    settings.XllCorner = 1000;
    settings.YllCorner = 2000;
    settings.CellSize = 100;
    settings.NoData = G;
    settings.Zones = zones.Records.data();
    settings.ZoneCount = zones.Count;
    settings.ZoneRank = zones.CodeToRank.data();
    settings.MaxZoneCode = zones.LargestCode;
    settings.RowExtents = zones.RowExtents.data();
    settings.StartYear = 2020, settings.StartMonth = 1, settings.StartDay = 1, settings.StartHour = 24;
    settings.EndYear = 2020, settings.EndMonth = 1, settings.EndDay = 10, settings.EndHour = 24;
}

InputFixture::~InputFixture() = default;

void InputFixture::Control(const std::string& text) { WriteFile(dir.file("model.ctl"), text); }

void InputFixture::Input(const std::string& name, const std::string& content) {
    WriteFile(dir.file("in/" + name), content);
}

std::unique_ptr<meteointerpol> InputFixture::Make(const std::string& name, int* status) {
    return std::make_unique<meteointerpol>(status, &writer, statistics, StatisticsTableSize, name,
                                           FindFreeGridEntry(table.get()), settings, table.get());
}

int InputFixture::ConstructionCode(const std::string& name) {
    int status = 0;
    const int code = ThrownCode([&] { Make(name, &status); });
    return code == status ? code : -1;
}

void InputFixture::AddGrid(const std::string& internalName, setuptest::Grid& grid) {
    MemoryGrid& entry = table[FindFreeGridEntry(table.get())];
    entry.Data = grid.data();
    entry.InternalName = internalName;
    entry.EverUsed = true;
}

std::vector<std::string> InputFixture::Entries(int level) {
    writer.Close();
    std::vector<std::string> out;
    for (const auto& line : DiagLines(ReadFile(dir.file("diag.xml")))) {
        if (line.level == level) out.push_back(line.description);
    }
    return out;
}

TextGrid ReadTextGrid(const std::string& path) {
    std::istringstream in(ReadFile(path));
    TextGrid grid;
    std::string key;
    in >> key >> grid.Cols >> key >> grid.Rows >> key >> grid.Xll >> key >> grid.Yll >> key >> grid.CellSize >> key >>
        grid.NoData;
    grid.Cells.assign(static_cast<size_t>(grid.Rows) + 1, std::vector<double>(static_cast<size_t>(grid.Cols) + 1, 0));
    for (int r = 1; r <= grid.Rows; ++r)
        for (int c = 1; c <= grid.Cols; ++c) in >> grid.Cells[static_cast<size_t>(r)][static_cast<size_t>(c)];
    return grid;
}

std::vector<std::vector<double>> StatisticsRows(const std::string& path) {
    std::istringstream in(ReadFile(path));
    std::string line;
    std::vector<std::vector<double>> rows;
    for (int k = 0; k < 3 && std::getline(in, line); ++k) {
    }
    while (std::getline(in, line)) {
        if (line.empty()) continue;
        std::istringstream fields(line);
        std::vector<double> values;
        double v;
        while (fields >> v) values.push_back(v);
        rows.push_back(values);
    }
    return rows;
}

}  // namespace meteotest

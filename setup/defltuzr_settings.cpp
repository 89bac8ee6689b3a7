// Model-wide sections of the control file: output control, output list,
// coordinates, meteorological inputs, model time, radiation correction and
// sub-steps.

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <string>

#include "framework/diagnostics_writer.h"
#include "framework/end_state_stage.h"
#include "setup/control_text.h"
#include "setup/defltuzr.h"
#include "setup/model_time.h"

namespace {

// The output-control reader names no module in its error entries.
class ModuleNameHidden {
public:
    explicit ModuleNameHidden(std::string& name) : Name(name), Saved(name) { Name.clear(); }
    ~ModuleNameHidden() { Name = Saved; }
    ModuleNameHidden(const ModuleNameHidden&) = delete;
    ModuleNameHidden& operator=(const ModuleNameHidden&) = delete;

private:
    std::string& Name;
    std::string Saved;
};

// One value of an unchecked line: the first word is scanned, the rest of the
// line skipped. False when nothing usable was found.
bool ReadLooseInt(FILE* stream, int* value) {
    std::string word;
    if (!modelobject::ReadWord(stream, &word)) return false;
    modelobject::ReadRestOfLine(stream, nullptr);
    return controltext::ScanInt(word, value);
}

// As above; `word` receives the word read.
bool ReadLooseDouble(FILE* stream, double* value, std::string* word) {
    if (!modelobject::ReadWord(stream, word)) return false;
    modelobject::ReadRestOfLine(stream, nullptr);
    return controltext::ScanDouble(*word, value);
}

}  // namespace

void defaultini::ReadOutputControl(const std::string& controlFilePath, ModelSettings& receiver) {
    ModuleNameHidden hidden(ModuleName);
    controltext::ControlFileSession session(*this, controlFilePath, false, "FATAL: Error opening ");
    receiver.SearchRadiusWarning = 0;
    ReadOutputInterval(receiver);
    ReadOutputKeys(receiver, controlFilePath);
    ReadOutputList(receiver);

    FindSection("[coordinates]", true);
    ReadValueInRange(ControlFile, &receiver.Latitude, -90, 90, "geographic latitude");
    // Longitudes east of Greenwich up to 360 degrees are taken as well; the
    // data may be a day at most away from local time.
    ReadValueInRange(ControlFile, &receiver.Longitude, -180, 360, "geographic longitude");
    ReadValueInRange(ControlFile, &receiver.ReferenceMeridian, -180, 360, "reference meridian");
    ReadValueInRange(ControlFile, &receiver.TimeShift, -24, 24, "time shift of data time to lokal time");

    ReadMeteoInputs(receiver);
    session.Close();
}

void defaultini::ReadOutputInterval(ModelSettings& receiver) {
    FindSection("[output_interval]", true);
    int logInterval = 0;
    ReadValue(ControlFile, "%d", &logInterval, "output control");
    if (logInterval < 1) ValueOutOfRange("output control", logInterval, "the log interval is at least 1 hour");
    receiver.LogInterval = logInterval;

    // Lines 2 to 4 are optional in effect: what cannot be read stays 0.
    int warning = 0;
    if (!ReadLooseInt(ControlFile, &warning)) warning = 0;
    receiver.SearchRadiusWarning = (warning == 0 || warning == 1) ? warning : 1;

    int unit = 0;
    if (!ReadLooseInt(ControlFile, &unit)) unit = 0;
    OutputSwitchRaw = unit;
    OutputSwitch = (unit == 0 || unit == 1) ? unit : 0;

    double minToIntEnd = 0;
    std::string word;
    // What is no finite number counts as unreadable and stays 0; a number
    // must be one the time steps can use: at most the longest interval of a
    // sub-model (whole minutes in an int).
    if (!ReadLooseDouble(ControlFile, &minToIntEnd, &word) || !std::isfinite(minToIntEnd)) minToIntEnd = 0;
    if (minToIntEnd > INT32_MAX) {
        ValueRefused("output control (min_to_int_end)", word, "lies outside 0 to " + std::to_string(INT32_MAX));
    }
    receiver.MinToIntEnd = minToIntEnd < 0 ? 0 : minToIntEnd;
}

void defaultini::ReadOutputKeys(ModelSettings& receiver, const std::string& path) {
    std::string line;
    while (controltext::ReadLine(ControlFile, line, *this, path)) {
        const std::string_view text = controltext::SkipBlanks(line);
        if (controltext::IsBlankLine(text)) break;
        const size_t equals = text.find('=');
        const std::string_view value = equals == std::string_view::npos ? text : text.substr(equals + 1);
        double number = 0;
        std::string word;
        if (text.find("WriteAsciiGrids") != std::string_view::npos) {
            receiver.WriteAsciiGrids = controltext::ScanDouble(value, &number) && number != 0;
        } else if (text.find("WriteDoubleGrids") != std::string_view::npos) {
            receiver.WriteDoubleGrids = controltext::ScanDouble(value, &number) && number != 0;
        } else if (text.find("InitialStateDirectory") != std::string_view::npos) {
            if (controltext::ScanWord(value, &word)) receiver.InitialStateDirectory = word;
        } else if (text.find("DefaultOutputDirectory") != std::string_view::npos) {
            if (controltext::ScanWord(value, &word)) receiver.DefaultOutputDirectory = word;
        }
    }
    WriteAsciiGrids = receiver.WriteAsciiGrids;
    WriteDoubleGrids = receiver.WriteDoubleGrids;
    InputDirectory = receiver.InitialStateDirectory;
    OutputDirectory = receiver.DefaultOutputDirectory;
    // A run killed while it wrote its end state: the state it was read from
    // and the one this run writes over are made whole first.
    endstate::Recover(InputDirectory, Writer);
    if (OutputDirectory != InputDirectory) endstate::Recover(OutputDirectory, Writer);
}

void defaultini::ReadOutputList(ModelSettings& receiver) {
    FindSection("[output_list]", true);
    int count = 0;
    ReadValue(ControlFile, "%d", &count, "number of subbasins in output list");
    if (count < 0) ValueOutOfRange("number of subbasins in output list", count, "the count is 0 or more");
    // Grown code by code: a count larger than the list is a read error, not a
    // huge allocation.
    std::vector<int> codes(1, 0);
    for (int i = 1; i <= count; ++i) {
        int code = 0;
        ReadValue(ControlFile, "%d", &code, "codes in output-list");
        codes.push_back(code);
    }
    for (int i = 1; i < count; ++i) {
        if (codes[static_cast<size_t>(i)] < codes[static_cast<size_t>(i) + 1]) continue;
        if (Writer) {
            *Writer << "FATAL: \nError in control file: order of subbasin codes in output_list!\n"
                       "if output should be written for a specified set of subbasins,\n"
                       "(specified by a statcode of 5 for averaging in time or 6 for summing in time)\n"
                       "than the codes has to be arranged in ascendend order\n.look in [output_list]\n"
                    << "[end-entry]";
        }
        throw 97;
    }
    OutputListCodeList = std::move(codes);
    receiver.OutputListCount = count;
    receiver.OutputListCodes = count > 0 ? OutputListCodeList.data() : nullptr;
}

void defaultini::ReadMeteoInputs(ModelSettings& receiver) {
    FindSection("[meteo_data_count]", true);
    int count = 0;
    ReadValue(ControlFile, "%d", &count, "number of meteorological variables");
    if (count < 0) ValueOutOfRange("number of meteorological variables", count, "the count is 0 or more");
    FindSection("[meteo_names]", true);
    std::vector<std::string> names(1);
    for (int i = 1; i <= count; ++i) {
        std::string name;
        const std::string description = "name of meteorological variable " + std::to_string(i);
        ReadValue(ControlFile, "%s", &name, description, nullptr, 200);
        // Each input writes its statistics under its name: a name given twice
        // would write every row twice.
        for (size_t k = 1; k < names.size(); ++k) {
            if (names[k] == name) ValueRefused(description, name, "is already the name of variable " + std::to_string(k));
        }
        names.push_back(std::move(name));
    }
    MeteoNameList = std::move(names);
    receiver.MeteoInputCount = count;
    receiver.MeteoNames = count > 0 ? MeteoNameList.data() : nullptr;
}

void defaultini::ReadModelTime() {
    controltext::ControlFileSession session(*this, ControlFilePath, true, "FATAL: error opening ");
    FindSection("[model_time]", true);
    static const char* const descriptions[8] = {"starting hour in ", "starting day in ", "starting month in ",
                                                "starting year in ",  "end hour in ",     "and day in ",
                                                "end month in ",      "end year in "};
    long values[8] = {};
    for (int i = 0; i < 8; ++i) ReadValue(ControlFile, "%ld", &values[i], descriptions[i]);

    ModelDate start{values[0], values[1], values[2], values[3]};
    ModelDate end{values[4], values[5], values[6], values[7]};
    NormaliseModelDate(start);
    NormaliseModelDate(end);
    DaysPerMonth[2] = IsLeapYear(end.year) ? 29 : 28;

    const std::string years = "years " + std::to_string(MinModelYear) + " to " + std::to_string(MaxModelYear) +
                              " (years up to 999 gain 1900)";
    const std::string hours = "hours 0 to " + std::to_string(MaxModelHour);
    if (start.hour < 0 || start.hour > MaxModelHour) ValueOutOfRange(descriptions[0], start.hour, hours);
    if (start.year < MinModelYear || start.year > MaxModelYear) ValueOutOfRange(descriptions[3], start.year, years);
    if (end.hour < 0 || end.hour > MaxModelHour) ValueOutOfRange(descriptions[4], end.hour, hours);
    if (end.year < MinModelYear || end.year > MaxModelYear) ValueOutOfRange(descriptions[7], end.year, years);
    // A run that ends before it starts would compute nothing and still be
    // reported as a success.
    if (DateKey(end.year, end.month, end.day, end.hour) < DateKey(start.year, start.month, start.day, start.hour)) {
        auto date = [](const ModelDate& d) {
            char text[64];
            std::snprintf(text, sizeof text, "%02ld.%02ld.%ld %ld:00", static_cast<long>(d.day),
                          static_cast<long>(d.month), static_cast<long>(d.year), static_cast<long>(d.hour));
            return std::string(text);
        };
        ValueRefused("end of the run in [model_time]", date(end), "lies before its start " + date(start));
    }

    Settings.StartHour = start.hour;
    Settings.StartDay = start.day;
    Settings.StartMonth = start.month;
    Settings.StartYear = start.year;
    Settings.EndHour = end.hour;
    Settings.EndDay = end.day;
    Settings.EndMonth = end.month;
    Settings.EndYear = end.year;
    session.Close();
}

void defaultini::ReadRadiationCorrection() {
    controltext::ControlFileSession session(*this, ControlFilePath, true, "FATAL: error opening ");
    FindSection("[radiation_correction]", true);
    session.Close();
}

int defaultini::ReadSubsteps() {
    controltext::ControlFileSession session(*this, ControlFilePath, false, "FATAL: Error opening ");
    int substeps = 1;
    if (FindSection("[soil_surface_groundwater_substeps]", false)) {
        ReadValue(ControlFile, "%d", &substeps,
                  "sub step counter from [soil_surface_groundwater_substeps] not found");
        if (substeps < 1) {
            ValueOutOfRange("sub step counter from [soil_surface_groundwater_substeps]", substeps,
                            "at least 1 sub-step per time step");
        }
    }
    session.Close();
    Substeps = substeps;
    return substeps;
}

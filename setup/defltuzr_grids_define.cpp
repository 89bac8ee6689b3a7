// Definitions of the model grids in the control file: "[zone_grid]",
// "[elevation_model]" and "[standard_grids]" with their keywords. Only names
// and options are read here; the grid files are read later.

#include <cmath>
#include <cstdio>
#include <string>
#include <string_view>

#include "framework/diagnostics_writer.h"
#include "framework/gridtable.h"
#include "setup/control_text.h"
#include "setup/defltuzr.h"

namespace {

constexpr size_t MaxIdentifierLength = 100;
constexpr size_t MaxUnitLength = 99;

// The set-up replaces the codes of these grids by positions in its tables; a
// periodic re-read would bring the file's raw codes back.
bool HoldsTablePositions(const std::string& identifier) {
    return identifier == "landuse" || identifier == "soil_types" || identifier == "irrigation_codes";
}

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f'; }

// The first occurrence of `keyword` as a word of its own: at the start or
// after white space, and followed by white space, "=" or the end. A keyword
// inside a file name ("snow_writecode.asc") is no keyword.
size_t FindKeyword(std::string_view text, std::string_view keyword) {
    for (size_t at = text.find(keyword); at != std::string_view::npos; at = text.find(keyword, at + 1)) {
        const size_t after = at + keyword.size();
        const bool startsWord = at == 0 || IsBlank(text[at - 1]);
        const bool endsWord = after == text.size() || IsBlank(text[after]) || text[after] == '=';
        if (startsWord && endsWord) return at;
    }
    return std::string_view::npos;
}

// What follows the "=" of a keyword, or nothing when the keyword is absent.
// `found` tells whether it was present; `value` is empty when no "=" follows
// the keyword (blanks between them allowed).
struct KeywordValue {
    bool found = false;
    bool hasEquals = false;
    std::string_view value;
};

KeywordValue LookUp(std::string_view options, std::string_view keyword) {
    KeywordValue result;
    const size_t at = FindKeyword(options, keyword);
    if (at == std::string_view::npos) return result;
    result.found = true;
    size_t pos = at + keyword.size();
    while (pos < options.size() && (options[pos] == ' ' || options[pos] == '\t')) ++pos;
    if (pos < options.size() && options[pos] == '=') {
        result.hasEquals = true;
        result.value = options.substr(pos + 1);
    }
    return result;
}

}  // namespace

void defaultini::ReadStandardGrids() {
    controltext::ControlFileSession session(*this, ControlFilePath, true, "FATAL: error opening ");
    CheckGridIndex(2);
    InputFileNames.assign(GridTableEntries, std::string());

    std::string name;
    FindSection("[zone_grid]", true);
    ReadValue(ControlFile, "%s", &name, " Name for ");
    MemoryGrid& zone = GridTable[1];
    zone.EverUsed = true;
    zone.FileName = name;
    zone.InternalName = "[zone_grid]";
    InputFileNames[1] = name;

    FindSection("[elevation_model]", true);
    ReadValue(ControlFile, "%s", &name, " Name for ");
    MemoryGrid& elevation = GridTable[2];
    elevation.EverUsed = true;
    elevation.FileName = name;
    elevation.InternalName = "[elevation_model]";
    elevation.ReadCode = 1;
    elevation.FillCode = 0;
    elevation.DefaultValue = 0;
    InputFileNames[2] = name;

    FindSection("[standard_grids]", true);
    int count = 0;
    ReadValue(ControlFile, "%d", &count, "couner/number of grids ");
    // A negative count would shift the variable grids onto entries 1 and 2.
    if (count < 0) ValueOutOfRange("couner/number of grids ", count, "0 or more standard grids");
    if (count > LastGridIndex - 2) {
        if (Writer) {
            *Writer << "FATAL: no free grid in memory,(max. " << NoFreeGridEntry << ")!\n" << count
                    << " standard grids do not fit into the grid table (at most " << LastGridIndex - 2 << ")"
                    << "[end-entry]";
        }
        throw 12;
    }

    std::string line;
    for (int k = 1; k <= count; ++k) {
        if (!controltext::ReadLine(ControlFile, line, *this, ControlFilePath)) line.clear();
        ParseStandardGridLine(k, line);
    }
    Settings.SetupGridCount = count;
    session.Close();
}

void defaultini::ParseStandardGridLine(int k, const std::string& line) {
    const std::string number = std::to_string(k);
    const std::string_view text(line);

    std::string fileName, identifier, third;
    size_t end = 0;
    size_t pos = 0;
    if (!controltext::ScanWord(text, &fileName, &end)) {
        ControlFileError("\nerror reading a grid name or identifier " + number + " in\n", ModuleName);
    }
    pos = end;
    if (!controltext::ScanWord(text.substr(pos), &identifier, &end)) {
        ControlFileError("\nerror reading a grid name or identifier " + number + " in\n", ModuleName);
    }
    pos += end;
    if (identifier.size() > MaxIdentifierLength) {
        ControlFileError("\nthe identifier " + identifier + " of standard grid " + number + " is longer than " +
                             std::to_string(MaxIdentifierLength) + " characters in\n",
                         ModuleName);
    }

    // Old style: a whole number as the third word is the fill code.
    int fillCode = 0;
    bool haveFillCode = false;
    if (controltext::ScanWord(text.substr(pos), &third, &end) && controltext::ScanInt(third, &fillCode)) {
        haveFillCode = true;
        pos += end;
    }
    const std::string_view options = text.substr(pos);

    const auto badValue = [&](const char* keyword) {
        ControlFileError("\nerror reading the value of " + std::string(keyword) + " for standard grid " + number +
                             " (" + identifier + ") in\n",
                         ModuleName);
    };
    // The value of a keyword; false when the keyword is absent. A keyword
    // without "=" or with a value that cannot be read ends the run.
    const auto valueOf = [&](const char* keyword, std::string_view* value) {
        const KeywordValue found = LookUp(options, keyword);
        if (!found.found) return false;
        if (!found.hasEquals) badValue(keyword);
        *value = found.value;
        return true;
    };
    const auto intValue = [&](const char* keyword, int* target) {
        std::string_view value;
        if (!valueOf(keyword, &value)) return false;
        if (!controltext::ScanInt(value, target)) badValue(keyword);
        return true;
    };
    const auto wordValue = [&](const char* keyword, std::string* target) {
        std::string_view value;
        if (!valueOf(keyword, &value)) return false;
        if (!controltext::ScanWord(value, target)) badValue(keyword);
        return true;
    };

    if (intValue("fillcode", &fillCode)) haveFillCode = true;
    if (!haveFillCode) {
        ControlFileError("\nerror reading the fillcode for standard grid " + number +
                             " (found neither in old nor in new style standard grid definition) in\n",
                         ModuleName);
    }

    int readCode = 1;
    intValue("readcode", &readCode);

    double defaultValue = 0;
    {
        std::string_view value;
        if (valueOf("defaultValue", &value)) {
            if (!controltext::ScanDouble(value, &defaultValue) || !std::isfinite(defaultValue)) {
                badValue("defaultValue");
            }
        }
    }

    int writeCode = 0;
    intValue("writecode", &writeCode);
    std::string outputName;
    wordValue("outname", &outputName);
    std::string statFile;
    wordValue("statfile", &statFile);
    int statCode = 0;
    intValue("statcode", &statCode);

    int periodCount = -1;
    int periodOffset = -1;
    std::string periodUnit;
    {
        std::string_view value;
        if (valueOf("periodicity", &value)) {
            size_t at = 0;
            size_t next = 0;
            if (!controltext::ScanInt(value, &periodCount, &at)) badValue("periodicity");
            if (!controltext::ScanWord(value.substr(at), &periodUnit, &next)) badValue("periodicity");
            at += next;
            if (!controltext::ScanInt(value.substr(at), &periodOffset)) badValue("periodicity");
            if (periodUnit.size() > MaxUnitLength) badValue("periodicity");
        }
    }

    bool persistent = true;
    int persistenceSteps = 0;
    {
        std::string_view value;
        if (valueOf("persistent", &value)) {
            double flag = 0;
            size_t at = 0;
            if (!controltext::ScanDouble(value, &flag, &at) || std::isnan(flag)) badValue("persistent");
            if (!controltext::ScanInt(value.substr(at), &persistenceSteps)) badValue("persistent");
            persistent = flag != 0;
        }
    }

    if (periodCount > 0 && HoldsTablePositions(identifier)) {
        if (Writer) {
            *Writer << "FATAL: error in control file, standard grid " << k << " (" << identifier
                    << ") must not be periodic: the set-up replaces its codes by table positions, and a re-read "
                       "would bring the codes of the file back; in "
                    << ModuleName << "[end-entry]";
        }
        throw 17;
    }
    if (periodCount > 0 && periodUnit.find_first_of("HDMY") == std::string::npos && Writer) {
        *Writer << "WARNING: the periodicity unit " << periodUnit << " of standard grid " << k << " ("
                << identifier << ") holds none of the letters H, D, M or Y: the grid is never read again"
                << "[end-entry]";
    }

    MemoryGrid& entry = GridTable[k + 2];
    entry.EverUsed = true;
    entry.FileName = fileName;
    entry.InternalName = identifier;
    entry.FillCode = fillCode;
    entry.ReadCode = readCode;
    entry.DefaultValue = defaultValue;
    entry.UnitsDigit = writeCode;  // the whole code until the grid is stored
    entry.OutputName = outputName;
    entry.OutputNameOwned = 0;
    entry.StatFileName = statFile;
    entry.StatCode = statCode;
    entry.PeriodicityCount = periodCount;
    entry.PeriodicityUnit = periodUnit;
    entry.PeriodicityOffset = periodOffset;
    entry.Persistent = persistent;
    entry.PersistenceSteps = persistenceSteps;
    entry.PeriodCount = 0;
    entry.SubUnitCount = 0;
    entry.LastDateValue = 9999;
    entry.TemporaryValues = false;
    entry.StepsSinceReread = 0;
    entry.DatedFileName.clear();
    InputFileNames[static_cast<size_t>(k) + 2] = fileName;
}

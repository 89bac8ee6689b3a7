// The section of a meteorological input (positional lines, each value first
// on its line) and the description line of its statistics.

#include <cmath>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <limits>
#include <string>
#include <string_view>
#include <vector>

#include "forcing/meteoint.h"
#include "forcing/meteoint_files_set.h"
#include "forcing/meteoint_files_text.h"
#include "framework/diagnostics_writer.h"
#include "framework/gridfiles.h"
#include "framework/gridtable.h"

namespace {

constexpr int ControlFileCode = 17;
constexpr int ScenarioRowCode = 48;
constexpr int MethodLineCode = 49;
constexpr int MethodRangeCode = 53;
// Largest station nodata bound N: -N - 1 stays exact, also as a whole number.
constexpr double MaxNoDataBound = 1e15;

const char* const MethodDescription =
    "1 [idw], 2 [regress], [3] [idw+regr], 4 [thiessen] 5 [bilinear] 6 [BIGRES] 7 [bicubic spline] 8 [SPLINERES] "
    "9 [ReadGrid] 10 [EDR from station data] 11 [IDW + EDR from station data] 12 [Thiessen combines with elevation "
    "gradient] for ";

std::string Format(const char* format, ...) __attribute__((format(printf, 1, 2)));
std::string Format(const char* format, ...) {
    va_list args;
    va_start(args, format);
    va_list copy;
    va_copy(copy, args);
    const int length = std::vsnprintf(nullptr, 0, format, copy);
    va_end(copy);
    std::string text;
    if (length > 0) {
        text.resize(static_cast<size_t>(length) + 1);
        std::vsnprintf(text.data(), text.size(), format, args);
        text.resize(static_cast<size_t>(length));
    }
    va_end(args);
    return text;
}

// The next line of a stream without its line end; false at the end of the
// stream.
bool ReadLine(FILE* stream, std::string& line) {
    line.clear();
    int c = std::fgetc(stream);
    if (c == EOF) return false;
    while (c != EOF && c != '\n') {
        line.push_back(static_cast<char>(c));
        c = std::fgetc(stream);
    }
    return true;
}

bool FiniteNumber(std::string_view token, double& value) {
    return meteofiles::ParseNumber(token, value) && std::isfinite(value);
}

bool Int32(std::string_view token, int32_t& value) {
    int64_t v = 0;
    if (!meteofiles::ParseInteger(token, v)) return false;
    if (v < std::numeric_limits<int32_t>::min() || v > std::numeric_limits<int32_t>::max()) return false;
    value = static_cast<int32_t>(v);
    return true;
}

// How many of the leading tokens read as numbers of the given kinds ('d' a
// double, 'i' an integer), in order; the values go to `out`.
int LeadingValues(const std::vector<std::string_view>& tokens, std::string_view kinds, double* out) {
    int count = 0;
    for (size_t k = 0; k < kinds.size() && k < tokens.size(); ++k) {
        if (kinds[k] == 'i') {
            int32_t v = 0;
            if (!Int32(tokens[k], v)) break;
            out[k] = v;
        } else if (!FiniteNumber(tokens[k], out[k])) {
            break;
        }
        ++count;
    }
    return count;
}

}  // namespace

void meteointerpol::ValueNotAllowed(const std::string& what, const std::string& allowed, const std::string& read) {
    if (Writer) {
        *Writer << "FATAL: error in control file, " << what << " in [" << ModuleName << "]: " << allowed << ", read "
                << read << "[end-entry]";
    }
    throw ControlFileCode;
}

void meteointerpol::ReadWordValue(std::string& target, const std::string& description) {
    ReadValue(ControlFile, "%s", &target, description, &LineBuffer);
}

void meteointerpol::ReadInteger(int32_t& target, const std::string& description) {
    std::string word;
    const bool got = ReadWord(ControlFile, &word);
    if (!got || !Int32(word, target)) {
        UnreadableValue(word, description);
    }
    ReadRestOfLine(ControlFile, &LineBuffer);
}

void meteointerpol::ReadNumber(double& target, const std::string& description) {
    std::string word;
    const bool got = ReadWord(ControlFile, &word);
    if (!got || !FiniteNumber(word, target)) {
        UnreadableValue(word, description);
    }
    ReadRestOfLine(ControlFile, &LineBuffer);
}

void meteointerpol::ReadControlSection() {
    ControlFile = std::fopen(ControlFilePath.c_str(), "r");
    if (!ControlFile) {
        if (Writer) *Writer << "FATAL: error opening " << ControlFilePath << "[end-entry]";
        throw 28;
    }
    FindSection("[" + ModuleName + "]", true);
    ReadInteger(InterpolationMethod, MethodDescription);
    CheckMethod();

    const int files = InterpolationMethod == 6 || InterpolationMethod == 8 ? 2 : 1;
    StationFileLines.assign(static_cast<size_t>(files), StationFileLine{});
    for (int f = 0; f < files; ++f) ReadStationFileLine(f);
    if (InterpolationMethod <= 8) {
        ReadWordValue(RegressionFileName, "name of the regression file in ");
        PrefixDirectory(InputDirectory, RegressionFileName);
    } else {
        ReadMethodLine();
    }

    ReadWordValue(ResultFileName, "name of the result grid in ");
    ReadInteger(ResultWriteCode, "grid write code for result grid in ");
    ReadNumber(ScalingFactor, "scaling factor for ");
    {
        // The file name and its code, both on one line.
        std::string word;
        const bool got = ReadWord(ControlFile, &word);
        if (got) StatisticsFileName = word;
        ReadRestOfLine(ControlFile, &LineBuffer);
        std::string_view rest(LineBuffer);
        if (!rest.empty() && rest.back() == '\n') rest.remove_suffix(1);
        std::vector<std::string_view> tokens;
        meteofiles::SplitTokens(rest, tokens);
        if (!got || tokens.empty() || !Int32(tokens[0], StatisticsCode)) {
            ControlFileError("name of the statistic result file in ", ModuleName);
        }
    }
    ReadNumber(NoDataBound, "nodata value in ");
    // Invalid station values are held as -N - 1, also as a whole number of
    // the date fields: N must leave that value exact.
    if (!(NoDataBound > 0 && NoDataBound <= MaxNoDataBound)) {
        ValueNotAllowed("nodata value",
                        Format("the station nodata bound must be positive and at most %g", MaxNoDataBound),
                        Format("%.17g", NoDataBound));
    }
    ReadNumber(IdwWeight, "idw-weight in ");
    ReadNumber(IdwFraction, "fraction of idw on weighted interpolation (method 3)");
    ReadNumber(MaxDistance, "maximum distance in ");
    ReadNumber(AnisotropySlope, "slope of the main axis of the anisotropy ellipse in ");
    ReadNumber(AnisotropyRatio, "anisotropy b/a in ");
    ReadNumber(LowerLimit, "lower limit of results in ");
    ReadNumber(LowerReplacement, "lower replacement for limit-exceeding results in ");
    ReadNumber(UpperLimit, "upper limit of results in ");
    ReadNumber(UpperReplacement, "upper replacement for limit-exceeding results in ");
    ReadScenarioSection();

    const int closed = std::fclose(ControlFile);
    ControlFile = nullptr;
    if (closed != 0) {
        if (Writer) *Writer << "FATAL: error closing " << ControlFilePath << "[end-entry]";
        throw 11;
    }
}

void meteointerpol::CheckMethod() {
    if (InterpolationMethod < 1 || InterpolationMethod > 12) {
        EndOfDataFlag = InterpolationMethod == 0;
        if (Writer) {
            *Writer << "FATAL: error! interpolation method has to range from 1..12 (here: " << InterpolationMethod
                    << ")\n"
                    << "[end-entry]";
        }
        throw MethodRangeCode;
    }
}

void meteointerpol::ReadStationFileLine(int f) {
    std::string line;
    const bool got = ReadLine(ControlFile, line);
    std::vector<std::string_view> tokens;
    meteofiles::SplitTokens(line, tokens);
    auto fail = [&](const std::string& detail) {
        if (Writer) {
            *Writer << "FATAL: error reading station data file name nr. " << f << " for interpolation of " << ModuleName
                    << detail << "[end-entry]";
        }
        throw MethodLineCode;
    };
    if (!got || tokens.empty()) fail("");
    StationFileLine& entry = StationFileLines[static_cast<size_t>(f)];
    entry.FileName = std::string(tokens[0]);
    const size_t nameEnd = static_cast<size_t>(tokens[0].data() - line.data()) + tokens[0].size();
    static const std::string Key = "AdditionalColumns=";
    const size_t at = line.find(Key, nameEnd);
    if (at != std::string::npos) {
        size_t i = at + Key.size();
        while (i < line.size() && (line[i] == ' ' || line[i] == '\t')) ++i;
        size_t j = i;
        if (j < line.size() && (line[j] == '+' || line[j] == '-')) ++j;
        while (j < line.size() && line[j] >= '0' && line[j] <= '9') ++j;
        int32_t columns = 0;
        if (!Int32(std::string_view(line).substr(i, j - i), columns) || columns < 0) {
            fail(": \"AdditionalColumns=\" must be followed by a count of 0 or more");
        }
        entry.AdditionalColumns = columns;
    }
    PrefixDirectory(InputDirectory, entry.FileName);
}

void meteointerpol::ReadMethodLine() {
    std::string line;
    ReadLine(ControlFile, line);
    std::vector<std::string_view> tokens;
    meteofiles::SplitTokens(line, tokens);
    double v[6] = {0, 0, 0, 0, 0, 0};
    if (InterpolationMethod == 9) {
        if (LeadingValues(tokens, "ddidd", v) < 5) {
            if (Writer) {
                *Writer << "FATAL: error reading the required 5 GIF-Mapping parameters f1 (default=8.916787e-5), x1 "
                           "(0.0767528404), threshold (127), f2 (default=6.00e-006), x2 (0.098) for interpolation of "
                        << ModuleName << "[end-entry]";
            }
            throw MethodLineCode;
        }
        for (int k = 0; k < 5; ++k) GifParameters[k] = v[k];
        GifF1 = v[0];
        GifX1 = v[1];
        GifThreshold = static_cast<int32_t>(v[2]);
        GifF2 = v[3];
        GifX2 = v[4];
    } else if (InterpolationMethod == 10 || InterpolationMethod == 11) {
        const int count = LeadingValues(tokens, "dddidd", v);
        if (count < 5) {
            if (Writer) {
                *Writer << "FATAL: error reading the required 5 or 6 regression parameters <lower inversion> <upper "
                           "inversion> <tolerance> <overlap> <clusterrange> [<lapse rate above upper inversion>] for "
                           "interpolation of "
                        << ModuleName << "[end-entry]";
            }
            throw MethodLineCode;
        }
        RegressionLowerInversion = v[0];
        RegressionUpperInversion = v[1];
        RegressionTolerance = v[2];
        RegressionOverlap = static_cast<int32_t>(v[3]);
        RegressionClusterRange = v[4];
        RegressionUpperLapseRate = count >= 6 ? v[5] : -9999;
    } else {
        const int count = LeadingValues(tokens, "ddd", v);
        if (count == 0 || count == 2) {
            if (Writer) {
                *Writer << "FATAL: error reading the required parameter \"lapse rate\" and/or optional parameters "
                           "inversion_hight and fix upper lapse rate for interpolation of "
                        << ModuleName << "[end-entry]";
            }
            throw MethodLineCode;
        }
        Method.Lapse.Gradient = v[0];
        Method.Lapse.InversionHeight = count == 3 ? v[1] : -9999;
        Method.Lapse.UpperGradient = count == 3 ? v[2] : -9999;
        Method.Lapse.PType = count == 3 && tokens.size() > 3 && tokens[3].find("P-type") != std::string_view::npos;
    }
}

void meteointerpol::ReadScenarioSection() {
    ReadInteger(SzenUse, "SzenUse in ");
    if (SzenUse != 1) return;
    ReadInteger(SzenMeth, "SzenMeth in ");
    if (SzenMeth < 0 || SzenMeth > 6) ValueNotAllowed("SzenMeth", "allowed are 0 to 6", std::to_string(SzenMeth));
    if (SzenMeth == 5 || SzenMeth == 6) {
        ScenarioGridNames.assign(13, std::string());
        for (int month = 1; month <= 12; ++month) {
            std::string name;
            if (!ReadWord(ControlFile, &name)) {
                if (Writer) {
                    *Writer << "FATAL: error in control file: scenario grid for month " << month << " in " << ModuleName
                            << " not found!\nThere have to be exactly 12 filenames after the sceario application "
                               "mode\nreferring to each of the 12 months if using scenario method 5.\nHowever, if "
                               "methods 0..4 are used, NO FILENAMES are allowed there\n (for backwards compatibility "
                               "reasons)"
                            << "[end-entry]";
                }
                throw ControlFileCode;
            }
            ReadRestOfLine(ControlFile, &LineBuffer);
            ScenarioGridNames[static_cast<size_t>(month)] = name;
        }
        return;
    }
    ReadInteger(SzenNum, "SzenNum in ");
    if (SzenNum < 0) ValueNotAllowed("SzenNum", "the number of scenario rows is 0 or more", std::to_string(SzenNum));
    ScenarioTable.clear();
    for (int32_t r = 1; r <= SzenNum; ++r) {
        meteoint::ScenarioRow row;
        for (int column = 1; column <= 14; ++column) {
            std::string word;
            double value = 0;
            if (!ReadWord(ControlFile, &word) || !FiniteNumber(word, value)) {
                if (Writer) {
                    *Writer << "FATAL: error! scenario-data row " << r << ", column " << column << " in " << ModuleName
                            << ": read error!"
                            << "[end-entry]";
                }
                throw ScenarioRowCode;
            }
            if (column == 1) {
                row.X = value;
            } else if (column == 2) {
                row.Y = value;
            } else {
                row.Month[column - 2] = SzenMeth == 3 ? value / 100 + 1 : value;
            }
        }
        ReadRestOfLine(ControlFile, &LineBuffer);
        ScenarioTable.push_back(row);
    }
}

void meteointerpol::ComposeDescription() {
    const char* name = ModuleName.c_str();
    const char* zones = GridTable && !GridTable[1].FileName.empty() ? GridTable[1].FileName.c_str() : "";
    const char* control = ControlFilePath.c_str();
    const std::string first = StationFileLines.empty() ? std::string() : StationFileLines[0].FileName;
    const int columns = StationFileLines.empty() ? 0 : static_cast<int>(StationFileLines[0].AdditionalColumns);
    const std::string second = StationFileLines.size() > 1 ? StationFileLines[1].FileName : std::string();
    const int columns2 = StationFileLines.size() > 1 ? static_cast<int>(StationFileLines[1].AdditionalColumns) : 0;
    switch (InterpolationMethod) {
        case 1:
            DescriptionLine = Format(
                "%s interpolated with idw from %s, zones from %s, weighting = %4.1f,  maxentf = %8.0f, control file "
                "%s, additional columns: %d",
                name, first.c_str(), zones, IdwWeight, MaxDistance, control, columns);
            break;
        case 2:
            DescriptionLine = Format("%s interpolated with regression from ", name);
            DescriptionLine = Format("%s %s,", DescriptionLine.c_str(), RegressionFileName.c_str());
            DescriptionLine = Format("%s zones from %s, control file: %s", DescriptionLine.c_str(), zones, control);
            break;
        case 3:
            DescriptionLine = Format(
                "%s interpolated with idw+regression from %s, zones from %s,weighting = %4.1f, fraction distance: = "
                "%4.1f max distance = %8.0f, control file %s, additional columns: %d",
                name, first.c_str(), zones, IdwWeight, IdwFraction, MaxDistance, control, columns);
            break;
        case 4:
            DescriptionLine =
                Format("%s interpolated with Thiessen from %s, zones from %s, control file %s, additional columns: %d",
                       name, first.c_str(), zones, control, columns);
            break;
        case 5:
            DescriptionLine = Format(
                "%s interpolated with bilinear interpolation from %s, zones from %s, control file %s, additional "
                "columns: %d",
                name, first.c_str(), zones, control, columns);
            break;
        case 6:
            DescriptionLine = Format(
                "%s interpolated with bilinear interpolation of gradients (%s, add. col.: %d) and residuals (%s, add. "
                "col.: %d), linearly combined, zones from %s, control file %s",
                name, second.c_str(), columns2, first.c_str(), columns, zones, control);
            break;
        case 7:
            DescriptionLine = Format(
                "%s interpolated with bicubic spline interpolation (%s, add. col.: %d), zones from %s, control file %s",
                name, first.c_str(), columns, zones, control);
            break;
        case 8:
            DescriptionLine = Format(
                "%s interpolated with bicubic spline interpolation of gradients (%s, add. col.: %d) and residuals (%s, "
                "add. col.: %d), linearly combined, zones from %s, control file %s",
                name, second.c_str(), columns2, first.c_str(), columns, zones, control);
            break;
        case 9:
            DescriptionLine = Format(
                "%s read in from grids containing already interpolated data (%s, add. col.: %d) zones from %s, "
                "control file %s",
                name, first.c_str(), columns, zones, control);
            break;
        case 10:
            DescriptionLine =
                Format("%s interpolated with elevation dependent regression for values taken from %s, control file %s",
                       name, first.c_str(), control);
            break;
        case 11:
            DescriptionLine = Format(
                "%s interpolated with elevation dependent regression + idw, all values taken from %s, control file %s",
                name, first.c_str(), control);
            break;
        default:
            DescriptionLine = Format(
                "%s interpolated with Thiessen plus elevation lapserate, all values taken from %s, control file %s",
                name, first.c_str(), control);
            break;
    }
}

#include "framework/modelobject.h"

#include <cctype>
#include <charconv>
#include <cmath>
#include <ctime>

#include "framework/diagnostics_writer.h"

modelobject::modelobject(DiagnosticsWriter* writer, const std::string& controlFilePath, bool writeAsciiGrids,
                         bool writeDoubleGrids, const std::string& inputDirectory,
                         const std::string& outputDirectory)
    : ControlFilePath(controlFilePath),
      WriteAsciiGrids(writeAsciiGrids),
      WriteDoubleGrids(writeDoubleGrids),
      InputDirectory(inputDirectory),
      OutputDirectory(outputDirectory) {
    Writer = writer;
    Status = 0;
}

modelobject::~modelobject() {
    if (ControlFile) std::fclose(ControlFile);
}

void modelobject::ReadRestOfLine(FILE* stream, std::string* rest) {
    std::string line;
    int c;
    while ((c = std::fgetc(stream)) != EOF) {
        line.push_back(static_cast<char>(c));
        if (c == '\n') break;
    }
    if (rest) *rest = std::move(line);
}

bool modelobject::ReadWord(FILE* stream, std::string* word) {
    word->clear();
    int c;
    while ((c = std::fgetc(stream)) != EOF && std::isspace(c)) {
    }
    if (c == EOF) return false;
    while (c != EOF && !std::isspace(c)) {
        word->push_back(static_cast<char>(c));
        c = std::fgetc(stream);
    }
    if (c != EOF) std::ungetc(c, stream);
    return true;
}

modelobject::IntegerScan modelobject::ScanInteger(FILE* stream, long long lowest, long long highest,
                                                  long long* value, std::string* text) {
    int c;
    while ((c = std::fgetc(stream)) != EOF && std::isspace(c)) {
    }
    text->clear();
    if (c == '+' || c == '-') {
        text->push_back(static_cast<char>(c));
        c = std::fgetc(stream);
    }
    // Digits beyond any integer's length are kept only for the message.
    constexpr size_t MaxDigits = 40;
    size_t digits = 0;
    while (c != EOF && std::isdigit(c)) {
        if (digits < MaxDigits) text->push_back(static_cast<char>(c));
        ++digits;
        c = std::fgetc(stream);
    }
    if (c != EOF) std::ungetc(c, stream);
    if (digits == 0) return IntegerScan::NoNumber;
    if (digits > MaxDigits) {
        *text += "...";
        return IntegerScan::OutOfRange;
    }
    long long parsed = 0;
    const char* first = text->data() + ((*text)[0] == '+' ? 1 : 0);
    const auto result = std::from_chars(first, text->data() + text->size(), parsed);
    if (result.ec != std::errc() || parsed < lowest || parsed > highest) return IntegerScan::OutOfRange;
    *value = parsed;
    return IntegerScan::Read;
}

int modelobject::ReadInteger(FILE* stream, long long* value, long long lowest, long long highest,
                             const std::string& description) {
    std::string text;
    switch (ScanInteger(stream, lowest, highest, value, &text)) {
    case IntegerScan::Read:
        return 1;
    case IntegerScan::NoNumber:
        return 0;
    case IntegerScan::OutOfRange:
        break;
    }
    ValueRefused(description, text, "lies outside " + std::to_string(lowest) + " to " + std::to_string(highest));
}

namespace {
std::string NumberText(double value) {
    char text[40];
    std::snprintf(text, sizeof text, "%.17g", value);
    return text;
}
}  // namespace

void modelobject::RequireFinite(double value, const std::string& description) {
    if (std::isfinite(value)) return;
    ValueRefused(description, NumberText(value), "is not a finite number");
}

void modelobject::RequireRange(double value, double lowest, double highest, const std::string& description) {
    if (value >= lowest && value <= highest) return;
    ValueRefused(description, NumberText(value), "lies outside " + NumberText(lowest) + " to " + NumberText(highest));
}

void modelobject::ValueRefused(const std::string& description, const std::string& value, const std::string& why) {
    if (Writer) {
        *Writer << "FATAL: error in control file, " << description;
        if (!ModuleName.empty()) *Writer << "; " << ModuleName;
        *Writer << ": the value " << value << " " << why << " (" << ControlFilePath << ")" << "[end-entry]";
    }
    throw 17;
}

int modelobject::FinishReadValue(FILE* stream, int converted, const std::string& description, std::string* rest) {
    if (converted != 1) {
        std::string next;
        std::clearerr(stream);
        ReadWord(stream, &next);
        UnreadableValue(next, description);
    }
    ReadRestOfLine(stream, rest);
    return converted;
}

int modelobject::ReadValue(FILE* stream, const char* /*format*/, std::string* target,
                           const std::string& description, std::string* rest, size_t maxLength) {
    std::string word;
    const int converted = ReadWord(stream, &word) ? 1 : 0;
    if (converted == 1 && maxLength > 0 && word.size() > maxLength) {
        ControlFileError(description + " (the value \"" + word + "\" is longer than " + std::to_string(maxLength) +
                             " characters)",
                         ModuleName);
    }
    if (converted == 1) *target = word;
    return FinishReadValue(stream, converted, description, rest);
}

bool modelobject::FindSection(const std::string& sectionName, bool required) {
    bool found = false;
    if (ControlFile) {
        std::rewind(ControlFile);
        std::string word;
        while (ReadWord(ControlFile, &word)) {
            ReadRestOfLine(ControlFile, &LineBuffer);
            if (word == sectionName) {
                found = true;
                break;
            }
        }
        // A header on a last line without its line end counts as missing.
        if (std::feof(ControlFile)) found = false;
    }
    SectionName = sectionName;
    if (!found && required) ControlFileError(sectionName, "(EOF)");
    return found;
}

void modelobject::UnreadableValue(const std::string& word, const std::string& description) {
    if (Writer) {
        *Writer << "--> In ." << "\n" << "  Next line in Ruvex control file: " << "[end-entry]";
        *Writer << word << "[end-entry]";
    }
    ControlFileError(description, ModuleName);
    throw 17;  // not reached: the control-file error throws
}

void modelobject::ControlFileError(const std::string& description, const std::string& detail) {
    if (Writer) *Writer << "FATAL: error in control file, " << description << "; " << detail << "not found!" << "[end-entry]";
    throw 17;
}

void modelobject::WriteError(const std::string& fileName, int number) {
    if (Writer) *Writer << "FATAL: write error " << fileName << " ! (" << number << ")" << "[end-entry]";
    throw 18;
}

void modelobject::ReadError(const std::string& fileName, int number) {
    if (Writer) *Writer << "FATAL: read error " << fileName << " ! (" << number << ")" << "[end-entry]";
    throw 19;
}

void modelobject::ResetCellStatistics(double threshold) {
    StatThreshold = threshold;
    StatWeightSum = StatMinimum = StatMaximum = StatSum = StatSumSquares = 0;
    StatHasValue = false;
}

void modelobject::AddCellStatistics(double value, double weight) {
    if (!(value > StatThreshold + 1)) return;
    const bool first = !StatHasValue;
    StatHasValue = true;
    StatWeightSum += weight;
    StatSum += value * weight;
    StatSumSquares += value * value * weight;
    if (first) {
        StatMinimum = StatMaximum = value;
    } else if (value < StatMinimum) {
        StatMinimum = value;
    } else if (value > StatMaximum) {
        StatMaximum = value;
    }
}

void modelobject::GetCellStatistics(double* weightSum, double* minimum, double* maximum, double* sum, double* mean,
                                    double* standardDeviation) {
    *weightSum = StatWeightSum;
    *minimum = StatMinimum;
    *maximum = StatMaximum;
    *sum = StatSum;
    *mean = StatWeightSum > 0 ? StatSum / StatWeightSum : -9999;
    if (StatWeightSum > 2) {
        const double variance = (StatSumSquares - StatSum * StatSum / StatWeightSum) / (StatWeightSum - 1);
        *standardDeviation = variance > 0 ? std::sqrt(variance) : variance;
    } else {
        *standardDeviation = -9999;
    }
}

void modelobject::SetEndDate(int64_t year, int64_t month, int64_t day, int64_t hour) {
    EndYear = year;
    EndMonth = month;
    EndDay = day;
    EndHour = hour;
    EndKey = DateKey(year, month, day, hour);
}

void modelobject::SetLogInterval(int hours) { LogInterval = hours; }
int modelobject::GetLogInterval() { return LogInterval; }
double modelobject::GetTimeShift() { return TimeShiftHours; }

double modelobject::Interpolate(double x0, double y0, double x1, double y1, double x) {
    if (x1 == x0) return y0;
    return (x - x0) / (x1 - x0) * y1 + (x1 - x) / (x1 - x0) * y0;
}

void modelobject::SetStatus(int status) { Status = status; }

void modelobject::WriteInstanceLog(int /*unused*/, const std::string& text) {
    if (ProcessNumber != 0) return;
    const std::string name = "modell_" + std::to_string(ProcessNumber) + ".log";
    FILE* log = std::fopen(name.c_str(), "a");
    if (!log) return;
    std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char stamp[64];
    std::strftime(stamp, sizeof stamp, "%a %b %e %H:%M:%S %Y\n", &local);
    std::fprintf(log, "%s: %s\n", stamp, text.c_str());
    std::fclose(log);
}

void modelobject::DeleteModule() {
    if (ModuleDeleted) return;
    if (Writer) *Writer << "DEBUG: deleting module " << ModuleName << "[end-entry]";
    ModuleName.clear();
    ControlFilePath.clear();
    LineBuffer.clear();
    SectionName.clear();
    if (ControlFile) {
        std::fclose(ControlFile);
        ControlFile = nullptr;
    }
    ModuleDeleted = true;
}

void modelobject::SetGifGeoreference(double** mask, double originX, double originY, double cellSize) {
    GifMask = mask;
    GifOriginX = originX;
    GifOriginY = originY;
    GifCellSize = cellSize;
}

LentControlFile::LentControlFile(modelobject& reader, FILE* stream) : Reader(reader), Previous(reader.ControlFile) {
    Reader.ControlFile = stream;
}

LentControlFile::~LentControlFile() { Reader.ControlFile = Previous; }

void modelobject::OpenControlFile() {
    if (ControlFile) return;
    ControlFile = std::fopen(ControlFilePath.c_str(), "r");
    if (!ControlFile) {
        if (Writer) *Writer << "FATAL: error opening " << ControlFilePath << "[end-entry]";
        throw 28;
    }
}

void modelobject::CloseControlFile() {
    if (!ControlFile) return;
    const int result = std::fclose(ControlFile);
    ControlFile = nullptr;
    if (result != 0) {
        if (Writer) *Writer << "FATAL: error closing " << ControlFilePath << "[end-entry]";
        throw 11;
    }
}

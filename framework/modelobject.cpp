#include "framework/modelobject.h"

#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "framework/diagnostics_writer.h"
#include "setup/control_text.h"

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
    case IntegerScan::Read: {
        // The digits must be the whole word: "6o" is no number.
        const int next = std::fgetc(stream);
        if (next == EOF || std::isspace(next)) {
            if (next != EOF) std::ungetc(next, stream);
            return 1;
        }
        std::ungetc(next, stream);
        std::string tail;
        ReadWord(stream, &tail);
        const long end = std::ftell(stream);
        const std::string word = text + tail;
        ValueRefused(description, word, "is not a whole number",
                     end >= 0 ? LineAt(stream, end - static_cast<long>(word.size())) : 0);
    }
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

// The shortest text that reads back as `value`, in the form (with or
// without an exponent) that "%.17g" gives it: for the bounds of a range.
std::string ShortNumberText(double value) {
    const std::string full = NumberText(value);
    const bool exponent = full.find('e') != std::string::npos;
    char text[40];
    for (int digits = 1; digits < 17; ++digits) {
        std::snprintf(text, sizeof text, "%.*g", digits, value);
        if ((std::strchr(text, 'e') != nullptr) == exponent && std::strtod(text, nullptr) == value) return text;
    }
    return full;
}
}  // namespace

long modelobject::LineAt(FILE* stream, long offset) {
    const long here = std::ftell(stream);
    if (here < 0 || offset < 0 || std::fseek(stream, 0, SEEK_SET) != 0) return 0;
    long line = 1;
    for (long k = 0; k < offset; ++k) {
        const int c = std::fgetc(stream);
        if (c == EOF) break;
        if (c == '\n') ++line;
    }
    std::clearerr(stream);
    std::fseek(stream, here, SEEK_SET);
    return line;
}

modelobject::WordScan modelobject::ScanNumberWord(FILE* stream, double* value, std::string* word, long* line) {
    if (line) *line = 0;
    if (!ReadWord(stream, word)) return WordScan::Missing;
    if (line) {
        const long after = std::ftell(stream);
        *line = after >= 0 ? LineAt(stream, after - static_cast<long>(word->size())) : 0;
    }
    return controltext::ScanWholeDouble(*word, value) ? WordScan::Read : WordScan::NotNumber;
}

std::string modelobject::RangeFault(double value, double lowest, double highest) {
    if (!std::isfinite(value)) return "is not a finite number";
    if (value >= lowest && value <= highest) return "";
    return "lies outside " + ShortNumberText(lowest) + " to " + ShortNumberText(highest);
}

void modelobject::ReadFloating(FILE* stream, double* value, double lowest, double highest,
                               const std::string& description) {
    std::string word;
    long line = 0;
    double v = 0;
    switch (ScanNumberWord(stream, &v, &word, &line)) {
    case WordScan::Missing:
        UnreadableValue(word, description);
    case WordScan::NotNumber: {
        // A word that does not even begin like a number is the plain
        // "not found" error; one with more in it names what is wrong.
        double prefix = 0;
        if (!controltext::ScanDouble(word, &prefix)) UnreadableValue(word, description);
        ValueRefused(description, word, "is not a number", line);
    }
    case WordScan::Read:
        break;
    }
    const std::string fault = RangeFault(v, lowest, highest);
    if (!fault.empty()) ValueRefused(description, word, fault, line);
    *value = v;
}

void modelobject::RequireFinite(double value, const std::string& description) {
    if (std::isfinite(value)) return;
    ValueRefused(description, NumberText(value), "is not a finite number");
}

void modelobject::RequireRange(double value, double lowest, double highest, const std::string& description) {
    if (value >= lowest && value <= highest) return;
    ValueRefused(description, NumberText(value), "lies outside " + NumberText(lowest) + " to " + NumberText(highest));
}

void modelobject::ValueRefused(const std::string& description, const std::string& value, const std::string& why,
                               long line) {
    if (Writer) {
        *Writer << "FATAL: error in control file, " << description;
        if (!ModuleName.empty()) *Writer << "; " << ModuleName;
        *Writer << ": the value " << value << " " << why << " (" << ControlFilePath;
        if (line > 0) *Writer << ", line " << std::to_string(line);
        *Writer << ")" << "[end-entry]";
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

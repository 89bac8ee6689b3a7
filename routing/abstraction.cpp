// Abstractions: reading the "AL" element and its rule section, the amount of
// a step by mode, and the abstraction file.

#include "routing/abstraction.h"
#include "routing/routing_text.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstring>
#include <type_traits>

#include "framework/diagnostics_writer.h"
#include "framework/signals.h"
#include "framework/tracer_info.h"

namespace {

constexpr int MonthLengths[13] = {0, 31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
constexpr uint64_t InputBufferBytes = 1000000;
constexpr int64_t OutputBufferBytes = 2097152;

int FullYear(int year) { return year < 1000 ? year + 1900 : year; }

// The next word at `position` (blanks skipped), cut at ")".
std::string Word(const std::string& text, size_t& position) {
    while (position < text.size() && std::isspace(static_cast<unsigned char>(text[position]))) ++position;
    const size_t start = position;
    while (position < text.size() && !std::isspace(static_cast<unsigned char>(text[position]))) ++position;
    std::string word = text.substr(start, position - start);
    const size_t paren = word.find(')');
    if (paren != std::string::npos) word.erase(paren);
    return word;
}

bool SkipBehind(const std::string& text, size_t& position, const char* token) {
    const size_t found = text.find(token, position);
    if (found == std::string::npos) return false;
    position = found + std::strlen(token);
    return true;
}

// One whole, finite number at `position`.
bool Number(const std::string& text, size_t& position, double& value) {
    return routingtext::ReadWholeNumber(text, position, value);
}

// The whole numbers at the start of a line, in order, up to the first text
// that is none.
std::vector<double> Numbers(const char* text) {
    std::vector<double> values;
    const std::string line(text);
    size_t position = 0;
    double v = 0;
    while (routingtext::ReadWholeNumber(line, position, v)) values.push_back(v);
    return values;
}

bool ReadLine(FILE* file, std::string& line) {
    line.clear();
    int c;
    while ((c = std::fgetc(file)) != EOF && c != '\n') line += static_cast<char>(c);
    return c != EOF || !line.empty();
}

}  // namespace

double ThresholdAbstraction(double Q, double T, double threshold, double fraction, double maximum) {
    const double left = Q - T;
    double w = left >= threshold ? (Q - threshold) * fraction : 0.0;
    if (left - w < threshold) w = left - threshold;
    const double a = std::min(maximum, std::max(0.0, w));
    return std::max(0.0, std::min(a, left));
}

int RuleDayOfYear(int64_t month, int64_t day) {
    int d = 0;
    for (int m = 1; m < month && m <= 12; ++m) d += MonthLengths[m];
    return d + static_cast<int>(day);
}

int WeekDayOf(int64_t year, int64_t month, int64_t day) {
    // Days from 1 March of year 0 (proleptic Gregorian calendar).
    const int64_t y = month <= 2 ? year - 1 : year;
    const int64_t era = (y >= 0 ? y : y - 399) / 400;
    const int64_t yoe = y - era * 400;
    const int64_t mp = (month + 9) % 12;
    const int64_t doy = (153 * mp + 2) / 5 + day - 1;
    const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    const int64_t days = era * 146097 + doe - 719468;  // 0 = 1970-01-01, a Thursday
    const int64_t w = ((days % 7) + 7 + 3) % 7;        // 0 = Monday
    return static_cast<int>(w) + 1;
}

int AbstractionRules::Column(int d) const {
    if (Columns <= 1 || d <= DayKey[1]) return 1;
    for (int k = 2; k <= Columns; ++k)
        if (DayKey[static_cast<size_t>(k)] >= d) return k;
    return Columns;
}

double AbstractionRules::Value(int k, double value) const {
    if (Rows < 1) return 0.0;
    const std::vector<double>& yk = y[static_cast<size_t>(k)];
    if (value > x[static_cast<size_t>(Rows)]) return yk[static_cast<size_t>(Rows)];
    for (int i = Rows - 1; i >= 1; --i) {
        const size_t ki = static_cast<size_t>(i);
        if (value > x[ki]) return yk[ki] + slope[static_cast<size_t>(k)][ki] * (value - x[ki]);
    }
    return 0.0;
}

void AL_class::Fatal(const std::string& text, int code) {
    if (Writer) *Writer << text << "[end-entry]";
    throw code;
}

void AL_class::AddOutputPath(const std::string& directory, std::string& name) {
    if (name.empty() || name[0] == '/' || name[0] == '~' || directory.empty()) return;
    name = directory + name;
}

void AL_class::SetParams(DiagnosticsWriter* writer, TracerInfo* tracers, int tracerCount, int outletCode,
                         double catchmentArea, double areaFactor, double dtMinutes,
                         const std::string& outputDirectory) {
    Writer = writer;
    Tracers = tracers;
    TracerCount = tracerCount;
    OutletCode = outletCode;
    CatchmentArea = catchmentArea;
    AreaFactor = areaFactor;
    TimeStep = dtMinutes;
    OutputDirectory = outputDirectory;
    State.assign(static_cast<size_t>(tracerCount + 1), 0.0);
}

double AL_class::ConvertToMm(double discharge, double area, double dt) { return discharge * 0.06 * dt / area; }

double AL_class::ConvertToM3s(double flowMm, double area, double dt) { return flowMm * area * 16.6666667 / dt; }

void AL_class::Rescale(double ratio, double newArea) {
    Threshold *= ratio;
    Maximum *= ratio;
    CatchmentArea = newArea;
}

void AL_class::ReadDescription(FILE*, int code, const std::string& text, size_t& position, int, int64_t year,
                               int64_t month, int64_t day, int64_t hour) {
    Code = code;
    std::string keyword;
    if (SkipBehind(text, position, "=")) keyword = Word(text, position);
    static const char* const keywords[] = {"intern", "extern", "from_file", "intern_with_rule", "extern_with_rule",
                                           "intern_with_rule_from_reservoir"};
    Mode = 0;
    for (int m = 0; m < 6; ++m)
        if (keyword == keywords[m]) Mode = m + 3;
    if (Mode == 0) Fatal("FATAL: the modus \"" + keyword + "\" is not supported for abstraction " + std::to_string(code), 44);

    if (Mode == Extern || Mode == ExternWithRule) OutputName = Word(text, position);
    if (Mode == FromFile) {
        if (SkipBehind(text, position, "input_file") && SkipBehind(text, position, "=")) InputName = Word(text, position);
        double column = 0;
        if (SkipBehind(text, position, "=") && Number(text, position, column)) {
            if (!(column >= 1 && column <= 1e6) || column != std::floor(column)) {
                Fatal("FATAL: abstraction " + std::to_string(code) + ": the input column " +
                          routingtext::NumberText(column) + " is no column number",
                      17);
            }
            InputColumn = static_cast<int>(column);
        }
        if (SkipBehind(text, position, "=")) OutputName = Word(text, position);
    }
    if (Mode == Intern || Mode == Extern) {
        double values[3] = {0, 0, 0};
        for (double& v : values) {
            while (position < text.size() && std::isspace(static_cast<unsigned char>(text[position]))) ++position;
            if (!Number(text, position, v)) {
                Fatal("FATAL: error reading threshold, fraction and maximum of abstraction " + std::to_string(code), 17);
            }
        }
        // A threshold, a fraction and a maximum are amounts of 0 or more (the
        // abstraction never takes more than the river holds).
        if (!(values[0] >= 0 && values[1] >= 0 && values[2] >= 0)) {
            Fatal("FATAL: abstraction " + std::to_string(code) + ": threshold " + routingtext::NumberText(values[0]) +
                      ", fraction " + routingtext::NumberText(values[1]) + " and maximum " +
                      routingtext::NumberText(values[2]) + " must be 0 or more",
                  17);
        }
        const std::string unit = Word(text, position);
        Threshold = values[0];
        Fraction = values[1];
        Maximum = values[2];
        if (unit.find("m^3/s") != std::string::npos || unit.find("m3/s") != std::string::npos ||
            unit.find("m3s") != std::string::npos) {
            Threshold = ConvertToMm(Threshold, ConversionArea(), TimeStep);
            Maximum = ConvertToMm(Maximum, ConversionArea(), TimeStep);
        }
    }
    if (Mode == FromFile) {
        Input = std::make_unique<TimeSeriesTableReader>();
        Input->Open(InputName, 0, InputBufferBytes);
        if (Input->GetStatus() == TimeSeriesTableReader::CannotOpen) {
            Fatal("FATAL: error opening " + InputName + " for abstraction " + std::to_string(code), 37);
        }
        auto notFound = [&]() {
            Fatal("FATAL: starting date " + std::to_string(day) + "." + std::to_string(month) + "." +
                      std::to_string(year) + ", " + std::to_string(hour) + ". h in " + InputName + " not found.",
                  38);
        };
        if (Input->GetRowCount() == 0) notFound();
        Input->SetRow(0);
        while (true) {
            int y = 0, m = 0, d = 0, h = 0;
            Input->GetDate(y, m, d, h);
            if (FullYear(y) == year && m == month && d == day && h == hour) break;
            Input->NextRow();
            if (Input->GetStatus() == TimeSeriesTableReader::PastLastRow) notFound();
        }
        if (InputColumn < 0 || InputColumn >= Input->GetColumnCount()) {
            Fatal("FATAL: there is not the required number of columns in " + InputName + " for abstraction " +
                      std::to_string(code) + " (column " + std::to_string(InputColumn) + ")",
                  38);
        }
    }
    if (WritesFile()) {
        AddOutputPath(OutputDirectory, OutputName);
        FILE* file = std::fopen(OutputName.c_str(), "w");
        if (!file) Fatal("FATAL: error opening " + OutputName + " for abstraction " + std::to_string(code), 37);
        std::string first = "YY\tMM\tDD\tHH\tm^3/s";
        for (int t = 1; t <= TracerCount && Tracers; ++t) first += "\t" + Tracers[t].name;
        first += "\n";
        const std::string head = first + "abstraction_" + std::to_string(code) + "\n" + first;
        const bool written = std::fwrite(head.data(), 1, head.size(), file) == head.size();
        if (std::fclose(file) != 0 || !written) {
            Fatal("FATAL: error writing " + OutputName + " for abstraction " + std::to_string(code), 18);
        }
        ValuesPerRecord = TracerCount + 5;
        RecordsPerBuffer = std::max<int64_t>(1, OutputBufferBytes / ((TracerCount + 1) * 8 + 32));
        Records.assign(static_cast<size_t>(RecordsPerBuffer) * static_cast<size_t>(ValuesPerRecord), 0.0);
        RecordsHeld = 0;
    }
}

bool AL_class::FindSection(FILE* controlFile, const std::string& header) {
    if (!controlFile) return false;
    std::rewind(controlFile);
    std::string line;
    while (ReadLine(controlFile, line)) {
        size_t p = 0;
        if (Word(line, p) == header) return true;
    }
    return false;
}

void AL_class::ReadRules(FILE* controlFile) {
    if (Mode < InternWithRule || Mode > InternWithRuleFromReservoir) return;
    const std::string header = "[abstraction_rule_abstraction_" + std::to_string(Code) + "]";
    if (!FindSection(controlFile, header)) Fatal("FATAL: section " + header + " not found in control file", 34);
    std::string line;
    auto bad = [&]() { Fatal("FATAL: error reading the rule table of " + header, 17); };
    if (!ReadLine(controlFile, line)) bad();
    const std::vector<double> first = Numbers(line.c_str());
    if (first.empty() || !(first[0] >= 1) || first[0] > 100000) bad();
    AbstractionRules& R = Rules;
    R.Rows = static_cast<int>(first[0]);
    R.Columns = first.size() > 1 ? static_cast<int>(first.size()) - 1 : 1;
    const size_t m = static_cast<size_t>(R.Columns) + 1, r = static_cast<size_t>(R.Rows) + 1;
    R.DayKey.assign(m, 1);
    if (R.Columns > 1) {
        for (size_t k = 1; k < m; ++k) {
            if (!(first[k] >= -366 && first[k] <= 366) || first[k] != std::floor(first[k])) bad();
            R.DayKey[k] = static_cast<int>(first[k]);
        }
    }
    R.x.assign(r, 0.0);
    R.y.assign(m, std::vector<double>(r, 0.0));
    R.slope = R.y;
    for (size_t i = 1; i < r; ++i) {
        if (!ReadLine(controlFile, line)) bad();
        const std::vector<double> row = Numbers(line.c_str());
        if (row.size() < m) bad();
        R.x[i] = row[0];
        for (size_t k = 1; k < m; ++k) R.y[k][i] = row[k];
    }
    for (size_t k = 1; k < m; ++k)
        for (size_t i = 1; i + 1 < r; ++i)
            R.slope[k][i] = R.x[i + 1] == R.x[i] ? 0.0 : (R.y[k][i + 1] - R.y[k][i]) / (R.x[i + 1] - R.x[i]);
    // Four lines follow in this order, each read whether or not it holds
    // its key.
    auto keyed = [&](const char* key, auto& target, auto fallback) {
        target.assign(m, fallback);
        if (!ReadLine(controlFile, line)) return;
        if (line.find(key) == std::string::npos) return;
        const size_t eq = line.find('=');
        if (eq == std::string::npos) return;
        const std::vector<double> values = Numbers(line.c_str() + eq + 1);
        using Value = typename std::decay_t<decltype(target)>::value_type;
        for (size_t k = 1; k < m && k - 1 < values.size(); ++k) {
            // Masks and hours are whole numbers well within any integer.
            if (std::is_integral_v<Value> && !(std::fabs(values[k - 1]) <= 1e9)) bad();
            target[k] = static_cast<Value>(values[k - 1]);
        }
    };
    keyed("TargetCap", R.TargetCap, -1.0);
    keyed("WeekDays", R.Mask, int64_t{-1});
    keyed("start_hour", R.StartHour, -1);
    keyed("stop_hour", R.StopHour, -1);
}

void AL_class::ConnectInflow(int targetIndex, int inflowIndex, double targetArea, double targetFactor,
                             double ownArea) {
    TargetIndex = targetIndex;
    InflowIndex = inflowIndex;
    TargetArea = targetArea;
    TargetFactor = targetFactor;
    OwnArea = ownArea;
}

double AL_class::CalcAbstraction(double** F, double& total, double& available, int64_t year, int64_t month,
                                 int64_t day, int64_t hour) {
    Year = year, Month = month, Day = day, Hour = hour;
    const double Q = available;
    const double left = std::max(0.0, Q - total);
    double a = 0;
    switch (Mode) {
        case Intern:
        case Extern:
            a = ThresholdAbstraction(Q, total, Threshold, Fraction, Maximum);
            break;
        case FromFile: {
            if (!Input) break;
            if (month > 0) {
                // Every step reads the row of its own date.
                if (Input->GetStatus() == TimeSeriesTableReader::PastLastRow) {
                    Fatal("FATAL: error reading from " + InputName + " (or from its buffer) for abstraction " +
                              std::to_string(Code) + "\nreached end of file!",
                          39);
                }
                int y = 0, m = 0, d = 0, h = 0;
                Input->GetDate(y, m, d, h);
                y = FullYear(y);
                if (y != year || m != month || d != day || h != hour) {
                    Fatal("FATAL: error comparing dates in " + InputName + ":\n     read: " + std::to_string(y) + "." +
                              std::to_string(m) + "." + std::to_string(d) + ", " + std::to_string(h) +
                              ". h,\nshould be: " + std::to_string(year) + "." + std::to_string(month) + "." +
                              std::to_string(day) + ", " + std::to_string(hour) + ". h.\n",
                          36);
                }
            }
            const double v = Input->GetValue(InputColumn);
            a = v <= -9998 ? 0.0 : ConvertToMm(v, ConversionArea(), TimeStep);
            if (month > 0) Input->NextRow();
            break;
        }
        case InternWithRule:
        case ExternWithRule:
            a = RuleByDayOfYear(F, year, month, day, hour, ConvertToM3s(Q, ConversionArea(), TimeStep));
            break;
        default:
            a = 0;
    }
    // Never more than the water left, never negative.
    if (!(a > 0)) a = 0;
    a = std::min(a, left);
    total += a;
    return a;
}

double AL_class::RuleByDayOfYear(double** F, int64_t year, int64_t month, int64_t day, int64_t hour,
                                 double discharge) {
    Year = year, Month = month, Day = day, Hour = hour;
    if (Rules.Rows < 1) return 0.0;
    const int k = Rules.Column(RuleDayOfYear(month, day));
    double v = Rules.Value(k, discharge);
    if (TargetIndex > 0 && F) {
        const double Qt = ConvertToM3s(F[0][TargetIndex], TargetArea / TargetFactor, TimeStep);
        const double cap = Rules.TargetCap[static_cast<size_t>(k)];
        if (v + Qt > cap) v = std::max(0.0, cap - Qt);
    }
    return ConvertToMm(v, ConversionArea(), TimeStep);
}

double AL_class::RuleWithWeekdays(StorageElementArrays* storage, int64_t year, int64_t month, int64_t day,
                                  int64_t hour, double volume) {
    Year = year, Month = month, Day = day, Hour = hour;
    if (Rules.Rows < 1) return 0.0;
    const int k = Rules.Column(RuleDayOfYear(month, day));
    const size_t kk = static_cast<size_t>(k);
    // The week day of the hour before the model hour.
    int64_t y = year, m = month, d = day;
    if (hour - 1 < 0) {
        if (--d < 1) {
            if (--m < 1) {
                m = 12;
                --y;
            }
            const bool leap = (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
            d = m == 2 && leap ? 29 : MonthLengths[m];
        }
    }
    const std::string mask = std::to_string(Rules.Mask[kk]);
    const char weekDay = static_cast<char>('0' + WeekDayOf(y, m, d));
    const bool on = mask.find(weekDay) != std::string::npos && Rules.StartHour[kk] <= hour && hour <= Rules.StopHour[kk];
    if (!on) return 0.0;
    double v = Rules.Value(k, volume);
    auto channelFlow = [&](int index) -> const double* {
        if (!storage || storage->empty() || index <= 0) return nullptr;
        const auto& water = (*storage)[0];
        if (static_cast<size_t>(index) >= water.size() || water[static_cast<size_t>(index)].size() < 2) return nullptr;
        return &water[static_cast<size_t>(index)][1];
    };
    const double* target = channelFlow(TargetIndex);
    if (TargetIndex > 0 && target) {
        const double* inflow = channelFlow(InflowIndex);
        const double X = ConvertToM3s(*target, TargetArea / TargetFactor, TimeStep);
        const double Y = inflow ? ConvertToM3s(*inflow, OwnArea, TimeStep) : 0.0;
        if (v + X - Y > Rules.TargetCap[kk]) v = std::max(0.0, Rules.TargetCap[kk] - (X - Y));
    }
    return v;
}

void AL_class::BufferRecord(int64_t year, int64_t month, int64_t day, int64_t hour, const double* values) {
    if (!WritesFile() || ValuesPerRecord == 0) return;
    if (RecordsHeld >= RecordsPerBuffer) FlushBuffer(1);
    double* r = Records.data() + static_cast<size_t>(RecordsHeld) * static_cast<size_t>(ValuesPerRecord);
    r[0] = static_cast<double>(year);
    r[1] = static_cast<double>(month);
    r[2] = static_cast<double>(day);
    r[3] = static_cast<double>(hour);
    for (int t = 0; t <= TracerCount; ++t) r[4 + t] = values[t];
    ++RecordsHeld;
}

void AL_class::FlushBuffer(int write) {
    if (write <= 0 || RecordsHeld == 0 || !WritesFile()) return;
    CtrlCIgnored quiet;
    if (Writer) *Writer << "flushing to disk: " << OutputName << " (" << OutputBufferBytes << " buffersize)" << "[end-entry]";
    FILE* file = std::fopen(OutputName.c_str(), "a+");
    if (!file) Fatal("FATAL: error opening reservoir file " + OutputName, 65);
    bool written = true;
    for (int k = 0; k < RecordsHeld; ++k) {
        const double* r = Records.data() + static_cast<size_t>(k) * static_cast<size_t>(ValuesPerRecord);
        written = written && std::fprintf(file, "%2.0lf\t%2.0lf\t%2.0lf\t%2.0lf", r[0], r[1], r[2], r[3]) > 0;
        for (int v = 4; v < ValuesPerRecord; ++v) written = written && std::fprintf(file, "\t%lg", r[v]) > 0;
        written = written && std::fputc('\n', file) != EOF;
    }
    RecordsHeld = 0;
    if (std::fclose(file) != 0 || !written) Fatal("FATAL: error writing " + OutputName, 18);
}

#include "setup/irrigation_table.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdlib>

#include "framework/diagnostics_writer.h"
#include "framework/modelobject.h"

namespace {

const char* const HelpText =
    "there are 4 possible ways to define irrigation rules:\n"
    "two schedule variants:\n"
    "1.: \"starting from MM DD with XX mm to MM DD with YY mm every ZZ day\"\n"
    "2.: \"starting from MM DD with XX mm AA times every ZZ days\"\n"
    " where MM and DD are Month and day, XX is the first irrigation amount \n"
    " per irrigation event in mm/day, ZZ is the time step (e.g. every 4 days..),\n"
    " YY is the last irrigation amount in mm/day (it is linearly interpolated)\n"
    " and AA is a repeat counter (only in the secound format).\n"
    " The model recognises both formats by the different formats by analysing the\n"
    " key-words \"starting from\", \"to\" and \"times\"\n"
    " note: there may be defined multiple irrigation schemes in one row,\n"
    " but they have to be of the same type (1. or 2.) \n"
    " and they have to be seperated by a semicolon (;)\n"
    " 3.: irrigation control by demand (1): suction (psi) for start and end of irrigation must be provided\n"
    " 4.: irrigation control by demand (2): ratio between ETR and ETP for irrigation start must be provided\n";

// Longest day of each month in any year (February 29 included).
constexpr int MaxMonthDays[13] = {0, 31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};


// --- Reading from the stream (values may run over several lines) -----------

// The numbers of one rule, read from the control-file stream. A value that is
// out of range or not finite is remembered for the message.
class RuleScanner {
public:
    explicit RuleScanner(FILE* stream) : Stream(stream) {}

    bool Long(long* value) { return Integer(value, LONG_MIN, LONG_MAX); }

    bool Int32(int32_t* value) {
        long v = 0;
        if (!Integer(&v, INT32_MIN, INT32_MAX)) return false;
        *value = static_cast<int32_t>(v);
        return true;
    }

    bool Double(double* value) {
        std::string word;
        switch (modelobject::ScanNumberWord(Stream, value, &word)) {
        case modelobject::WordScan::Missing:
            return false;
        case modelobject::WordScan::NotNumber:
            Offending = "the value " + word + " is not a number";
            return false;
        case modelobject::WordScan::Read:
            break;
        }
        if (std::isfinite(*value)) return true;
        Offending = "the value " + word + " is not a finite number";
        return false;
    }

    // What was wrong with the last value refused, or empty.
    std::string Detail() const { return Offending; }

private:
    bool Integer(long* value, long long lowest, long long highest) {
        long long v = 0;
        std::string text;
        switch (modelobject::ScanInteger(Stream, lowest, highest, &v, &text)) {
        case modelobject::IntegerScan::Read:
            *value = static_cast<long>(v);
            return true;
        case modelobject::IntegerScan::OutOfRange:
            Offending = "the value " + text + " lies outside " + std::to_string(lowest) + " to " +
                        std::to_string(highest);
            return false;
        case modelobject::IntegerScan::NoNumber:
            break;
        }
        return false;
    }

    FILE* Stream;
    std::string Offending;
};

// --- Reading from a text schedule --------------------------------------------

// The number at `*at` (leading blanks skipped); advances `*at` past it.
bool ParseNumber(const std::string& text, size_t* at, long* value) {
    if (*at > text.size()) return false;
    const char* start = text.c_str() + *at;
    char* stop = nullptr;
    errno = 0;
    const long v = std::strtol(start, &stop, 10);
    if (stop == start || errno == ERANGE) return false;
    *value = v;
    *at += static_cast<size_t>(stop - start);
    return true;
}

bool ParseNumber(const std::string& text, size_t* at, int32_t* value) {
    long v = 0;
    if (!ParseNumber(text, at, &v) || v < INT32_MIN || v > INT32_MAX) return false;
    *value = static_cast<int32_t>(v);
    return true;
}

bool ParseNumber(const std::string& text, size_t* at, double* value) {
    if (*at > text.size()) return false;
    const char* start = text.c_str() + *at;
    char* stop = nullptr;
    const double v = std::strtod(start, &stop);
    if (stop == start || !std::isfinite(v)) return false;
    *value = v;
    *at += static_cast<size_t>(stop - start);
    return true;
}

// Finds `keyword` from `*at` on and reads the number that follows it.
template <typename T> bool NumberAfter(const std::string& text, const std::string& keyword, size_t* at, T* value) {
    const size_t found = text.find(keyword, *at);
    if (found == std::string::npos) return false;
    *at = found + keyword.size();
    return ParseNumber(text, at, value);
}

// --- Dates of the schedule on the reader's calendar --------------------------

class ScheduleCalendar {
public:
    explicit ScheduleCalendar(const int* daysPerMonth) : Days(daysPerMonth) {
        for (int m = 1; m <= 12; ++m) YearDays += Days[m];
    }

    // Month to 1..12, then the day to 1..the month's length.
    void Clamp(int32_t* month, int32_t* day) const {
        *month = std::clamp<int32_t>(*month, 1, 12);
        *day = std::clamp<int32_t>(*day, 1, Days[*month]);
    }

    // Day of the year, 0-based.
    long Index(int64_t month, int64_t day) const {
        long index = 0;
        for (int m = 1; m < month; ++m) index += Days[m];
        return index + static_cast<long>(day) - 1;
    }

    // Days from one date forward to another, going round the year end.
    long DaysUntil(int64_t month, int64_t day, int64_t toMonth, int64_t toDay) const {
        const long d = Index(toMonth, toDay) - Index(month, day);
        return d >= 0 ? d : d + YearDays;
    }

    // The date `days` later; December is followed by January.
    void Advance(int64_t* month, int64_t* day, long days) const {
        long index = (Index(*month, *day) + days % YearDays) % YearDays;
        int m = 1;
        while (index >= Days[m]) {
            index -= Days[m];
            ++m;
        }
        *month = m;
        *day = index + 1;
    }

private:
    const int* Days;
    long YearDays = 0;
};

[[noreturn]] void RefuseSchedule(modelobject& reader, int entry, const std::string& reason) {
    if (reader.Writer) {
        *reader.Writer << "ERROR: irrigation rule " << entry << ": " << reason << "[end-entry]";
    }
    IrrigationRuleError(reader, entry);
}

// The FATAL entry of an unreadable rule; `detail` (when given) names the
// value refused and the control file.
[[noreturn]] void TableError(modelobject& reader, const std::string& text, const std::string& detail = "") {
    if (reader.Writer) {
        *reader.Writer << "FATAL: for irrigation code " << text;
        if (!detail.empty()) *reader.Writer << detail << " (in " << reader.ControlFilePath << ")\n";
        *reader.Writer << "[end-entry]";
    }
    throw 29;
}

}  // namespace

void IrrigationRule::ClearSchedule() {
    Month.assign(1, 0);
    Day.assign(1, 0);
    Amount.assign(1, 0.0);
    tabcnt = 0;
}

void IrrigationRule::AddEvent(int64_t month, int64_t day, double amount) {
    if (Month.empty()) ClearSchedule();
    Month.push_back(month);
    Day.push_back(day);
    Amount.push_back(amount);
    tabcnt = static_cast<int32_t>(Month.size() - 1);
}

void IrrigationRuleError(modelobject& reader, int entry) {
    if (reader.Writer) {
        *reader.Writer << "FATAL: irrigation description for irrigation type " << entry << " is wrong " << HelpText
                       << "[end-entry]";
    }
    throw 29;
}

void ReadIrrigationSchedule(modelobject& reader, int entry, const std::string& text, IrrigationRule& rule) {
    const ScheduleCalendar calendar(reader.DaysPerMonth);
    // The reason names the schedule as written, so that the value refused is seen.
    std::string shown = text;
    while (!shown.empty() && (shown.back() == '\n' || shown.back() == '\r')) shown.pop_back();
    const auto Refuse = [&](const std::string& reason) {
        RefuseSchedule(reader, entry, reason + " in \"" + shown + "\" (" + reader.ControlFilePath + ")");
    };
    size_t scheme = text.find("starting from");
    if (scheme == std::string::npos) Refuse("no \"starting from\" in the schedule");

    while (scheme != std::string::npos) {
        const int32_t k0 = rule.tabcnt + 1;
        size_t at = scheme + 13;
        if (text.find("to", at) == std::string::npos && text.find("times", at) == std::string::npos) {
            Refuse("neither \"to\" nor \"times\" follows \"starting from\"");
        }

        int32_t month = 0, day = 0;
        if (!ParseNumber(text, &at, &month) || !ParseNumber(text, &at, &day)) {
            Refuse("month and day after \"starting from\" could not be read");
        }
        calendar.Clamp(&month, &day);
        double first = 0;
        if (!NumberAfter(text, "with", &at, &first)) {
            Refuse("the amount after \"with\" could not be read");
        }

        if (text.find("to", at) != std::string::npos) {
            // List form: from the start to the end date every ZZ days, the
            // amounts interpolated by event number from XX to YY.
            int32_t lastMonth = 0, lastDay = 0;
            if (!NumberAfter(text, "to ", &at, &lastMonth) || !ParseNumber(text, &at, &lastDay)) {
                Refuse("the end date after \"to\" could not be read");
            }
            calendar.Clamp(&lastMonth, &lastDay);
            double last = 0;
            if (!NumberAfter(text, "with ", &at, &last)) {
                Refuse("the last amount after the second \"with\" could not be read");
            }
            long interval = 0;
            if (!NumberAfter(text, "every ", &at, &interval)) {
                Refuse("the interval after \"every\" could not be read");
            }
            if (interval < 1) Refuse("the interval after \"every\" must be at least 1 day");
            if (month == lastMonth && day > lastDay) {
                Refuse("the scheme starts after its end day in its end month");
            }

            int64_t m = month, d = day;
            rule.AddEvent(m, d, first);
            while (interval <= calendar.DaysUntil(m, d, lastMonth, lastDay)) {
                calendar.Advance(&m, &d, interval);
                rule.AddEvent(m, d, first);
            }
            const int32_t k1 = rule.tabcnt;
            for (int32_t k = k0 + 1; k < k1; ++k) {
                const double span = static_cast<double>(k1 - k0);
                rule.Amount[k] = (k - k0) / span * last + (k1 - k) / span * first;
            }
            rule.Amount[k1] = last;
        } else if (text.find("times", at) != std::string::npos) {
            // Count form: AA events every ZZ days, all with the amount XX.
            int32_t count = 0;
            if (!NumberAfter(text, "mm ", &at, &count)) {
                Refuse("the repeat count after \"mm \" could not be read");
            }
            if (count < 1 || count > IrrigationRule::MaxRepeatCount) {
                RefuseSchedule(reader, entry,
                               "the repeat count must lie between 1 and " +
                                   std::to_string(IrrigationRule::MaxRepeatCount));
            }
            long interval = 0;
            if (!NumberAfter(text, "every ", &at, &interval)) {
                Refuse("the interval after \"every\" could not be read");
            }
            if (interval < 1) Refuse("the interval after \"every\" must be at least 1 day");

            int64_t m = month, d = day;
            rule.AddEvent(m, d, first);
            for (int32_t a = 2; a <= count; ++a) {
                calendar.Advance(&m, &d, interval);
                rule.AddEvent(m, d, first);
            }
        } else {
            if (reader.Writer) {
                *reader.Writer << "FATAL: none of the keywords \"to\" or \"times\" could be found!\n" << "[end-entry]";
            }
            IrrigationRuleError(reader, entry);
        }
        scheme = text.find("starting from", at);
    }
}

void ReadIrrigationTable(modelobject& reader, FILE* controlFile, int& irrigationSwitch,
                         std::vector<IrrigationRule>& table) {
    table.clear();
    DiagnosticsWriter* writer = reader.Writer;
    LentControlFile lent(reader, controlFile);

    reader.FindSection("[irrigation]", true);
    int on = 0;
    std::string rest;
    reader.ReadValue(controlFile, "%d", &on, "irrigation switch in [irrigation]", &rest);
    irrigationSwitch = on;
    if (on == 0) return;

    reader.FindSection("[irrigation_table]", true);
    long count = 0;
    reader.ReadValue(controlFile, "%ld", &count, "number of irrigation codes in [irrigation_table]", &rest);
    if (count < 0 || count > INT32_MAX) {
        if (writer) {
            *writer << "FATAL: [irrigation_table]: the number of irrigation codes (here " << count
                    << ") must lie between 0 and " << INT32_MAX << "\n" << "[end-entry]";
        }
        throw 29;
    }
    // The table grows with the rules read, so that a mistyped count cannot
    // exhaust memory before the section runs out.
    table.reserve(static_cast<size_t>(std::min<long>(count, 1024)) + 1);
    table.emplace_back();
    table[0].Code = static_cast<int32_t>(count);

    for (long i = 1; i <= count; ++i) {
        const int entry = static_cast<int>(i);
        const std::string number = std::to_string(entry);
        IrrigationRule rule;
        std::string name;
        RuleScanner scan(controlFile);
        if (!scan.Int32(&rule.Code) || !modelobject::ReadWord(controlFile, &name) ||
            name.size() > IrrigationRule::MaxNameLength || !scan.Int32(&rule.Method) || !scan.Int32(&rule.Origin)) {
            TableError(reader, number + ": code, name, method, or origin could not be read correctly\n",
                       scan.Detail());
        }
        rule.Name = name;
        if (rule.Method < IrrigationRule::ScheduleList || rule.Method > IrrigationRule::DemandEtrEtp) {
            RefuseSchedule(reader, entry, "the method " + std::to_string(rule.Method) + " is not one of 1 to 4");
        }

        if (rule.Method == IrrigationRule::DemandEtrEtp) {
            if (!scan.Double(&rule.MinEtrToEtp)) {
                TableError(reader, number + ": min(ETR/ETP) could not be read correctly\n", scan.Detail());
            }
            rule.psi_dry = 20;
            rule.psi_wet = 3.45;
        } else if (!scan.Double(&rule.psi_dry) || !scan.Double(&rule.psi_wet)) {
            TableError(reader, number + ": psi_dry or psi_wet could not be read correctly\n", scan.Detail());
        }

        if (rule.Method == IrrigationRule::ScheduleList) {
            int32_t events = 0;
            if (!scan.Int32(&events) || events < 0) {
                TableError(reader, number + ": tabcnt could not be read correctly\n", scan.Detail());
            }
            rule.ClearSchedule();
            for (int32_t k = 1; k <= events; ++k) {
                long month = 0, day = 0;
                double amount = 0;
                const std::string event = std::to_string(k);
                const std::string unreadable = number + " month[" + event + "] or day[" + event + "] or amount[" +
                                               event + "] could not be read\n";
                if (!scan.Long(&month) || !scan.Long(&day) || !scan.Double(&amount)) {
                    TableError(reader, unreadable, scan.Detail());
                }
                if (month < 1 || month > 12 || day < 1 || day > MaxMonthDays[month]) {
                    if (writer) {
                        *writer << "ERROR: irrigation rule " << entry << ": event " << k << " on month " << month
                                << " day " << day << " is not a date" << "[end-entry]";
                    }
                    TableError(reader, unreadable);
                }
                rule.AddEvent(month, day, amount);
            }
        } else if (rule.Method == IrrigationRule::ScheduleText) {
            rule.ClearSchedule();
            modelobject::ReadRestOfLine(controlFile, &rest);
            ReadIrrigationSchedule(reader, entry, rest, rule);
        }
        table.push_back(std::move(rule));
    }
}

void ReadIrrigation(modelobject& reader, FILE* controlFile, int modelVariant, int& irrigationSwitch,
                    std::vector<IrrigationRule>& table) {
    irrigationSwitch = 0;
    table.clear();
    if (modelVariant > 1) ReadIrrigationTable(reader, controlFile, irrigationSwitch, table);
}

// A reservoir: its element keys, rule section, balance file and one step of
// its water and tracer balance.

#include "routing/reservoir.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "framework/diagnostics_writer.h"
#include "framework/signals.h"
#include "framework/tracer_info.h"
#include "framework/string_helpers.h"
#include "routing/routing_text.h"

namespace {

constexpr int BufferBytes = 2097152;

const char* const BalanceHeader =
    "YY\tMM\tDD\tHH\tW[m]\tA[m2]\tV[m3]\tQin[m3]\tQin[mm]\tQin[m3s]\tQout[m3]\tQout[mm]\tQout[m3s]\tIrrig[m3]\tIrrig[mm]"
    "\tIrrig[m3s]\tQGW[m3]\tQGW[mm]\tQGW[m3s]\tETR[m3]\tETR[mm]\tETR[m3s]\tPREC[m3]\tPREC[mm]\tPREC[m3s]\tdV[m3]\tdV[mm]"
    "\tdV[m3s]\tAbstr[m3]\tAbstr[mm]\tAbstr[m3s]\tErr[m3]\tErr[mm]\tErr[m3s]";

// Position of the next element token at or after `from`, or the text's end.
size_t NextToken(const std::string& text, size_t from) {
    static const char* const tokens[] = {"TG", "OL", "SUMTRIB", "ZL", "AL", "SP"};
    size_t best = text.size();
    for (const char* token : tokens) {
        const size_t at = text.find(token, from);
        if (at < best) best = at;
    }
    return best;
}

// Moves `at` behind the next "=" after the key `key`, found at or after
// `at`; false when the key or its "=" is missing.
bool BehindKey(const std::string& text, size_t& at, const char* key) {
    const size_t found = text.find(key, at);
    if (found == std::string::npos) return false;
    const size_t eq = text.find('=', found + std::strlen(key));
    if (eq == std::string::npos) return false;
    at = eq + 1;
    return true;
}

bool ReadNumberAt(const std::string& text, size_t& at, double& value) {
    return routingtext::ReadWholeNumber(text, at, value);
}

// Bounds of a reservoir's start values.
constexpr double MaxVolume = 1e13;         // m3, far above the largest reservoir
constexpr double MaxConcentration = 1e12;  // in the tracer's unit
constexpr double MinSubStep = 1;           // s

void PutDateField(std::string& out, double value) {
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%2.0lf", value);
    out += buffer;
}

}  // namespace

double MixReservoirConcentration(double a, double b, double p, double q) {
    const double sum = std::fabs(p) + std::fabs(q);
    return sum == 0 ? 0.0 : (a * std::fabs(p) + b * std::fabs(q)) / sum;
}

bool NextReservoirElement(const std::string& text, size_t& position, int& code, std::string& elementText) {
    const size_t found = text.find("SP", position);
    if (found == std::string::npos) {
        position = text.size();
        return false;
    }
    size_t at = found + 2;
    const char* start = text.c_str() + at;
    char* end = nullptr;
    const long value = std::strtol(start, &end, 10);
    code = end == start || value < 0 || value > 1000000 ? -1 : static_cast<int>(value);
    at += static_cast<size_t>(end - start);
    // The code is a whole token: "1e300" or "1x" is no code.
    if (at < text.size() && (std::isalnum(static_cast<unsigned char>(text[at])) || text[at] == '.') &&
        !routingtext::KeywordAt(text, at))
        code = -1;
    position = at;
    elementText = text.substr(at, NextToken(text, at) - at);
    return true;
}

SP_class::SP_class() = default;

SP_class::~SP_class() = default;

void SP_class::Fatal(const std::string& text, int code) {
    if (Writer) *Writer << text << "[end-entry]";
    throw code;
}

void SP_class::SetParams(DiagnosticsWriter* writer, TracerInfo* tracers, int tracerCount, int outletCode,
                         MemoryGrid* gridTable, const ReservoirGeometry& geometry, const int* codeToRank,
                         int largestCode, int lakeFlag, double timeStep, const std::string& inputDirectory,
                         const std::string& outputDirectory) {
    Writer = writer;
    Tracers = tracers;
    TracerCount = tracerCount > 0 ? tracerCount : 0;
    OutletCode = outletCode;
    GridTable = gridTable;
    Geometry = geometry;
    CodeToRank = codeToRank;
    LargestCode = largestCode;
    LakeFlag = lakeFlag;
    StepMinutes = timeStep;
    InputDirectory = inputDirectory;
    OutputDirectory = outputDirectory;
    const size_t n = static_cast<size_t>(TracerCount + 1);
    State.assign(n, 0.0);
    PreviousState.assign(n, 0.0);
    LakeState.assign(n, 0.0);
    Lake.TracerStacks.assign(n, nullptr);
    // The routing's own decay over one routing step.
    StepDecay.assign(n, 1.0);
    for (int k = 1; k <= TracerCount && tracers; ++k) {
        const TracerInfo& info = tracers[k];
        if (info.radioactive != 1) continue;
        const double h = info.half_time;
        StepDecay[static_cast<size_t>(k)] = h > 0 ? std::exp(-(timeStep / 60 / 24) / (1.442695041111 * h)) : 0.0;
    }
}

void SP_class::AddOutputPath(const std::string& directory, std::string& name) {
    if (name.empty() || name[0] == '/' || name[0] == '~' || directory.empty()) return;
    name = directory + name;
}

void SP_class::ReadDescription(FILE*, int code, const std::string& text) {
    Code = code;
    const std::string who = "FATAL: for reservoir " + std::to_string(code) + ": ";
    size_t at = 0;
    // "file": one word.
    if (!BehindKey(text, at, "file")) Fatal(who + "no \"file =\" found!", 35);
    while (at < text.size() && std::isspace(static_cast<unsigned char>(text[at]))) ++at;
    const size_t wordEnd = std::min(text.find_first_of(" \t\r\n", at), text.size());
    FileName = text.substr(at, wordEnd - at);
    if (FileName.empty()) Fatal(who + "no \"file =\" found!", 35);
    at = wordEnd;
    AddOutputPath(OutputDirectory, FileName);
    double v0 = 0;
    if (!BehindKey(text, at, "V0")) Fatal(who + "no \"V0 =\" found!", 35);
    if (!ReadNumberAt(text, at, v0)) {
        Fatal(who + "no \"V0 =\" found! (\"" + routingtext::TokenAt(text, at) + "\" is no number)", 35);
    }
    if (!(v0 >= 0 && v0 <= MaxVolume)) {
        Fatal(who + "the initial volume V0 = " + routingtext::NumberText(v0) + " lies outside 0 to " +
                  routingtext::NumberText(MaxVolume) + " m3",
              35);
    }
    State[0] = v0;
    if (!BehindKey(text, at, "C0")) Fatal(who + "no \"C0 =\" found!", 35);
    for (int k = 1; k <= 9; ++k) {
        double c = 0;
        if (!ReadNumberAt(text, at, c)) {
            Fatal(who + "\"C0 =\" must be followed by nine concentrations (\"" + routingtext::TokenAt(text, at) +
                      "\" is no number)",
                  35);
        }
        if (!(c >= 0 && c <= MaxConcentration)) {
            Fatal(who + "the initial concentration " + std::to_string(k) + " of \"C0 =\", " +
                      routingtext::NumberText(c) + ", lies outside 0 to " + routingtext::NumberText(MaxConcentration),
                  35);
        }
        if (k <= TracerCount) State[static_cast<size_t>(k)] = c;
    }
    dTmin = 60;
    size_t keyAt = at;
    if (BehindKey(text, keyAt, "dTmin")) {
        double value = 0;
        const std::string token = routingtext::TokenAt(text, keyAt);
        // The rule release loops over the step in sub-steps of dTmin.
        if (!ReadNumberAt(text, keyAt, value) || !(value >= MinSubStep && (StepMinutes <= 0 || value <= 60.0 * StepMinutes))) {
            Fatal(who + "the sub-step dTmin (\"" + token + "\") must be a number from " +
                      routingtext::NumberText(MinSubStep) + " s to the routing step, " +
                      routingtext::NumberText(60.0 * StepMinutes) + " s",
                  35);
        }
        dTmin = value;
    }
    RecordValues = TracerCount + 35;
    BufferRecords = std::max(1, BufferBytes / (RecordValues * 8));
    Buffer.assign(static_cast<size_t>(RecordValues) * static_cast<size_t>(BufferRecords), 0.0);
    HeldRecords = 0;
}

bool SP_class::FindSection(FILE* controlFile, const std::string& section) {
    if (!controlFile) return false;
    std::rewind(controlFile);
    std::string line;
    int c = 0;
    while (c != EOF) {
        line.clear();
        while ((c = std::fgetc(controlFile)) != EOF && c != '\n') line += static_cast<char>(c);
        const size_t start = line.find_first_not_of(" \t\r");
        if (start == std::string::npos) continue;
        const size_t end = line.find_first_of(" \t\r", start);
        if (line.compare(start, end == std::string::npos ? std::string::npos : end - start, section) == 0) return true;
    }
    return false;
}

void SP_class::ReadRules(FILE* controlFile) {
    const std::string section = "[abstraction_rule_reservoir_" + std::to_string(Code) + "]";
    if (!FindSection(controlFile, section)) Fatal("FATAL: section " + section + " not found in control file", 34);
    std::vector<std::string> lines;
    std::string line;
    int c = 0;
    // The row count comes first; the table and its three lines follow.
    auto readLine = [&]() {
        line.clear();
        while ((c = std::fgetc(controlFile)) != EOF && c != '\n') line += static_cast<char>(c);
        lines.push_back(line);
    };
    readLine();
    // The count decides only how many lines are read; the table's parser
    // checks it. A count beyond MaxRuleRows is read as that many.
    constexpr long MaxRuleRows = 1000000;
    const long count = std::strtol(lines[0].c_str(), nullptr, 10);
    const long rows = count < 0 ? 0 : (count > MaxRuleRows ? MaxRuleRows : count);
    for (long i = 0; i < rows + 3 && c != EOF; ++i) readLine();
    // Each row of a lake's release reads the slope of the row before.
    const std::string problem = ParseRuleTable(lines, LakeFlag != 0 ? 2 : 1, Rules);
    if (!problem.empty()) Fatal("FATAL: section " + section + " in control file: " + problem, 34);
}

double SP_class::MixConcentration(double a, double b, double p, double q) { return MixReservoirConcentration(a, b, p, q); }

double SP_class::RuleOutflow(const std::vector<std::function<double(double)>>& draws, std::vector<double>& drawn,
                             int year, int month, double inflow, double timeStep, int day, int hour) {
    Year = year;
    Month = month;
    Day = day;
    Hour = hour;
    LakeRelease lake;
    if (LakeFlag != 0) {
        lake.Level = [this](double v) { return LevelFromVolume(v); };
        // Above its table a lake passes its inflow once its level is half a
        // metre above the top of its water-level table.
        lake.ThresholdLevel = Levels.empty() ? 0.0 : Levels[0];
    }
    return RuleRelease(Rules, State[0], inflow, timeStep, dTmin, year, month, day, hour,
                       LakeFlag != 0 ? &lake : nullptr, draws, drawn);
}

void SP_class::CalcBalance(const double* cin, double inflow, const std::vector<std::function<double(double)>>& draws,
                           std::vector<double>& drawRates, double timeStep, double irrigation, double abstraction,
                           int year, int month, int day, int hour) {
    const double u = 60 * timeStep;
    const int T = TracerCount;
    for (ReservoirTerm* term : {&Qin, &Qout, &Irrig, &QGW, &ETR, &PREC, &dV, &Abstr, &Err}) *term = ReservoirTerm{};
    Area = 0;
    WithdrawalShortfall = 0;
    Qin.m3 = inflow * u;

    if (LakeFlag != 0) {
        const double a = Geometry.CellSize * Geometry.CellSize;
        int wet = 0;
        for (int r = FirstRow; r <= LastRow; ++r) {
            for (int c = FirstColumn; c <= LastColumn; ++c) {
                if (static_cast<int>(Lake.LakeCodes[r][c]) != LakeCode || Lake.LakeCodes[r][c] == Geometry.NoData)
                    continue;
                if (!(Lake.Ponding[r][c] > 0)) continue;
                ++wet;
                if (Lake.Transpiration) ETR.m3 += Lake.Transpiration[r][c] * a / 1000;
                if (Lake.Precipitation) PREC.m3 += Lake.Precipitation[r][c] * a / 1000;
                if (Lake.Exchange && Lake.Baseflow) {
                    if (std::fabs(Lake.Exchange[r][c]) > 1e-10) {
                        QGW.m3 += Lake.Exchange[r][c] * a * u;
                    } else {
                        QGW.m3 -= Lake.Baseflow[r][c] * a * u;
                    }
                }
            }
        }
        GetLakeConcentrations(LakeState.data());
        WriteLakeLevel(LakeState[0]);
        Area = a * wet;
        PreviousState = State;
        State = LakeState;
    }

    // Irrigation, then abstractions, take what is there before the inflow.
    const double askedIrrigation = irrigation > 0 ? irrigation : 0.0;
    const double askedAbstraction = abstraction > 0 ? abstraction : 0.0;
    double available = State[0] > 0 ? State[0] : 0.0;
    Irrig.m3 = std::min(askedIrrigation, available);
    available -= Irrig.m3;
    Abstr.m3 = std::min(askedAbstraction, available);
    available -= Abstr.m3;
    WithdrawalShortfall = (askedIrrigation - Irrig.m3) + (askedAbstraction - Abstr.m3);
    const double before = State[0];
    State[0] = available;
    if (LakeFlag == 0) PreviousState[0] = before;

    Year = year;
    Month = month;
    Day = day;
    Hour = hour;
    if (year > 0) {
        for (int k = 1; k <= T; ++k) {
            double& c = State[static_cast<size_t>(k)];
            c *= StepDecay[static_cast<size_t>(k)];
            c = MixConcentration(c, cin ? cin[k] : 0.0, State[0], Qin.m3);
        }
    }

    std::vector<double> drawn;
    Outflow = RuleOutflow(draws, drawn, year, month, inflow, timeStep, day, hour);
    drawRates.assign(draws.size(), 0.0);
    for (size_t j = 0; j < drawn.size(); ++j) drawRates[j] = drawn[j] / u;

    if (year > 0) {
        for (size_t j = 0; j < drawn.size(); ++j) {
            // A draw never takes more than the reservoir holds with the
            // step's inflow.
            const double v = std::min(drawRates[j] * u, State[0] + Qin.m3);
            drawRates[j] = v / u;
            State[0] -= v;
            Abstr.m3 += v;
        }
        State[0] += Qin.m3;
    }
    bool emptied = false;
    if (Outflow * timeStep * 60 > State[0]) {
        Outflow = State[0] > 0 ? State[0] / 60 / timeStep : 0.0;
        emptied = true;
    }
    if (year > 0) {
        State[0] = emptied ? 0.0 : State[0] - Outflow * u;
        WriteLakeLevel(State[0]);
    }
    Qout.m3 = Outflow * u;
    if (LakeFlag != 0) {
        dV.m3 = Qin.m3 + QGW.m3 + PREC.m3 - ETR.m3 - Irrig.m3 - Abstr.m3 - Qout.m3;
        Err.m3 = State[0] - PreviousState[0] - dV.m3;
    }
    for (ReservoirTerm* term : {&Qin, &Qout, &Irrig, &QGW, &ETR, &PREC, &dV, &Abstr, &Err}) {
        term->mm = Area > 0 ? term->m3 / Area * 1000 : 0.0;
        term->m3s = term->m3 / u;
    }
}

void SP_class::OpenOutput() {
    FILE* file = std::fopen(FileName.c_str(), "w");
    if (!file) Fatal("FATAL: error opening " + FileName + " for reservoir " + std::to_string(Code), 37);
    std::string header = BalanceHeader;
    for (int k = 1; k <= TracerCount && Tracers; ++k) header += "\t" + Tracers[k].name;
    std::string text = header + "\nreservoir_" + std::to_string(Code) + "\n" + header + "\n";
    const bool written = std::fwrite(text.data(), 1, text.size(), file) == text.size();
    if (std::fclose(file) != 0 || !written)
        Fatal("FATAL: error writing " + FileName + " for reservoir " + std::to_string(Code), 37);
}

void SP_class::BufferRecord(int year, int month, int day, int hour) {
    if (RecordValues == 0) return;
    if (HeldRecords >= BufferRecords) FlushBuffer(1);
    double* r = Buffer.data() + static_cast<size_t>(HeldRecords) * static_cast<size_t>(RecordValues);
    r[0] = year;
    r[1] = month;
    r[2] = day;
    r[3] = hour;
    r[4] = LevelFromVolume(State[0]);
    r[5] = Area;
    r[6] = State[0];
    int at = 7;
    for (const ReservoirTerm* term : {&Qin, &Qout, &Irrig, &QGW, &ETR, &PREC, &dV, &Abstr, &Err}) {
        r[at++] = term->m3;
        r[at++] = term->mm;
        r[at++] = term->m3s;
    }
    for (int k = 1; k <= TracerCount; ++k) r[at++] = State[static_cast<size_t>(k)];
    ++HeldRecords;
}

void SP_class::FlushBuffer(int write) {
    if (write <= 0 || HeldRecords == 0) return;
    std::string text;
    const int values = 34 + TracerCount;
    for (int j = 0; j < HeldRecords; ++j) {
        const double* r = Buffer.data() + static_cast<size_t>(j) * static_cast<size_t>(RecordValues);
        for (int i = 0; i < 4; ++i) {
            if (i > 0) text += '\t';
            PutDateField(text, r[i]);
        }
        // Values in the shortest form that reads back exactly, so that the
        // balance closes from the file as it does in the model.
        for (int i = 4; i < values; ++i) {
            text += '\t';
            AppendShortest(text, r[i]);
        }
        text += '\n';
    }
    {
        CtrlCIgnored quiet;
        if (Writer) *Writer << "flushing to disk: " << FileName << " (" << BufferBytes << " buffersize)" << "[end-entry]";
        FILE* file = std::fopen(FileName.c_str(), "a+");
        if (!file) Fatal("FATAL: error opening reservoir file " + FileName, 65);
        const bool written = std::fwrite(text.data(), 1, text.size(), file) == text.size();
        if (std::fclose(file) != 0 || !written) Fatal("FATAL: error writing reservoir file " + FileName, 65);
    }
    HeldRecords = 0;
}

// The soil model's subbasin table, the per-subbasin runoff parameters with the
// group rule of the code line, and the glacier table.

#include <cstdio>

#include "framework/diagnostics_writer.h"
#include "framework/gridtable.h"
#include "framework/subbasin_groups.h"
#include "setup/control_text.h"
#include "soil/unsatzon.h"

namespace {

const char* const ErrorHead = "FATAL: \n-----------------error------------\n";
const char* const GroupHelp =
    "\npossible error by using the same parameters\nfor groups of subbasins:\nat least the first AND the last "
    "subbasin code have\nto be specified with all their parameters like this:\n(if the smallest code is 1 and the "
    "largest code is 8)\n1\t8\n3\t3\n8\t8\n14\t14\n0.4\t0.4\n0.01\t0.01\n0.1\t0.1\n..\t..\nThen, to all "
    "subcatchments with zone-codes ranging from 1 to 7 the \nparameters of subbasin 1 will be assigned!";

}  // namespace

SubbasinCodeMarks::SubbasinCodeMarks(const int* codeToRank, int largestCode, int count, int smallestCode)
    : CodeToRank(codeToRank),
      LargestCode(largestCode),
      Count(count),
      SmallestCode(smallestCode),
      Previous(smallestCode),
      MarksByRank(static_cast<size_t>(count) + 1, 0.0) {}

bool SubbasinCodeMarks::Add(int code) {
    if (code < 1 || code > LargestCode || CodeToRank[code] <= 0) return false;
    const int rank = CodeToRank[code];
    // A list out of order or with a code twice would hand the numbers of the
    // parameter lines to the wrong subbasins.
    if (rank <= LastRank) return false;
    const int previousRank = CodeToRank[Previous];
    if (rank > previousRank + 1) {
        int firstGap = previousRank + 1;
        if (Previous == SmallestCode && MarksByRank[1] == 0) {
            MarksByRank[1] = SmallestCode;
            firstGap = 2;
        }
        for (int r = firstGap; r < rank; ++r) MarksByRank[static_cast<size_t>(r)] = -1;
    }
    MarksByRank[static_cast<size_t>(rank)] = code;
    Previous = code;
    LastRank = rank;
    AnyListed = true;
    return true;
}

void unsatzonmodellklasse::RankSubbasins() {
    OwnSubbasins = RankZones(&SubbasinGrid);
    Subbasins.Records = OwnSubbasins.Records.data();
    Subbasins.CodeToRank = OwnSubbasins.CodeToRank.data();
    Subbasins.Count = OwnSubbasins.Count;
    Subbasins.LargestCode = OwnSubbasins.LargestCode;
}

void unsatzonmodellklasse::SubbasinError(const std::string& first, const std::string& value, bool extraNewline) {
    if (Writer) {
        *Writer << ErrorHead << first << value << "] for " << ModuleName << GroupHelp << (extraNewline ? "\n" : "")
                << "[end-entry]";
    }
    throw 10;
}

void unsatzonmodellklasse::SubbasinValueError(const std::string& name, const std::string& value,
                                              const std::string& why, long line) {
    if (Writer) {
        *Writer << ErrorHead << "error reading " << name << ": the value " << value << " " << why << " ("
                << ControlFilePath << ", line " << std::to_string(line) << ") for " << ModuleName << "[end-entry]";
    }
    throw 10;
}

void unsatzonmodellklasse::ReadSubbasinBlock() {
    FILE* f = ControlFile;
    const int n = Subbasins.Count;
    const int smallest = static_cast<int>(Subbasins.Records[1].zonenwert);
    SubbasinGroupList marks(Subbasins.CodeToRank, Subbasins.LargestCode, n, smallest, GroupRule::Soil);
    int previous = 0;
    while (!marks.Complete()) {
        long long value = 0;
        std::string text;
        const bool read = ScanInteger(f, 0, 32767, &value, &text) == IntegerScan::Read;
        const int after = std::fgetc(f);
        if (after != EOF) std::ungetc(after, f);
        // A code is one whole word of digits within the range of zone codes.
        if (!read || (after != EOF && !controltext::IsSpace(static_cast<char>(after)))) {
            SubbasinError("error reading code[", std::to_string(previous), false);
        }
        const int code = static_cast<int>(value);
        if (!marks.Add(code)) {
            if (Writer) {
                *Writer << ErrorHead << "error! there is no code " << code << " (from " << ControlFilePath
                        << ") for a subbasin in " << ModuleName << GroupHelp << "[end-entry]";
            }
            throw 10;
        }
        previous = code;
    }
    ReadRestOfLine(f, nullptr);

    // Each number must be one whole word and lie within its range: recession
    // constants [h] not negative, the baseflow Q0 finite, the channel network
    // density not negative, a fraction within 0 to 1; kelsqlat is stored as
    // its reciprocal (0 for a negative value, infinity for 0).
    struct Line {
        const char* name;
        std::vector<double>* target;
        double (*convert)(double);
        double lowest, highest;
        bool zeroRefused;
    };
    constexpr double Bound = 1e6;
    const Line lines[] = {
        {"kelsqd", &kelsqd, RecessionMinutes, 0, Bound, false},
        {"kelsqi", &kelsqi, RecessionMinutes, 0, Bound, false},
        {"channel network density", &channelNetworkDensity, [](double v) { return v; }, 0, Bound, false},
        {"kelsqlat", &kelsqlat, LateralReciprocal, -Bound, Bound, false},
        {"QB-Red.Faktor", &qbRedFaktor, [](double v) { return v; }, -1e10, 1e10, false},
        {"SnowRunoff_fraction", &SnowRunoff_fraction, [](double v) { return v; }, 0, 1, false},
    };
    for (const Line& line : lines) {
        int failedRank = 0;
        auto next = [&](double* v) {
            std::string word;
            long lineNumber = 0;
            switch (ScanNumberWord(f, v, &word, &lineNumber)) {
            case WordScan::Missing:
                return false;
            case WordScan::NotNumber: {
                double prefix = 0;
                if (!controltext::ScanDouble(word, &prefix)) return false;
                SubbasinValueError(line.name, word, "is not a number", lineNumber);
            }
            case WordScan::Read:
                break;
            }
            std::string fault = RangeFault(*v, line.lowest, line.highest);
            if (fault.empty() && line.zeroRefused && *v == 0) fault = "has no reciprocal (below 0 switches it off)";
            if (!fault.empty()) SubbasinValueError(line.name, word, fault, lineNumber);
            return true;
        };
        if (!AssignGroupedValues(marks.Marks(), *line.target, next, line.convert, &failedRank)) {
            const int code = static_cast<int>(Subbasins.Records[failedRank].zonenwert);
            SubbasinError(std::string("error reading ") + line.name + "[", std::to_string(code),
                          line.target == &qbRedFaktor);
        }
        ReadRestOfLine(f, nullptr);
    }
    subbasinCodes.assign(static_cast<size_t>(n) + 1, 0.0);
    for (int r = 1; r <= n; ++r) subbasinCodes[static_cast<size_t>(r)] = Subbasins.Records[r].zonenwert;
}

void unsatzonmodellklasse::BuildGlacierTable() {
    const bool iceFirn = FindGrid("ice_firn") > 0;
    const bool massBalance = FindGrid("GlacierMassBalance") > 0;
    if (!iceFirn && !massBalance) return;
    if (massBalance && FindGrid("GlacierizedCells") > 0) {
        GlacierFraction = RequiredGrid("GlacierizedCells");
        GlacierFractionOld = RequiredGrid("GlacierizedCellsOld");
        NamedCode immobilised{ImmobilisedFileName(StatisticsFiles[sSB_2].Name), StatisticsFiles[sSB_2].Code};
        Statistics[wIMMO] = CreateStatistics(
            immobilised, 5, "immobilised or mobilised soil water by glacier resizing 0..profile depth per zone ");
    } else {
        GlacierFraction = RequiredGrid("ice_firn");
    }
    const int n = Subbasins.Count;
    GlacierSubbasins.assign(static_cast<size_t>(n) + 1, GlacierSubbasinRecord{});
    if (ProcessNumber != 0) return;
    for (int i = 1; i <= NRows; ++i) {
        for (int j = 1; j <= NCols; ++j) {
            if (SubbasinGrid[i][j] == NoData) continue;
            const int code = static_cast<int>(ZoneCodeOf(SubbasinGrid[i][j]));
            if (code < 0 || code > Subbasins.LargestCode) continue;
            GlacierSubbasinRecord& record = GlacierSubbasins[static_cast<size_t>(Subbasins.CodeToRank[code])];
            const double g = GlacierFraction[i][j];
            if (g > 0) {
                record.hasGlacier = 1;
                record.glacierSum += g;
                record.unglacierisedSum += 1 - g;
            } else {
                record.unglacierisedSum += 1;
            }
        }
    }
}

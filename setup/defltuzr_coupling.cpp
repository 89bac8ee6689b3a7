#include "setup/defltuzr_coupling.h"

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <exception>
#include <locale>
#include <sstream>

#include "framework/diagnostics_writer.h"
#include "framework/gridfiles.h"
#include "framework/gridtable.h"
#include "framework/modelobject.h"
#include "framework/signals.h"
#include "framework/statistics_table.h"
#include "setup/control_text.h"

namespace {

const char* const ErrorBanner = "FATAL: -----------------error------------\n";
const char* const MissingParameterReason =
    "\npossible reason: parameter missing or a linefeed \nbefore the end of the parameter block";

bool StartsWith(const std::string& text, const char* prefix) { return text.rfind(prefix, 0) == 0; }

bool ValidRhythm(char rhythm) {
    return rhythm == 'I' || rhythm == 'H' || rhythm == 'D' || rhythm == 'M' || rhythm == 'Y';
}

// printf-style formatting of any length.
template <typename... Args>
std::string Format(const char* format, Args... args) {
    const int length = std::snprintf(nullptr, 0, format, args...);
    std::string text(static_cast<size_t>(length > 0 ? length : 0), '\0');
    std::snprintf(text.data(), text.size() + 1, format, args...);
    return text;
}

}  // namespace

std::string PeriodEndFileName(const std::string& fileName, char period, int64_t year, int64_t month, int64_t day) {
    const size_t slash = fileName.find_last_of("/\\");
    const std::string directory = slash == std::string::npos ? std::string() : fileName.substr(0, slash + 1);
    const std::string base = slash == std::string::npos ? fileName : fileName.substr(slash + 1);
    const long y = static_cast<long>(year), m = static_cast<long>(month), d = static_cast<long>(day);
    switch (period) {
    case 'D':
        return directory + Format("SumTotal_EndOf_Day_%.04ld_%.02ld_%.02ld_", y, m, d) + base;
    case 'M':
        return directory + Format("SumTotal_EndOf_Month_%.04ld_%.02ld_", y, m) + base;
    default:
        return directory + Format("SumTotal_EndOf_Year_%.04ld_", y) + base;
    }
}

ExternalCoupling::ExternalCoupling(modelobject& owner) : Owner(owner) {}

ExternalCoupling::Aggregation ExternalCoupling::AggregationOf(const std::string& writeCode) {
    if (writeCode == "Sum") return Aggregation::Sum;
    if (writeCode == "Mean") return Aggregation::Mean;
    if (StartsWith(writeCode, "SumTotal")) return Aggregation::SumTotal;
    return Aggregation::Snapshot;
}

bool ExternalCoupling::HasExternalGWTable() const {
    for (const IncomingGrid& grid : IncomingGrids) {
        if (grid.Entity == GroundwaterTableEntity) return true;
    }
    return false;
}

void ExternalCoupling::Fatal(const std::string& text, int code) {
    if (Owner.Writer) *Owner.Writer << text << "[end-entry]";
    throw code;
}

void ExternalCoupling::GroupError(const std::string& what) {
    Fatal(ErrorBanner + what + Owner.ModuleName + MissingParameterReason, 10);
}

int ExternalCoupling::ReadCount(const char* description) {
    int count = 0;
    Owner.ReadValue(Owner.ControlFile, "%d", &count, description);
    if (count < 0) {
        Owner.ControlFileError(std::string(description) + " (the count " + std::to_string(count) +
                                   " is negative)",
                               Owner.ModuleName);
    }
    return count;
}

std::string ExternalCoupling::ReadGroupWord(const std::string& what) {
    std::string word;
    if (!modelobject::ReadWord(Owner.ControlFile, &word)) GroupError(what);
    return word;
}

int ExternalCoupling::ReadGroupInt(const std::string& what) {
    const std::string word = ReadGroupWord(what);
    int value = 0;
    size_t end = 0;
    if (!controltext::ScanInt(word, &value, &end) || end != word.size()) GroupError(what);
    return value;
}

std::string ExternalCoupling::ReadWriteCode(const std::string& what) {
    std::string code = ReadGroupWord(what);
    if (code.size() > MaxWriteCodeLength) GroupError(what);
    return code;
}

void ExternalCoupling::GetCouplingParameters() {
    Mode = 0;
    IncomingGrids.clear();
    OutgoingGrids.clear();
    OutgoingStatistics.clear();
    if (!Owner.ControlFile) {
        Owner.ControlFile = std::fopen(Owner.ControlFilePath.c_str(), "r");
        if (!Owner.ControlFile) Fatal("FATAL: error opening " + Owner.ControlFilePath, 14);
    }
    if (!Owner.FindSection("[ExternalCoupling]", false)) return;
    FILE* control = Owner.ControlFile;

    int mode = 0;
    Owner.ReadValue(control, "%d", &mode, "Coupling mode ");
    if (mode == 0) return;
    if (Owner.ProcessCount > 1) {
        Fatal(std::string(ErrorBanner) +
                  "external coupling does not work when running in MPI mode with more than 1 instance (i.e. "
                  "you should use the non-MPI-version)",
              1009);
    }

    Owner.ReadValue(control, "%s", &SemaphoreFile, "name of the semaphore file ");
    Owner.ReadValue(control, "%ld", &WaitInterval, "wait interval for scanning for external grids ");
    char rhythm = 0;
    Owner.ReadValue(control, "%c", &rhythm, "Coupling mode for external grids (I, H, D, M or Y) ");
    if (!ValidRhythm(rhythm)) {
        Fatal(std::string(ErrorBanner) + "error reading Coupling Mode (I, H, D, M or Y) for external gw table grid " +
                  Owner.ModuleName + MissingParameterReason,
              10);
    }
    Rhythm = rhythm;
    Owner.ReadValue(control, "%d", &ExternalTimestep, "the external model's timestep in minutes ");

    const std::string readGroup = "error reading external (read) grid name/entity/fill code/rename code ";
    const int incoming = ReadCount("number external grids (to read)");
    std::vector<IncomingGrid> incomingGrids;
    for (int k = 0; k < incoming; ++k) {
        IncomingGrid grid;
        grid.FileName = ReadGroupWord(readGroup);
        grid.Entity = ReadGroupWord(readGroup);
        grid.FillCode = ReadGroupInt(readGroup);
        grid.RenameCode = ReadGroupInt(readGroup);
        incomingGrids.push_back(std::move(grid));
    }
    if (incoming > 0) modelobject::ReadRestOfLine(control, nullptr);

    const std::string writeGroup = "error reading external (write) grid name/entity/Writecode";
    const int outgoing = ReadCount("number external grids (to write)");
    std::vector<OutgoingGrid> outgoingGrids;
    for (int k = 0; k < outgoing; ++k) {
        OutgoingGrid grid;
        grid.FileName = ReadGroupWord(writeGroup);
        grid.Entity = ReadGroupWord(writeGroup);
        grid.WriteCode = ReadWriteCode(writeGroup);
        outgoingGrids.push_back(std::move(grid));
    }
    if (outgoing > 0) modelobject::ReadRestOfLine(control, nullptr);

    const std::string statisticGroup = "error reading external (write) Statfile name/entity/writecode";
    const int statistics = ReadCount("number external Stats (to write)");
    std::vector<OutgoingStatistic> outgoingStatistics;
    for (int k = 0; k < statistics; ++k) {
        OutgoingStatistic statistic;
        statistic.FileName = ReadGroupWord(statisticGroup);
        statistic.Entity = ReadGroupWord(statisticGroup);
        statistic.WriteCode = ReadWriteCode(statisticGroup);
        outgoingStatistics.push_back(std::move(statistic));
    }
    if (statistics > 0) modelobject::ReadRestOfLine(control, nullptr);

    Owner.ReadValue(control, "%s", &OutSemaphoreFile, "semaphore file name for informing the external model ");
    Owner.ReadValue(control, "%s", &OutSemaphoreContent, "semaphore Content for informing the external model ");

    for (OutgoingGrid& grid : outgoingGrids) {
        if (AggregationOf(grid.WriteCode) != Aggregation::Snapshot) AllocateAccumulator(grid.Sum);
    }
    IncomingGrids = std::move(incomingGrids);
    OutgoingGrids = std::move(outgoingGrids);
    OutgoingStatistics = std::move(outgoingStatistics);
    StepCounter = 0;
    Mode = mode;
}

void ExternalCoupling::FindCouplingEntities(StatisticsTableEntry* table, int entries, int zoneCount) {
    Table = table;
    TableEntries = entries;
    ZoneCount = zoneCount;

    for (IncomingGrid& grid : IncomingGrids) {
        grid.GridIndex = Owner.FindGrid(grid.Entity);
        if (grid.GridIndex <= 0) {
            Fatal(std::string(ErrorBanner) + "error looking for internal grid to read from " + grid.FileName +
                      ", with internal name \"" + grid.Entity +
                      "\"\npossible reason: internal name of the grid is wrong (case sensitive!)",
                  1003);
        }
    }
    for (OutgoingGrid& grid : OutgoingGrids) {
        grid.GridIndex = Owner.FindGrid(grid.Entity);
        if (grid.GridIndex <= 0) {
            Fatal(std::string(ErrorBanner) + "error looking for internal grid to write to " + grid.FileName +
                      " with internal name \"" + grid.Entity +
                      "\"\npossible reason: internal name of the grid is wrong (case sensitive!)",
                  1004);
        }
    }
    const int limit = entries < StatisticsTableSize ? entries : StatisticsTableSize;
    for (OutgoingStatistic& statistic : OutgoingStatistics) {
        statistic.Entry = nullptr;
        for (int i = 0; table && i < limit && table[i].ValueCount != 0; ++i) {
            std::string name = table[i].NameText ? table[i].NameText : "";
            for (char& c : name) {
                if (c == ' ') c = '_';
            }
            if (name.find(statistic.Entity) != std::string::npos) {
                statistic.Entry = &table[i];
                break;
            }
        }
        if (!statistic.Entry) {
            Fatal(std::string(ErrorBanner) + "error looking for zonal statistic with internal name \"" +
                      statistic.Entity +
                      "\"\npossible reason: name of the statistic entity is wrong (case sensitive!)",
                  1005);
        }
        const int64_t count = statistic.Entry->ValueCount;
        statistic.Sums.assign(static_cast<size_t>(count > 0 ? count : 1), 0.0);
    }
}

std::string ExternalCoupling::InputPath(const std::string& fileName) const {
    std::string path = fileName;
    PrefixDirectory(Owner.InputDirectory, path);
    return path;
}

std::string ExternalCoupling::OutputPath(const std::string& fileName) const {
    std::string path = fileName;
    PrefixDirectory(Owner.OutputDirectory, path);
    return path;
}

double** ExternalCoupling::EntityGrid(int index) const {
    if (!Owner.GridTable || index < FirstGridIndex || index > LastGridIndex) return nullptr;
    return Owner.GridTable[index].Data;
}

void ExternalCoupling::ReadExternalGrids(int64_t year, int64_t month, int64_t day, int64_t hour) {
    for (IncomingGrid& grid : IncomingGrids) {
        double** target = EntityGrid(grid.GridIndex);
        if (!target) Fatal("FATAL: error reading external grid " + grid.FileName, 1001);
        try {
            Owner.ReadGrid(grid.FileName, target, grid.FillCode, false, false, 0.0, true);
        } catch (const std::exception&) {
            Fatal("FATAL: error reading external grid " + grid.FileName, 1001);
        }
        ArmCtrlCHandler();

        // The file read is the one in the input directory; it is renamed or
        // deleted there.
        const std::string path = InputPath(grid.FileName);
        if (grid.RenameCode == 1) {
            const std::string newName = path + Format("_%.4ld_%.2ld_%.2ld_%.2ld_%ld", static_cast<long>(year),
                                                      static_cast<long>(month), static_cast<long>(day),
                                                      static_cast<long>(hour), static_cast<long>(std::clock()));
            if (std::rename(path.c_str(), newName.c_str()) != 0) {
                Fatal("FATAL: error renaming external grid " + path + " nach " + newName, 1002);
            }
        } else if (grid.RenameCode == 0) {
            if (std::remove(path.c_str()) != 0) Fatal("FATAL: error deleting external grid " + path, 1002);
        }
    }
    if (std::remove(SemaphoreFile.c_str()) != 0) Fatal("FATAL: error deleting semaphore file " + SemaphoreFile, 1001);
}

bool ExternalCoupling::InsideZone(long row, long col) const {
    double** zone = Owner.GridTable ? Owner.GridTable[1].Data : nullptr;
    if (!zone) return true;
    return zone[row] && zone[row][col] > Owner.NoData;
}

void ExternalCoupling::AllocateAccumulator(Accumulator& sum) {
    const long rows = Owner.NRows > 0 ? Owner.NRows : 0;
    const long cols = Owner.NCols > 0 ? Owner.NCols : 0;
    sum.Cells.assign(static_cast<size_t>((rows + 1) * (cols + 1)), 0.0);
    sum.Rows.assign(static_cast<size_t>(rows + 1), nullptr);
    for (long i = 0; i <= rows; ++i) sum.Rows[i] = sum.Cells.data() + i * (cols + 1);
}

void ExternalCoupling::ResetAccumulator(Accumulator& sum) {
    double** cells = sum.Data();
    if (!cells) return;
    for (long i = 1; i <= Owner.NRows; ++i) {
        for (long j = 1; j <= Owner.NCols; ++j) cells[i][j] = InsideZone(i, j) ? 0.0 : Owner.NoData;
    }
}

void ExternalCoupling::AddToAccumulator(Accumulator& sum, double** current) {
    double** cells = sum.Data();
    if (!cells) return;
    for (long i = 1; i <= Owner.NRows; ++i) {
        const double* row = current ? current[i] : nullptr;
        for (long j = 1; j <= Owner.NCols; ++j) {
            if (row && InsideZone(i, j)) {
                cells[i][j] += row[j];
            } else {
                cells[i][j] = Owner.NoData;
            }
        }
    }
}

void ExternalCoupling::DivideAccumulator(Accumulator& sum, double divisor) {
    double** cells = sum.Data();
    if (!cells) return;
    for (long i = 1; i <= Owner.NRows; ++i) {
        for (long j = 1; j <= Owner.NCols; ++j) {
            if (InsideZone(i, j)) cells[i][j] /= divisor;
        }
    }
}

void ExternalCoupling::AccumulateExternalOutput() {
    // A running total takes every step, not only the steps that end an
    // interval, so grids of "SumTotal..." accumulate here as well.
    for (OutgoingGrid& grid : OutgoingGrids) {
        if (AggregationOf(grid.WriteCode) == Aggregation::Snapshot) continue;
        AddToAccumulator(grid.Sum, EntityGrid(grid.GridIndex));
    }
    for (OutgoingStatistic& statistic : OutgoingStatistics) {
        if (AggregationOf(statistic.WriteCode) == Aggregation::Snapshot || !statistic.Entry) continue;
        const StatisticsTableEntry& entry = *statistic.Entry;
        if (!entry.CurrentValues) continue;
        for (int64_t k = 1; k < entry.ValueCount && k < static_cast<int64_t>(statistic.Sums.size()); ++k) {
            statistic.Sums[k] += entry.CurrentValues[k];
        }
    }
    ++StepCounter;
}

void ExternalCoupling::WritePeriodFiles(OutgoingGrid& grid, int64_t day, int64_t month, int64_t year, int dayEnded,
                                        int monthEnded, int yearEnded) {
    const std::string& code = grid.WriteCode;
    const bool ascii = Owner.WriteAsciiGrids, doubles = Owner.WriteDoubleGrids;
    if (dayEnded && StartsWith(code, "SumTotal_D")) {
        Owner.WriteGrid(PeriodEndFileName(grid.FileName, 'D', year, month, day), grid.Sum.Data(), ascii, doubles);
    }
    if (monthEnded && (StartsWith(code, "SumTotal_M") || StartsWith(code, "SumTotal_DM"))) {
        Owner.WriteGrid(PeriodEndFileName(grid.FileName, 'M', year, month, day), grid.Sum.Data(), ascii, doubles);
    }
    if (yearEnded && (code == "SumTotal_Y" || code == "SumTotal_MY" || code == "SumTotal_DMY")) {
        Owner.WriteGrid(PeriodEndFileName(grid.FileName, 'Y', year, month, day), grid.Sum.Data(), ascii, doubles);
    }
}

void ExternalCoupling::WriteExternalOutput(int64_t day, int64_t month, int64_t year, int dayEnded, int monthEnded,
                                           int yearEnded) {
    ++StepCounter;
    const bool ascii = Owner.WriteAsciiGrids, doubles = Owner.WriteDoubleGrids;
    for (OutgoingGrid& grid : OutgoingGrids) {
        double** current = EntityGrid(grid.GridIndex);
        switch (AggregationOf(grid.WriteCode)) {
        case Aggregation::Sum:
        case Aggregation::SumTotal:
            AddToAccumulator(grid.Sum, current);
            Owner.WriteGrid(grid.FileName, grid.Sum.Data(), ascii, doubles);
            WritePeriodFiles(grid, day, month, year, dayEnded, monthEnded, yearEnded);
            break;
        case Aggregation::Mean:
            AddToAccumulator(grid.Sum, current);
            DivideAccumulator(grid.Sum, StepCounter);
            Owner.WriteGrid(grid.FileName, grid.Sum.Data(), ascii, doubles);
            break;
        case Aggregation::Snapshot:
            Owner.WriteGrid(grid.FileName, current, ascii, doubles);
            break;
        }
        const Aggregation aggregation = AggregationOf(grid.WriteCode);
        if (aggregation == Aggregation::Sum || aggregation == Aggregation::Mean) ResetAccumulator(grid.Sum);
    }
    for (OutgoingStatistic& statistic : OutgoingStatistics) WriteStatisticFile(statistic);
    StepCounter = 0;
}

void ExternalCoupling::WriteStatisticFile(OutgoingStatistic& statistic) {
    if (!statistic.Entry) return;
    const StatisticsTableEntry& entry = *statistic.Entry;
    const Aggregation aggregation = AggregationOf(statistic.WriteCode);

    std::ostringstream text;
    text.imbue(std::locale::classic());
    const std::string name = entry.NameText ? entry.NameText : "";
    if (name.size() > 100) {
        text << name.substr(0, 100) << "..." << "; " << ZoneCount << " Gebiete\n";
    } else {
        text << name << "; " << ZoneCount << " zones\n";
    }
    const int64_t count = std::min<int64_t>(entry.ValueCount, static_cast<int64_t>(statistic.Sums.size()));
    for (int64_t k = 1; k < count; ++k) {
        const double current = entry.CurrentValues ? entry.CurrentValues[k] : 0.0;
        double value = current;
        switch (aggregation) {
        case Aggregation::Sum:
            value = statistic.Sums[k] + current;
            statistic.Sums[k] = 0;
            break;
        case Aggregation::SumTotal:
            statistic.Sums[k] += current;
            value = statistic.Sums[k];
            break;
        case Aggregation::Mean:
            value = (statistic.Sums[k] + current) / StepCounter;
            statistic.Sums[k] = 0;
            break;
        case Aggregation::Snapshot:
            break;
        }
        const auto code = static_cast<unsigned long long>(entry.ColumnCodes ? entry.ColumnCodes[k] : 0);
        text << code << '\t' << value << '\n';
    }

    const std::string path = OutputPath(statistic.FileName);
    const std::string content = text.str();
    {
        CtrlCIgnored quiet;
        FILE* file = std::fopen(path.c_str(), "w");
        if (!file) Fatal("FATAL: error creating " + path + " for writing in text mode.", 26);
        if (!content.empty() && std::fwrite(content.data(), 1, content.size(), file) != content.size()) {
            std::fclose(file);
            Owner.WriteError(path, 18);
        }
        if (std::fclose(file) != 0) Fatal("FATAL: error closing " + path, 27);
    }
    ArmCtrlCHandler();
}

void ExternalCoupling::Release() {
    IncomingGrids.clear();
    IncomingGrids.shrink_to_fit();
    OutgoingGrids.clear();
    OutgoingGrids.shrink_to_fit();
    OutgoingStatistics.clear();
    OutgoingStatistics.shrink_to_fit();
    SemaphoreFile.clear();
    OutSemaphoreFile.clear();
    OutSemaphoreContent.clear();
    Table = nullptr;
    Mode = 0;
}

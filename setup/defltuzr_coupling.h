#pragma once
// Exchange with a coupled program: the settings of "[ExternalCoupling]", the
// grids the other program supplies (read into grid-table entries at the start
// of a coupling interval), and the grids and zonal statistics handed back at
// its end, summed or averaged over the steps of the interval when asked.
// The set-up object owns one of these and forwards its coupling operations to
// it; the reading primitives, the writer, the grid table and the grid files
// are the owner's.

#include <cstdint>
#include <string>
#include <vector>

class modelobject;
struct StatisticsTableEntry;

class ExternalCoupling {
public:
    // Grid-table entity that the soil model takes as the external groundwater table.
    static constexpr const char* GroundwaterTableEntity = "GWTableExtern";
    // Longest write code accepted.
    static constexpr size_t MaxWriteCodeLength = 49;

    explicit ExternalCoupling(modelobject& owner);
    ExternalCoupling(const ExternalCoupling&) = delete;
    ExternalCoupling& operator=(const ExternalCoupling&) = delete;

    // Reads the optional "[ExternalCoupling]" section of the owner's compiled
    // control file (opened here when the owner holds no open stream; it stays
    // open) and allocates the accumulators.
    void GetCouplingParameters();
    // Resolves the grid entities in the owner's grid table (codes 1003, 1004)
    // and the statistic entities among the registered entries of `table`
    // (code 1005). `zoneCount` is the number of zones of the model's zone
    // table, quoted in the statistics files.
    void FindCouplingEntities(StatisticsTableEntry* table, int entries, int zoneCount);

    // Reads every incoming grid into its entity, renames or deletes its file,
    // then deletes the incoming semaphore file. The date names renamed files.
    void ReadExternalGrids(int64_t year, int64_t month, int64_t day, int64_t hour);
    // The work of a step that ends no coupling interval.
    void AccumulateExternalOutput();
    // The work of the step that ends a coupling interval: the date is the
    // interval's, the flags (0 or 1) say whether a day, month or year ends
    // with it.
    void WriteExternalOutput(int64_t day, int64_t month, int64_t year, int dayEnded, int monthEnded,
                             int yearEnded);

    // True when the coupling mode is 1.
    bool IsCoupled() const { return Mode == 1; }
    int GetCouplingMode() const { return Mode; }
    const std::string& GetSemaphoreFile() const { return SemaphoreFile; }
    const std::string& GetOutSemaphoreFile() const { return OutSemaphoreFile; }
    const std::string& GetOutSemaphoreContent() const { return OutSemaphoreContent; }
    long GetWaitInterval() const { return WaitInterval; }
    char GetCouplingRhythm() const { return Rhythm; }
    int GetExternalTimestep() const { return ExternalTimestep; }
    // True when some incoming grid feeds the external groundwater table.
    bool HasExternalGWTable() const;

    // Frees lists and accumulators (teardown of the owner).
    void Release();

    // An incoming grid.
    struct IncomingGrid {
        std::string FileName;
        std::string Entity;
        int FillCode = 0;
        int RenameCode = 0;  // 1 rename after reading, 0 delete, other values keep
        int GridIndex = 0;   // grid-table entry of the entity, once resolved
    };
    // A contiguous [1..rows][1..cols] matrix of doubles.
    struct Accumulator {
        std::vector<double> Cells;
        std::vector<double*> Rows;
        double** Data() { return Rows.empty() ? nullptr : Rows.data(); }
    };
    // An outgoing grid.
    struct OutgoingGrid {
        std::string FileName;
        std::string Entity;
        std::string WriteCode;
        int GridIndex = 0;
        Accumulator Sum;  // "Sum", "Mean" and "SumTotal..." only
    };
    // An outgoing statistic; the coupling keeps its own sums, so that two
    // outputs of one statistic never disturb each other.
    struct OutgoingStatistic {
        std::string FileName;
        std::string Entity;
        std::string WriteCode;
        const StatisticsTableEntry* Entry = nullptr;  // the registered statistic, once resolved
        std::vector<double> Sums;                     // 1 to value count - 1
    };

    const std::vector<IncomingGrid>& Incoming() const { return IncomingGrids; }
    const std::vector<OutgoingGrid>& Outgoing() const { return OutgoingGrids; }
    const std::vector<OutgoingStatistic>& Statistics() const { return OutgoingStatistics; }
    int GetStepCounter() const { return StepCounter; }

private:
    enum class Aggregation { Sum, Mean, SumTotal, Snapshot };
    static Aggregation AggregationOf(const std::string& writeCode);

    [[noreturn]] void Fatal(const std::string& text, int code);
    [[noreturn]] void GroupError(const std::string& what);
    int ReadCount(const char* description);
    std::string ReadGroupWord(const std::string& what);
    int ReadGroupInt(const std::string& what);
    std::string ReadWriteCode(const std::string& what);

    bool InsideZone(long row, long col) const;
    double** EntityGrid(int index) const;
    void AllocateAccumulator(Accumulator& sum);
    void ResetAccumulator(Accumulator& sum);
    void AddToAccumulator(Accumulator& sum, double** current);
    void DivideAccumulator(Accumulator& sum, double divisor);
    void WritePeriodFiles(OutgoingGrid& grid, int64_t day, int64_t month, int64_t year, int dayEnded,
                          int monthEnded, int yearEnded);
    void WriteStatisticFile(OutgoingStatistic& statistic);
    std::string OutputPath(const std::string& fileName) const;
    std::string InputPath(const std::string& fileName) const;

    modelobject& Owner;

    int Mode = 0;
    std::string SemaphoreFile;
    long WaitInterval = 100;
    char Rhythm = 'I';
    int ExternalTimestep = 0;
    int StepCounter = 0;
    std::string OutSemaphoreFile;
    std::string OutSemaphoreContent;

    std::vector<IncomingGrid> IncomingGrids;
    std::vector<OutgoingGrid> OutgoingGrids;
    std::vector<OutgoingStatistic> OutgoingStatistics;

    StatisticsTableEntry* Table = nullptr;
    int TableEntries = 0;
    int ZoneCount = 0;
};

// The name of a period-end file: the directory part of `fileName` (up to its
// last "/" or "\"), then "SumTotal_EndOf_Day_YYYY_MM_DD_", "..._Month_YYYY_MM_"
// or "..._Year_YYYY_", then the base name. `period` is 'D', 'M' or 'Y'.
std::string PeriodEndFileName(const std::string& fileName, char period, int64_t year, int64_t month, int64_t day);

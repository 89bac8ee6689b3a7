#pragma once
// The statistics table: the application keeps 200 usable entries (plus one
// that stays zero), and every statistics writer registers its latest values
// in the first free one, so that other components (the external coupling)
// can find a statistic by name and read what it wrote last.

#include <cstdint>

// One entry: ten 64-bit words. The arrays are shared with the writer that
// registered the entry; a reader uses the values 1 to ValueCount - 1.
struct StatisticsTableEntry {
    int64_t Year = 0;   // date of the writer's last row at registration
    int64_t Month = 0;
    int64_t Day = 0;
    int64_t Hour = 0;
    int64_t ValueCount = 0;          // 0 marks a free entry
    double* CurrentValues = nullptr; // values of the last written row, 1-based
    double* ReaderSums = nullptr;    // zero at registration; readers may accumulate here
    double* AreaFractions = nullptr; // area fraction (or weight) of each column
    char* NameText = nullptr;        // "<name>_submodel:<sub-model>"
    int64_t* ColumnCodes = nullptr;  // zone code of each column, 0 for the total
};

// Usable entries of the application's table; the table itself has one more.
constexpr int StatisticsTableSize = 200;

// Index of the first free entry among 0 to entries - 1, or -1.
inline int FirstFreeStatisticsEntry(const StatisticsTableEntry* table, int entries) {
    if (!table) return -1;
    for (int i = 0; i < entries; ++i) {
        if (table[i].ValueCount == 0) return i;
    }
    return -1;
}

#include "framework/zonetable.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include "framework/diagnostics_writer.h"

namespace {

[[noreturn]] void BrokenInvariant(const char* what, const char* file, int line) {
    std::fprintf(stderr, "internal error: %s (%s:%d)\n", what, file, line);
    std::abort();
}

#define ZONE_CHECK(condition) \
    do { \
        if (!(condition)) BrokenInvariant(#condition, __FILE__, __LINE__); \
    } while (0)

[[noreturn]] void Fatal(DiagnosticsWriter* writer, int code, auto&&... pieces) {
    if (writer) {
        (*writer << ... << pieces);
        *writer << "[end-entry]";
    }
    throw code;
}

// Messages of the two rankings.
[[noreturn]] void BadCode(ZoneRankingKind kind, DiagnosticsWriter* writer, const std::string& file) {
    if (kind == ZoneRankingKind::SubModel) {
        Fatal(writer, 3, "FATAL: wrong zone index in ", file, "!\n Zones have to range from 0 to ", MaxZoneCode,
              "!");
    }
    Fatal(writer, 3, "FATAL: invalid zone code in ", file, "!\n (codes has to be between 0 and ", MaxZoneCode,
          ")!");
}

[[noreturn]] void TooManyZones(ZoneRankingKind kind, DiagnosticsWriter* writer, const std::string& file) {
    if (kind == ZoneRankingKind::SubModel) {
        Fatal(writer, 4, "FATAL: too much zones in ", file, ", (max. ", MaxZoneCount, "!)");
    }
    Fatal(writer, 4, "FATAL: too much zones in ", file, ", (max. ", MaxZoneCount, ")!");
}

[[noreturn]] void NoValidCell(ZoneRankingKind kind, DiagnosticsWriter* writer, const std::string& file) {
    if (kind == ZoneRankingKind::SubModel) Fatal(writer, 7, "FATAL: all cells in ", file, " are NODATA!");
    Fatal(writer, 7, "FATAL: all cells in the zone grid ", file, " are NODATA!");
}

// Calls visit(row, col, value) for every valid cell in row and column order.
template <typename Visit>
void ForEachValidCell(double** grid, int32_t rows, int32_t cols, const std::vector<RowExtent>& extents,
                      double missingValue, Visit&& visit) {
    for (int32_t i = 1; i <= rows; ++i) {
        const int32_t first = std::max<int32_t>(1, extents[i].first);
        const int32_t last = std::min<int32_t>(cols, extents[i].last);
        const double* row = grid[i];
        for (int32_t j = first; j <= last; ++j) {
            if (row[j] == missingValue) continue;
            visit(i, j, row[j]);
        }
    }
}

}  // namespace

std::vector<RowExtent> DeriveRowExtents(double** grid, int32_t rows, int32_t cols, double missingValue) {
    std::vector<RowExtent> extents(static_cast<size_t>(std::max<int32_t>(rows, 0)) + 1);
    for (int32_t i = 1; i <= rows; ++i) {
        const double* row = grid[i];
        RowExtent& e = extents[i];
        for (int32_t j = 1; j <= cols; ++j) {
            if (row[j] == missingValue) continue;
            if (e.last < 0) e.first = j;
            e.last = j;
        }
    }
    return extents;
}

ZoneTable RankZoneGrid(ZoneRankingKind kind, double** zoneGrid, int32_t rows, int32_t cols,
                       const RowExtent* rowExtents, double missingValue, double cellSize, double** relativeArea,
                       DiagnosticsWriter* writer, const std::string& fileName, const std::string& moduleName) {
    const bool subModel = kind == ZoneRankingKind::SubModel;
    ZoneTable table;
    if (writer) *writer << "ranking zones from " << fileName << " for " << moduleName << "[end-entry]";

    // The scan runs within the row extents: given to a sub-model, derived from
    // the whole grid by the set-up.
    std::vector<RowExtent> extents;
    if (subModel) {
        ZONE_CHECK(rowExtents != nullptr || rows <= 0);
        extents.assign(static_cast<size_t>(std::max<int32_t>(rows, 0)) + 1, RowExtent{});
        for (int32_t i = 1; i <= rows; ++i) extents[i] = rowExtents[i];
    } else {
        extents = DeriveRowExtents(zoneGrid, rows, cols, missingValue);
    }

    // Register the codes. Ranks come out in ascending order of code, which is
    // also ascending order of the first value met with each code.
    std::vector<double> firstValue(MaxZoneCode + 1, 0.0);
    std::vector<char> seen(MaxZoneCode + 1, 0);
    int count = 0;
    int largest = 0;
    ForEachValidCell(zoneGrid, rows, cols, extents, missingValue, [&](int32_t, int32_t, double value) {
        const double code = ZoneCodeOf(value);
        if (!(code >= 0 && code <= MaxZoneCode)) BadCode(kind, writer, fileName);
        const int c = static_cast<int>(code);
        if (seen[c]) return;
        if (++count > MaxZoneCount) TooManyZones(kind, writer, fileName);
        seen[c] = 1;
        firstValue[c] = value;
        largest = std::max(largest, c);
    });

    table.Count = count;
    table.LargestCode = largest;
    table.Records.assign(static_cast<size_t>(count) + 1, ZoneRecord{});
    table.CodeToRank.assign(static_cast<size_t>(largest) + 1, 0);
    if (subModel) table.Records[0].zonenwert = 1;
    int rank = 0;
    for (int c = 0; c <= largest; ++c) {
        if (!seen[c]) continue;
        table.CodeToRank[c] = ++rank;
        table.Records[rank].zonenwert = firstValue[c];
    }

    // Cell counts and weighted sums per zone.
    ForEachValidCell(zoneGrid, rows, cols, extents, missingValue, [&](int32_t i, int32_t j, double value) {
        ZoneRecord& r = table.Records[table.CodeToRank[static_cast<int>(ZoneCodeOf(value))]];
        const double weight = relativeArea ? relativeArea[i][j] : 1.0;
        r.sx += 1;
        r.n += weight;
        r.RelCellSum += weight;
    });

    double total = 0;
    for (int k = 1; k <= count; ++k) total += table.Records[k].n;
    if (count == 0 || total == 0) NoValidCell(kind, writer, fileName);
    for (int k = 1; k <= count; ++k) table.Records[k].rel = table.Records[k].n / total;
    table.Records[0].rel = total * cellSize * cellSize / 1000000.0;

    if (subModel && count > MaxSubbasinCount) {
        Fatal(writer, 4, "FATAL: too much subbasins (", count, ") in ", moduleName, " (max. ", MaxSubbasinCount,
              "). Ende!");
    }
    if (!subModel) table.RowExtents = std::move(extents);
    return table;
}

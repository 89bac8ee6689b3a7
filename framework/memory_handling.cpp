#include "framework/memory_handling.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <iostream>

#include <omp.h>

#include "framework/diagnostics_writer.h"
#include "framework/parallel_rows.h"

namespace {

// A new grid of many cells is cleared by a team of threads: most of the
// set-up's time goes into zeroing fresh grids and into the page faults of
// their first touch, several hundred grids on a large basin. Measured on the
// 8-core machine while others used it (a grid made and filled with nodata):
// 120,000 cells 2.4 ms on 1 thread, 1.3 ms on 8 (the kernel's page faults
// scale only so far); 19,200 cells 0.41 ms on 1 thread, 0.91 on 8. Below the
// light pass's cell count (32,768) a plain calloc stays.
// On one thread calloc is kept: it leaves fresh pages untouched until used.
bool ClearInParallel(long long cells) {
    return omp_get_max_threads() > 1 && WorthThreadsForLightPass(static_cast<int64_t>(cells));
}

// Zeroes the rows first..last of a matrix whose rows are `length` doubles.
void ClearRows(double** rows, long first, long last, size_t length) {
#pragma omp parallel for schedule(static, 1)
    for (long r = first; r <= last; ++r) std::memset(rows[r], 0, length * sizeof(double));
}

}  // namespace

void memory_handling::MatrixFatal(const char* text) {
    if (Writer) {
        *Writer << text << "[end-entry]";
    } else {
        std::cerr << text << "\n";
    }
    throw 1;
}

double memory_handling::Log2Ceil(double x) {
    double n = 0;
    while (x > 1.0) {
        x /= 2.0;
        n += 1.0;
    }
    return n;
}

std::vector<long> memory_handling::BlockPlan(long firstRow, long lastRow, long lastCol) {
    const long long rowBytes = (static_cast<long long>(lastCol) + 1) * 8;
    if (rowBytes + AllocatorOverhead > MaxBlockBytes) MatrixFatal("FATAL: too long matrix rows");
    std::vector<long> plan;
    long long remaining = (static_cast<long long>(lastRow) - firstRow + 2) * rowBytes;
    const long long threshold = static_cast<long long>(0.1 * static_cast<double>(remaining));
    long current = firstRow;
    while (current <= lastRow) {
        const long rowsLeft = lastRow - current + 1;
        const int e = static_cast<int>(Log2Ceil(static_cast<double>(remaining + AllocatorOverhead)));
        const long double whole = std::ldexp(1.0L, e);
        const long double half = std::ldexp(1.0L, e - 1);
        if (remaining <= threshold && whole < MaxBlockBytes) {
            plan.push_back(rowsLeft);
            break;
        }
        if (static_cast<long double>(rowBytes + AllocatorOverhead) > half) {
            plan.push_back(rowsLeft);
            break;
        }
        const long double room = std::min(half - AllocatorOverhead, static_cast<long double>(MaxBlockBytes));
        long k = static_cast<long>(room / rowBytes);
        k = std::clamp(k, 1L, rowsLeft);
        plan.push_back(k);
        current += k;
        remaining = (static_cast<long long>(lastRow) + 1 - current) * rowBytes;
        if (remaining == 0) break;
    }
    return plan;
}

void memory_handling::CheckMatrixBounds(long firstRow, long lastRow, long lastCol, long rowCapacity) {
    if (firstRow < 0 || lastRow < firstRow || lastCol < 0 || (rowCapacity > 0 && rowCapacity < lastRow)) {
        if (Writer) {
            *Writer << "FATAL: invalid matrix bounds: rows " << firstRow << " to " << lastRow << ", last column "
                    << lastCol << ", row capacity " << rowCapacity << "[end-entry]";
        }
        throw 1;
    }
}

double** memory_handling::matrix(long firstRow, long lastRow, long /*firstCol*/, long lastCol, long rowCapacity) {
    CheckMatrixBounds(firstRow, lastRow, lastCol, rowCapacity);
    const std::vector<long> plan = BlockPlan(firstRow, lastRow, lastCol);
    const size_t pointers = static_cast<size_t>(rowCapacity > 0 ? rowCapacity : lastRow) + 1;
    auto** rows = static_cast<double**>(std::calloc(pointers, sizeof(double*)));
    if (!rows) MatrixFatal("FATAL: memory allocation error 1 in matrix()");
    const size_t rowLength = static_cast<size_t>(lastCol) + 1;
    const bool parallel = ClearInParallel(static_cast<long long>(lastRow - firstRow + 1) * lastCol);
    long current = firstRow;
    for (long k : plan) {
        const size_t count = static_cast<size_t>(k) * rowLength;
        auto* block = static_cast<double*>(parallel ? std::malloc(count * sizeof(double))
                                                    : std::calloc(count, sizeof(double)));
        if (!block) MatrixFatal("FATAL: memory allocation error 2 in matrix()");
        for (long r = 0; r < k; ++r) rows[current + r] = block + static_cast<size_t>(r) * rowLength;
        current += k;
    }
    if (parallel) ClearRows(rows, firstRow, lastRow, rowLength);
    return rows;
}

void memory_handling::free_matrix(double** m, long firstRow, long lastRow, long /*firstCol*/, long lastCol) {
    if (!m) return;
    const std::vector<long> plan = BlockPlan(firstRow, lastRow, lastCol);
    long current = firstRow;
    for (long k : plan) {
        std::free(m[current]);
        m[current] = nullptr;
        current += k;
    }
    std::free(m);
}

GridStack memory_handling::matrix3d(long firstRow, long lastRow, long firstCol, long lastCol, long levels,
                                    long rowCapacity) {
    if (firstRow < 0 || lastRow < firstRow || firstCol < 0 || lastCol < firstCol || levels < 0 ||
        (rowCapacity > 0 && rowCapacity < lastRow)) {
        if (Writer) {
            *Writer << "FATAL: invalid stack bounds: rows " << firstRow << " to " << lastRow << ", columns "
                    << firstCol << " to " << lastCol << ", levels " << levels << "[end-entry]";
        }
        throw 1;
    }
    const size_t pointers = static_cast<size_t>(rowCapacity > 0 ? rowCapacity : lastRow) + 1;
    auto rows = static_cast<GridStack>(std::calloc(pointers, sizeof(double**)));
    if (!rows) MatrixFatal("FATAL: memory allocation error (1) in 3_d_matrix()");
    const size_t columns = static_cast<size_t>(lastCol) + 1;
    const size_t depth = static_cast<size_t>(levels) + 1;
    const bool parallel = ClearInParallel(static_cast<long long>(lastRow - firstRow + 1) * lastCol * depth);
    for (long r = firstRow; r <= lastRow; ++r) {
        auto** cols = static_cast<double**>(std::calloc(columns, sizeof(double*)));
        if (!cols) MatrixFatal("FATAL: memory allocation error (2) in 3_d_matrix()");
        auto* block = static_cast<double*>(parallel ? std::malloc(columns * depth * sizeof(double))
                                                    : std::calloc(columns * depth, sizeof(double)));
        if (!block) {
            std::free(cols);
            MatrixFatal("FATAL: memory allocation error (3) in 3_d_matrix()");
        }
        cols[0] = block;
        for (long j = firstCol; j <= lastCol; ++j) cols[j] = block + static_cast<size_t>(j) * depth;
        rows[r] = cols;
    }
    if (parallel) {
#pragma omp parallel for schedule(static, 1)
        for (long r = firstRow; r <= lastRow; ++r) std::memset(rows[r][0], 0, columns * depth * sizeof(double));
    }
    return rows;
}

void memory_handling::free_matrix3d(GridStack stack, long firstRow, long lastRow) {
    if (!stack) return;
    for (long r = firstRow; r <= lastRow; ++r) {
        if (!stack[r]) continue;
        std::free(stack[r][0]);
        std::free(stack[r]);
        stack[r] = nullptr;
    }
    std::free(stack);
}

void* memory_handling::AllocBuffer(size_t bytes, int errorNumber) {
    void* buffer = std::calloc(bytes > 0 ? bytes : 1, 1);
    if (!buffer) AllocationError(errorNumber);
    return buffer;
}

void memory_handling::AllocationError(int errorNumber) {
    if (Writer) {
        *Writer << "FATAL: memory allocation error in " << ModuleName << " ("
                << errorNumber << "[end-entry]";
    } else {
        std::cerr << "FATAL: memory allocation error in " << ModuleName << " (" << errorNumber
                  << "\n";
    }
    throw 81;
}

#pragma once
// Root of every model component: 1-based matrices carved from a few large
// blocks, three-dimensional stacks, zero-filled buffers and the report of
// exhausted memory.

#include <cstddef>
#include <string>
#include <vector>

class DiagnosticsWriter;

// A three-dimensional grid [row][column][level]; rows and columns count from
// 1, levels from 0.
using GridStack = double***;

class memory_handling {
public:
    virtual ~memory_handling() = default;

    virtual GridStack matrix3d(long firstRow, long lastRow, long firstCol, long lastCol, long levels,
                               long rowCapacity);
    virtual void free_matrix3d(GridStack stack, long firstRow, long lastRow);
    virtual double** matrix(long firstRow, long lastRow, long firstCol, long lastCol, long rowCapacity);
    virtual void free_matrix(double** m, long firstRow, long lastRow, long firstCol, long lastCol);
    virtual void* AllocBuffer(size_t bytes, int errorNumber);
    [[noreturn]] virtual void AllocationError(int errorNumber);
    virtual double Log2Ceil(double x);

    int Status = 0;
    DiagnosticsWriter* Writer = nullptr;
    std::string ModuleName;  // the section name of a sub-model, "defaults" for the set-up

    // The largest block a matrix may take, including the allocator's 24 bytes.
    static constexpr long long MaxBlockBytes = 2147480000LL;
    static constexpr long long AllocatorOverhead = 24;

    // Row counts of the consecutive blocks a matrix of these bounds is carved
    // into: while much remains, each block is the largest power of two below
    // the remaining size; the last tenth comes in one block.
    std::vector<long> BlockPlan(long firstRow, long lastRow, long lastCol);

private:
    void CheckMatrixBounds(long firstRow, long lastRow, long lastCol, long rowCapacity);
    [[noreturn]] void MatrixFatal(const char* text);
};

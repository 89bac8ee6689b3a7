// Speed of the framework's building blocks on a generated grid: matrix
// allocation and a parallel cell loop, at 1 and N threads.
//   ruvex_bench [rows] [cols] [steps]

#include <omp.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>

#include "framework/memory_handling.h"

namespace {

double Seconds(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// One relaxation sweep over the interior, writing only the row's own cells.
void Sweep(double** in, double** out, long rows, long cols) {
#pragma omp parallel for schedule(static)
    for (long r = 2; r < rows; ++r) {
        for (long c = 2; c < cols; ++c) {
            out[r][c] = 0.25 * (in[r - 1][c] + in[r + 1][c] + in[r][c - 1] + in[r][c + 1]);
        }
    }
}

}  // namespace

int main(int argc, char** argv) {
    const long rows = argc > 1 ? std::atol(argv[1]) : 2000;
    const long cols = argc > 2 ? std::atol(argv[2]) : 2000;
    const int steps = argc > 3 ? std::atoi(argv[3]) : 50;
    memory_handling memory;

    auto start = std::chrono::steady_clock::now();
    double** a = memory.matrix(1, rows, 1, cols, rows);
    double** b = memory.matrix(1, rows, 1, cols, rows);
    std::printf("matrix allocation: %ld x %ld, %.3f ms for two grids\n", rows, cols, 1000 * Seconds(start));
    for (long r = 1; r <= rows; ++r)
        for (long c = 1; c <= cols; ++c) a[r][c] = (r * 31 + c * 17) % 100;

    const int maxThreads = omp_get_max_threads();
    for (int threads : {1, maxThreads}) {
        omp_set_num_threads(threads);
        start = std::chrono::steady_clock::now();
        for (int s = 0; s < steps; ++s) {
            Sweep(a, b, rows, cols);
            std::swap(a, b);
        }
        const double t = Seconds(start);
        std::printf("cell loop: %d thread(s): %.1f million cell-steps per second\n", threads,
                    rows * cols * static_cast<double>(steps) / t / 1e6);
    }
    memory.free_matrix(a, 1, rows, 1, cols);
    memory.free_matrix(b, 1, rows, 1, cols);
    return 0;
}

#include "bench/bench_basin.h"

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <stdexcept>

namespace bench {

namespace {

// A small deterministic generator (64-bit LCG), uniform in [0, 1).
class Uniform {
public:
    explicit Uniform(uint64_t seed) : State(seed) {}
    double Next() {
        State = State * 6364136223846793005ULL + 1442695040888963407ULL;
        return static_cast<double>(State >> 11) / 9007199254740992.0;
    }

private:
    uint64_t State;
};

}  // namespace

Basin::Basin(long rows, long cols) : Rows(rows), Cols(cols) {
    Zones = NewGrid(NoData);
    Elevation = NewGrid(0);
    Landuse = NewGrid(1);
    RelCellArea = NewGrid(NoData);
    CoordX = NewGrid(0);
    CoordY = NewGrid(0);

    // The valley runs along the rows' middle from west (low) to east (high);
    // the slopes rise to the north and south edges.
    const double height = static_cast<double>(rows) * CellSize;
    const double width = static_cast<double>(cols) * CellSize;
    for (long r = 1; r <= rows; ++r) {
        for (long c = 1; c <= cols; ++c) {
            const double u = (static_cast<double>(c) - 0.5) * CellSize;
            const double v = (static_cast<double>(rows - r) + 0.5) * CellSize;
            CoordX[r][c] = XllCorner + u;
            CoordY[r][c] = YllCorner + v;
            const double across = std::fabs(v - 0.5 * height) / (0.5 * height);  // 0 on the valley floor, 1 at the edge
            const double along = u / width;
            const double z = 430 + 700 * along + 1100 * (1 - std::exp(-3 * across * across)) +
                             40 * std::sin(u / 900.0) * std::cos(v / 700.0);
            Elevation[r][c] = z;
            Landuse[r][c] = z < 900 ? 1 : (z < 1700 ? 2 : 3);

            const double ex = (u - 0.5 * width) / (0.5 * width);
            const double ey = (v - 0.5 * height) / (0.5 * height);
            if (ex * ex + ey * ey <= 1.0) {
                Zones[r][c] = along < 1.0 / 3 ? 1 : (along < 2.0 / 3 ? 2 : 3);
                RelCellArea[r][c] = 1;
                ++ValidCells;
            }
        }
    }

    Uniform random(20190101);
    StationX.assign(StationCount + 1, 0);
    StationY.assign(StationCount + 1, 0);
    StationZ.assign(StationCount + 1, 0);
    StationValue.assign(StationCount + 1, 0);
    for (int i = 1; i <= StationCount; ++i) {
        StationX[static_cast<size_t>(i)] = XllCorner + random.Next() * width;
        StationY[static_cast<size_t>(i)] = YllCorner + random.Next() * height;
        StationZ[static_cast<size_t>(i)] = 430 + random.Next() * 1500;
        StationValue[static_cast<size_t>(i)] = 15 - 0.0065 * StationZ[static_cast<size_t>(i)] + random.Next();
    }
}

Basin::~Basin() {
    for (double** grid : Owned) Memory.free_matrix(grid, 1, Rows, 1, Cols);
}

double** Basin::NewGrid(double value) {
    double** grid = Memory.matrix(1, Rows, 1, Cols, Rows);
    for (long r = 1; r <= Rows; ++r) {
        for (long c = 1; c <= Cols; ++c) grid[r][c] = value;
    }
    Owned.push_back(grid);
    return grid;
}

uint64_t Fingerprint(double** grid, long rows, long cols, uint64_t seed) {
    uint64_t hash = seed;
    for (long r = 1; r <= rows; ++r) {
        for (long c = 1; c <= cols; ++c) {
            uint64_t bits = 0;
            std::memcpy(&bits, &grid[r][c], sizeof bits);
            hash = (hash ^ bits) * 1099511628211ULL;
        }
    }
    return hash;
}

double SecondsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

ScratchDirectory::ScratchDirectory() {
    const std::filesystem::path base = std::filesystem::temp_directory_path();
    std::string pattern = (base / "ruvex_bench_XXXXXX").string();
    if (!mkdtemp(pattern.data())) throw std::runtime_error("cannot create a directory under " + base.string());
    PathText = pattern + "/";
}

ScratchDirectory::~ScratchDirectory() {
    std::error_code ignored;
    std::filesystem::remove_all(PathText, ignored);
}

}  // namespace bench

// The balance harness itself: a closing bucket passes, a leaking one is named.
#include "support/water_balance.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

struct Grid {
    Grid(int rows, int cols, double v) : cells((rows + 1) * (cols + 1), v), rows_(rows + 1) {
        for (int r = 0; r <= rows; ++r) rows_[r] = &cells[r * (cols + 1)];
    }
    double** data() { return rows_.data(); }
    std::vector<double> cells;
    std::vector<double*> rows_;
};

TEST(WaterBalanceHarness, BucketClosesAndLeakIsNamed) {
    Grid store(2, 3, 5.0), rain(2, 3, 2.0), out(2, 3, 0.0);
    testsupport::WaterBalance wb(2, 3);
    for (int step = 0; step < 3; ++step) {
        wb.BeginStep();
        wb.Storage(store.data());
        for (int r = 1; r <= 2; ++r)
            for (int c = 1; c <= 3; ++c) {
                out.data()[r][c] = 0.5 * (store.data()[r][c] + rain.data()[r][c]);
                store.data()[r][c] += rain.data()[r][c] - out.data()[r][c];
            }
        wb.In(rain.data());
        wb.Out(out.data());
        wb.EndStorage(store.data());
        EXPECT_EQ(wb.Check(1e-12), "");
    }
    EXPECT_DOUBLE_EQ(wb.TotalIn(2, 3), 6.0);

    wb.BeginStep();
    wb.Storage(store.data());
    store.data()[2][1] -= 0.25;  // water lost without an outflow
    wb.In(rain.data());
    wb.EndStorage(store.data());
    wb.Out(rain.data());
    const std::string report = wb.Check(1e-12);
    EXPECT_NE(report.find("step 4, cell (2,1)"), std::string::npos) << report;
}

TEST(WaterBalanceHarness, MaskedCellsAreSkipped) {
    Grid mask(1, 2, 1.0), in(1, 2, 1.0);
    mask.data()[1][2] = -9999.0;
    testsupport::WaterBalance wb(1, 2);
    wb.Mask(mask.data());
    wb.BeginStep();
    wb.InCell(1, 1, 1.0);
    wb.OutCell(1, 1, 1.0);
    wb.InCell(1, 2, 7.0);  // outside the basin: ignored
    EXPECT_EQ(wb.Check(1e-12), "");
}

}  // namespace

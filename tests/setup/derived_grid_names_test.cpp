#include "setup/derived_grid_names.h"

#include <gtest/gtest.h>

namespace {

TEST(DerivedGridFileName, ReplacesTheExtensionOrAppends) {
    struct Case {
        const char* source;
        const char* suffix;
        const char* expected;
    };
    const Case cases[] = {
        {"dem.asc", SlopeAngleSuffix, "dem.$sl"},
        {"dem", SlopeAspectSuffix, "dem.$ex"},
        {"grids/zones.v2.asc", CellSizeXSuffix, "grids/zones.v2.$csx"},
        {"/data/zones.bin", CoordYSuffix, "/data/zones.$cy"},
        // A "." in a directory is not an extension of the file.
        {"run.2024/zones", RelCellAreaSuffix, "run.2024/zones.$rca"},
        {"./zones", CoordXSuffix, "./zones.$cx"},
        {"../data/regions", Weights1Suffix, "../data/regions.$w1"},
        {"zones.", Regions2Suffix, "zones.$r2"},
    };
    for (const Case& c : cases) EXPECT_EQ(DerivedGridFileName(c.source, c.suffix), c.expected) << c.source;
}

}  // namespace

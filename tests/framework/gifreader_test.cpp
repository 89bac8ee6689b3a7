#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <fstream>
#include <sstream>
#include <vector>

#include "framework/diagnostics_writer.h"
#include "framework/gifreader.h"
#include "framework/modelobject.h"
#include "support/test_support.h"

using namespace testsupport;

namespace {

std::string GifPath(const std::string& name) { return TestDataPath("gif/" + name); }

// Pixels of a logical screen as the fixture script wrote them (255 = nodata).
struct ExpectedScreen {
    int width = 0;
    int height = 0;
    std::vector<std::vector<int>> rows;
};

ExpectedScreen ReadExpected(const std::string& name) {
    ExpectedScreen e;
    std::ifstream in(GifPath(name + ".txt"));
    in >> e.width >> e.height;
    e.rows.assign(static_cast<size_t>(e.height), std::vector<int>(static_cast<size_t>(e.width)));
    for (auto& row : e.rows) {
        for (int& v : row) in >> v;
    }
    EXPECT_TRUE(in) << "cannot read the expected pixels of " << name;
    return e;
}

double PixelValue(int pixel) { return pixel == 255 ? -9999.0 : pixel; }

// A model object with a diagnostics file in a temporary directory.
struct Harness {
    TempDir dir;
    std::ostringstream console;
    DiagnosticsWriter writer{dir.file("diag.xml"), DiagDebug, console};
    modelobject object{&writer, ""};

    Harness() { object.ModuleName = "gif_test"; }

    // The FATAL entries written so far.
    std::vector<std::string> Fatals() {
        writer.Close();
        std::vector<std::string> fatals;
        for (const auto& line : DiagLines(ReadFile(writer.FileName()))) {
            if (line.level == 0) fatals.push_back(line.description);
        }
        return fatals;
    }
};

// Sets the model grid so that model cell (r, j) samples the centre of image
// pixel (r, j) of an image of `width` x `height` pixels of size 2 placed at
// (1000, 5000).
void MatchModelToImage(modelobject& object, int width, int height) {
    object.NRows = height;
    object.NCols = width;
    object.CellSize = 2;
    object.XllCorner = 1000 + 1;
    object.YllCorner = 5000 + 1;
    object.SetGifGeoreference(nullptr, 1000, 5000, 2);
}

// Decodes a file with the reader's own steps; returns the screen matrix.
std::vector<std::vector<double>> DecodeFileWithWriter(const std::string& path, DiagnosticsWriter* writer,
                                                      int* width, int* height) {
    memory_handling memory;
    GifReader reader(path, writer);
    reader.ReadScreenSize(width, height);
    double** image = memory.matrix(1, *height, 1, *width, *height);
    try {
        reader.Decode(image, *width, *height);
    } catch (...) {
        memory.free_matrix(image, 1, *height, 1, *width);
        throw;
    }
    std::vector<std::vector<double>> screen(static_cast<size_t>(*height));
    for (int r = 1; r <= *height; ++r) screen[static_cast<size_t>(r - 1)].assign(image[r] + 1, image[r] + *width + 1);
    memory.free_matrix(image, 1, *height, 1, *width);
    return screen;
}

std::vector<std::vector<double>> DecodeFile(const std::string& path, int* width, int* height) {
    return DecodeFileWithWriter(path, nullptr, width, height);
}

}  // namespace

// Files written by an independent encoder decode to the pixels it encoded:
// both versions, every extension kind, interlacing, code tables filled many
// times over (with clear codes and with a full table kept in use), an image
// placed by its descriptor and a second frame drawn over the first.
TEST(GifReader, DecodesFixturesPixelForPixel) {
    for (const char* name :
         {"basic87a", "extensions89a", "interlaced", "noise200", "fulltable", "positioned", "twoframes"}) {
        SCOPED_TRACE(name);
        const ExpectedScreen expected = ReadExpected(name);
        int width = 0, height = 0;
        const auto screen = DecodeFile(GifPath(std::string(name) + ".gif"), &width, &height);
        ASSERT_EQ(width, expected.width);
        ASSERT_EQ(height, expected.height);
        int wrong = 0;
        for (int r = 0; r < height && wrong < 5; ++r) {
            for (int c = 0; c < width && wrong < 5; ++c) {
                const double want = PixelValue(expected.rows[static_cast<size_t>(r)][static_cast<size_t>(c)]);
                const double got = screen[static_cast<size_t>(r)][static_cast<size_t>(c)];
                if (got != want) {
                    ++wrong;
                    ADD_FAILURE() << "row " << r + 1 << ", column " << c + 1 << ": expected " << want << ", got "
                                  << got;
                }
            }
        }
    }
}

// Damaged or unusable files end with one FATAL entry naming the file and the
// reason, and code 22; nothing is left allocated or half-read.
TEST(GifReader, RefusesDamagedFilesWithCode22) {
    struct Case {
        const char* file;
        const char* reason;
    };
    const Case cases[] = {
        {"outside.gif", "does not lie inside the logical screen of 9 x 8 pixels"},
        {"badgce.gif", "Graphics COntrol extension found, but block end not found as 0x00 after 4 bytes"},
        {"badextension.gif", "invalid extension type ID &quot;0x2A&quot; found"},
        {"badblock.gif", "invalid extension type ID &quot;0x77&quot; found"},
        {"badcode.gif", "invalid LZW code 7 (next free code 6)"},
        {"shortdata.gif", "the image data end after 2 of 12 pixels"},
        {"noimage.gif", "the file holds no image"},
        {"hugescreen.gif", "a logical screen of 65535 x 65535 pixels cannot be read"},
        {"emptyscreen.gif", "a logical screen of 0 x 3 pixels cannot be read"},
        {"badversion.gif", "the signature is not GIF87a or GIF89a"},
        {"missing.gif", "the file cannot be opened"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file);
        Harness h;
        MatchModelToImage(h.object, 9, 8);
        int code = 0;
        try {
            double** grid = ReadGifAsModelGrid(h.object, GifPath(c.file));
            h.object.free_matrix(grid, 1, 8, 1, 9);
        } catch (int thrown) {
            code = thrown;
        }
        EXPECT_EQ(code, 22);
        const auto fatals = h.Fatals();
        ASSERT_EQ(fatals.size(), 1u);
        EXPECT_NE(fatals[0].find("error reading GIF file " + GifPath(c.file) + ": "), std::string::npos)
            << fatals[0];
        EXPECT_NE(fatals[0].find(c.reason), std::string::npos) << fatals[0];
    }
}

// Every truncation of a file, in the header, the colour table, the image
// descriptor, the code stream or just before the trailer, is refused.
TEST(GifReader, RefusesTruncatedCopies) {
    TempDir dir;
    for (const char* name : {"basic87a.gif", "interlaced.gif", "noise200.gif"}) {
        const std::string whole = ReadFile(GifPath(name));
        std::vector<size_t> lengths;
        if (whole.size() < 2000) {
            for (size_t n = 0; n < whole.size(); ++n) lengths.push_back(n);
        } else {
            lengths = {5, 13, 400, 790, 800, 20000, whole.size() / 2, whole.size() - 2, whole.size() - 1};
        }
        for (size_t n : lengths) {
            SCOPED_TRACE(std::string(name) + " cut to " + std::to_string(n) + " bytes");
            const std::string path = dir.file("cut.gif");
            WriteFile(path, whole.substr(0, n));
            std::ostringstream console;
            DiagnosticsWriter writer(dir.file("diag.xml"), DiagDebug, console);
            int code = 0;
            try {
                int width = 0, height = 0;
                DecodeFileWithWriter(path, &writer, &width, &height);
            } catch (int thrown) {
                code = thrown;
            }
            EXPECT_EQ(code, 22);
            writer.Close();
            int fatals = 0;
            for (const auto& line : DiagLines(ReadFile(dir.file("diag.xml")))) {
                if (line.level != 0) continue;
                ++fatals;
                EXPECT_NE(line.description.find("unexpected end of the file after " + std::to_string(n) + " bytes"),
                          std::string::npos)
                    << line.description;
            }
            EXPECT_EQ(fatals, 1);
        }
    }
}

// Bilinear weights between the pixel centres around a sample point, edge
// pixels repeated beyond the image, nodata among the four neighbours wins.
TEST(GifReader, ResamplesBilinearly) {
    // 3 x 2 image with pixels of size 10 from (100, 200): centres at x = 105,
    // 115, 125 and y = 215 (top row), 205 (bottom row).
    double top[4] = {0, 10, 20, 30};
    double bottom[4] = {0, 40, 50, 60};
    double* image[3] = {nullptr, top, bottom};
    GifGeoreference geo;
    geo.OriginX = 100;
    geo.OriginY = 200;
    geo.CellSize = 10;
    struct Case {
        double x, y, expected;
    };
    const Case cases[] = {
        {105, 205, 40},    // on a pixel centre
        {110, 205, 45},    // midway between two columns
        {105, 210, 25},    // midway between two rows
        {110, 210, 30},    // among four pixels: their mean
        {122.5, 212.5, 35},  // 0.25 (0.25 50 + 0.75 60) + 0.75 (0.25 20 + 0.75 30)
        {90, 190, 40},     // below and left of the image: the corner pixel
        {140, 230, 30},    // above and right
        {130, 205, 60},    // right of the image on the bottom row
        {90, 210, 25},     // left of the image between the rows
        {1e12, -1e12, 60},  // far away: still the corner pixel, no overflow
    };
    for (const Case& c : cases) {
        EXPECT_DOUBLE_EQ(GifResampleCell(image, 3, 2, geo, c.x, c.y), c.expected) << c.x << ", " << c.y;
    }
    top[3] = -9999;  // pixel value 255
    EXPECT_EQ(GifResampleCell(image, 3, 2, geo, 120, 210), -9999);
    EXPECT_EQ(GifResampleCell(image, 3, 2, geo, 125, 230), -9999);
    EXPECT_DOUBLE_EQ(GifResampleCell(image, 3, 2, geo, 125, 190), 60);
    EXPECT_DOUBLE_EQ(GifResampleCell(image, 3, 2, geo, 110, 210), 30);
    top[3] = 30;

    // On a model grid of 2 x 3 cells of size 5 from (105, 205), with a mask.
    double mask1[4] = {0, -9999, 1, 1};
    double mask2[4] = {0, 1, 1, -10000};
    double* mask[3] = {nullptr, mask1, mask2};
    geo.Mask = mask;
    GifGridGeometry grid;
    grid.NRows = 2;
    grid.NCols = 3;
    grid.XllCorner = 105;
    grid.YllCorner = 205;
    grid.CellSize = 5;
    memory_handling memory;
    double** target = memory.matrix(1, 2, 1, 3, 2);
    GifReader::ResampleBilinear(image, 3, 2, geo, grid, target);
    const double expected[2][3] = {{-9999, 30, 35}, {40, 45, -10000}};
    for (int r = 1; r <= 2; ++r) {
        for (int j = 1; j <= 3; ++j) EXPECT_DOUBLE_EQ(target[r][j], expected[r - 1][j - 1]) << r << ", " << j;
    }
    memory.free_matrix(target, 1, 2, 1, 3);
}

TEST(GifReader, MapsPixelValuesByTwoExponentials) {
    GifPixelMapping m;
    m.F1 = 8.916787e-5;
    m.X1 = 0.0767528404;
    m.Threshold = 127;
    m.F2 = 6.0e-6;
    m.X2 = 0.098;
    struct Case {
        double value, expected;
    };
    const Case cases[] = {
        {-9999, -9999},
        {-12000, -12000},                   // mask values pass unchanged
        {0, 0},
        {1, 9.628125168560085e-05},         // f1 exp(x1)
        {127, 1.5259557662921017},          // at the threshold: first law
        {127.5, 1.6019936923258362},        // above it: second law
        {250, 262039.0745858785},
        {250.25, -9999},
        {254, -9999},
    };
    for (const Case& c : cases) {
        const double got = GifMapPixelValue(c.value, m);
        EXPECT_NEAR(got, c.expected, std::fabs(c.expected) * 1e-12) << c.value;
    }

    memory_handling memory;
    double** grid = memory.matrix(1, 2, 1, 2, 2);
    grid[1][1] = 0;
    grid[1][2] = 127;
    grid[2][1] = -9999;
    grid[2][2] = 251;
    GifGridGeometry geometry;
    geometry.NRows = 2;
    geometry.NCols = 2;
    GifReader::MapPixelValues(grid, geometry, m);
    EXPECT_EQ(grid[1][1], 0);
    EXPECT_NEAR(grid[1][2], 1.5259557662921017, 1e-12);
    EXPECT_EQ(grid[2][1], -9999);
    EXPECT_EQ(grid[2][2], -9999);
    memory.free_matrix(grid, 1, 2, 1, 2);
}

// The whole read: a model grid on the pixel centres gets every pixel's mapped
// value, nodata pixels and masked cells included.
TEST(GifReader, ReadsImageOntoModelGrid) {
    const ExpectedScreen expected = ReadExpected("extensions89a");
    Harness h;
    MatchModelToImage(h.object, expected.width, expected.height);
    h.object.GifF1 = 0.5;
    h.object.GifX1 = 0.01;
    h.object.GifThreshold = 100;
    h.object.GifF2 = 0.25;
    h.object.GifX2 = 0.02;
    memory_handling memory;
    double** mask = memory.matrix(1, expected.height, 1, expected.width, expected.height);
    mask[4][5] = -9999;
    h.object.SetGifGeoreference(mask, 1000, 5000, 2);

    double** grid = ReadGifAsModelGrid(h.object, GifPath("extensions89a.gif"));
    int nodata = 0;
    for (int r = 1; r <= expected.height; ++r) {
        for (int j = 1; j <= expected.width; ++j) {
            // The sample point lies on the centre of pixel (r, j); its four
            // neighbours reach one row up and one column right (clamped),
            // and nodata among them makes the cell nodata.
            auto at = [&](int row, int col) {
                row = std::max(row, 1);
                col = std::min(col, expected.width);
                return expected.rows[static_cast<size_t>(row - 1)][static_cast<size_t>(col - 1)];
            };
            const int pixel = at(r, j);
            const bool nodataNeighbour = at(r, j) == 255 || at(r - 1, j) == 255 || at(r, j + 1) == 255 ||
                                         at(r - 1, j + 1) == 255;
            double want;
            if (r == 4 && j == 5) want = -9999;
            else if (nodataNeighbour || pixel > 250) want = -9999;
            else if (pixel == 0) want = 0;
            else if (pixel <= 100) want = 0.5 * std::exp(0.01 * pixel);
            else want = 0.25 * std::exp(0.02 * pixel);
            nodata += want == -9999;
            EXPECT_NEAR(grid[r][j], want, std::fabs(want) * 1e-12) << r << ", " << j;
        }
    }
    EXPECT_GE(nodata, 10);
    h.object.free_matrix(grid, 1, expected.height, 1, expected.width);
    memory.free_matrix(mask, 1, expected.height, 1, expected.width);
    EXPECT_TRUE(h.Fatals().empty());
}

TEST(GifReader, RefusesMissingGeoreference) {
    Harness h;
    MatchModelToImage(h.object, 7, 5);
    h.object.SetGifGeoreference(nullptr, 1000, 5000, 0);
    int code = 0;
    try {
        ReadGifAsModelGrid(h.object, GifPath("basic87a.gif"));
    } catch (int thrown) {
        code = thrown;
    }
    EXPECT_EQ(code, 22);
    const auto fatals = h.Fatals();
    ASSERT_EQ(fatals.size(), 1u);
    EXPECT_NE(fatals[0].find("no usable georeference for the GIF image"), std::string::npos) << fatals[0];
}

// Damaged bytes anywhere in a file either still decode or end with code 22;
// under the sanitizers this also shows that no read or write leaves its
// buffer.
TEST(GifReader, SurvivesCorruptedBytes) {
    TempDir dir;
    const std::string path = dir.file("corrupt.gif");
    uint32_t state = 12345;
    auto next = [&state]() {
        state = state * 1664525u + 1013904223u;
        return state >> 8;
    };
    for (const char* name : {"extensions89a.gif", "interlaced.gif", "twoframes.gif"}) {
        const std::string whole = ReadFile(GifPath(name));
        for (int trial = 0; trial < 150; ++trial) {
            std::string bytes = whole;
            const int changes = 1 + static_cast<int>(next() % 4);
            // The screen size stays (its limits have their own cases), so
            // no trial allocates a huge matrix.
            for (int k = 0; k < changes; ++k) {
                bytes[10 + next() % (bytes.size() - 10)] = static_cast<char>(next() & 0xFF);
            }
            WriteFile(path, bytes);
            std::ostringstream console;
            DiagnosticsWriter writer(dir.file("diag.xml"), DiagDebug, console);
            int code = 0;
            try {
                int width = 0, height = 0;
                DecodeFileWithWriter(path, &writer, &width, &height);
            } catch (int thrown) {
                code = thrown;
            }
            EXPECT_TRUE(code == 0 || code == 22) << name << " trial " << trial << ": code " << code;
        }
    }
}

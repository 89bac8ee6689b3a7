#include "framework/gifreader.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <iostream>

#include "framework/diagnostics_writer.h"
#include "framework/modelobject.h"

namespace {

constexpr double GifNoData = -9999.0;

[[noreturn]] void GifFatal(DiagnosticsWriter* writer, const std::string& text) {
    if (writer) {
        *writer << "FATAL: " << text << "[end-entry]";
    } else {
        std::cerr << "FATAL: " << text << "\n";
    }
    throw 22;
}

int LittleEndian16(const uint8_t* bytes) { return bytes[0] | (bytes[1] << 8); }

// Index of a pixel row or column from a real-valued position, clamped into
// 1..n (NaN counts as below the range).
int ClampIndex(double position, int n) {
    if (!(position >= 1.0)) return 1;
    if (position >= static_cast<double>(n)) return n;
    return static_cast<int>(position);
}

}  // namespace

GifReader::GifReader(const std::string& fileName, DiagnosticsWriter* writer)
    : FileName(fileName), Writer(writer), Buffer(BufferSize) {}

GifReader::~GifReader() { Close(); }

void GifReader::Fail(const std::string& reason) {
    Close();
    GifFatal(Writer, "error reading GIF file " + FileName + ": " + reason);
}

void GifReader::Open() {
    Close();
    Stream = std::fopen(FileName.c_str(), "rb");
    if (!Stream) Fail("the file cannot be opened");
    BufferPos = BufferFill = 0;
    Offset = 0;
}

void GifReader::Close() {
    if (Stream) std::fclose(Stream);
    Stream = nullptr;
}

uint8_t GifReader::ReadByte() {
    if (BufferPos == BufferFill) {
        BufferFill = Stream ? std::fread(Buffer.data(), 1, Buffer.size(), Stream) : 0;
        BufferPos = 0;
        if (BufferFill == 0) {
            const bool error = Stream && std::ferror(Stream);
            Fail(std::string(error ? "read error" : "unexpected end of the file") + " after " +
                 std::to_string(Offset) + " bytes");
        }
    }
    ++Offset;
    return Buffer[BufferPos++];
}

void GifReader::SkipBytes(size_t count) {
    for (size_t k = 0; k < count; ++k) ReadByte();
}

void GifReader::SkipSubBlocks() {
    for (uint8_t size = ReadByte(); size != 0; size = ReadByte()) SkipBytes(size);
}

void GifReader::ReadHeader(int* width, int* height) {
    for (uint8_t& b : Signature) b = ReadByte();
    if (std::memcmp(Signature, "GIF87a", 6) != 0 && std::memcmp(Signature, "GIF89a", 6) != 0) {
        Fail("the signature is not GIF87a or GIF89a");
    }
    for (uint8_t& b : ScreenDescriptor) b = ReadByte();
    ScreenWidth = LittleEndian16(ScreenDescriptor);
    ScreenHeight = LittleEndian16(ScreenDescriptor + 2);
    if (ScreenWidth < 1 || ScreenHeight < 1 ||
        static_cast<int64_t>(ScreenWidth) * ScreenHeight > MaxPixels) {
        Fail("a logical screen of " + std::to_string(ScreenWidth) + " x " + std::to_string(ScreenHeight) +
             " pixels cannot be read (1 to " + std::to_string(MaxPixels) + " pixels)");
    }
    const uint8_t flags = ScreenDescriptor[4];
    if (flags & 0x80) SkipBytes(3u * (1u << ((flags & 0x07) + 1)));
    *width = ScreenWidth;
    *height = ScreenHeight;
}

void GifReader::ReadScreenSize(int* width, int* height) {
    Open();
    ReadHeader(width, height);
    Close();
}

void GifReader::Decode(double** image, int width, int height) {
    Open();
    int fileWidth = 0, fileHeight = 0;
    ReadHeader(&fileWidth, &fileHeight);
    if (!image || fileWidth != width || fileHeight != height) {
        Fail("the logical screen of " + std::to_string(fileWidth) + " x " + std::to_string(fileHeight) +
             " pixels does not fit the matrix of " + std::to_string(width) + " x " + std::to_string(height) +
             " cells");
    }
    for (int r = 1; r <= height; ++r) std::fill(image[r] + 1, image[r] + width + 1, GifNoData);
    Output = image;

    int images = 0;
    for (;;) {
        const uint8_t label = ReadByte();
        if (label == 0x3B) break;
        if (label == 0x21) {
            ReadExtension();
        } else if (label == 0x2C) {
            ReadImage(image, width, height);
            ++images;
        } else {
            char hex[8];
            std::snprintf(hex, sizeof hex, "%X", label);
            Fail(std::string("invalid extension type ID \"0x") + hex + "\" found");
        }
    }
    if (images == 0) Fail("the file holds no image");
    Output = nullptr;
    Close();
}

void GifReader::ReadExtension() {
    const uint8_t label = ReadByte();
    switch (label) {
        case 0x01: {  // plain text
            SkipBytes(ReadByte());
            SkipSubBlocks();
            break;
        }
        case 0xF9: {  // graphic control
            const int size = ReadByte();
            SkipBytes(static_cast<size_t>(size));
            if (ReadByte() != 0) {
                Fail("Graphics COntrol extension found, but block end not found as 0x00 after " +
                     std::to_string(size) + " bytes");
            }
            break;
        }
        case 0xFE:  // comment
        case 0xFF:  // application
            SkipSubBlocks();
            break;
        default: {
            char hex[8];
            std::snprintf(hex, sizeof hex, "%X", label);
            Fail(std::string("invalid extension type ID \"0x") + hex + "\" found");
        }
    }
}

void GifReader::ReadImage(double** image, int width, int height) {
    uint8_t descriptor[9];
    for (uint8_t& b : descriptor) b = ReadByte();
    ImageLeft = LittleEndian16(descriptor);
    ImageTop = LittleEndian16(descriptor + 2);
    ImageWidth = LittleEndian16(descriptor + 4);
    const int imageHeight = LittleEndian16(descriptor + 6);
    const uint8_t flags = descriptor[8];
    if (ImageWidth < 1 || imageHeight < 1 || ImageLeft + ImageWidth > width || ImageTop + imageHeight > height) {
        Fail("the image of " + std::to_string(ImageWidth) + " x " + std::to_string(imageHeight) +
             " pixels at column " + std::to_string(ImageLeft) + ", row " + std::to_string(ImageTop) +
             " does not lie inside the logical screen of " + std::to_string(width) + " x " +
             std::to_string(height) + " pixels");
    }
    if (flags & 0x80) SkipBytes(3u * (1u << ((flags & 0x07) + 1)));

    // Screen row of every line in the order the lines are stored.
    ScreenRowOfLine.clear();
    if (flags & 0x40) {
        static constexpr int passStart[4] = {0, 4, 2, 1};
        static constexpr int passStep[4] = {8, 8, 4, 2};
        for (int p = 0; p < 4; ++p) {
            for (int line = passStart[p]; line < imageHeight; line += passStep[p]) {
                ScreenRowOfLine.push_back(ImageTop + line + 1);
            }
        }
    } else {
        for (int line = 0; line < imageHeight; ++line) ScreenRowOfLine.push_back(ImageTop + line + 1);
    }
    ImagePixels = static_cast<int64_t>(ImageWidth) * imageHeight;
    Output = image;
    Cursor = 0;

    MinCodeSize = ReadByte();
    if (MinCodeSize < 1 || MinCodeSize > 8) {
        Fail("invalid LZW minimum code size " + std::to_string(MinCodeSize));
    }
    ClearCode = 1 << MinCodeSize;
    EndCode = ClearCode + 1;
    InitTable();
    BlockLeft = 0;
    DataEnded = false;
    BitBuffer = 0;
    BitCount = 0;

    int previous = -1;
    bool endCodeSeen = false;
    int code = 0;
    while (NextCode(&code)) {
        if (code == ClearCode) {
            InitTable();
            previous = -1;
            continue;
        }
        if (code == EndCode) {
            endCodeSeen = true;
            break;
        }
        const int next = static_cast<int>(Table.size());
        if (code < next) {
            OutputString(code);
            if (previous >= 0) AddTableEntry(previous, FirstPixel(code));
        } else if (code == next && previous >= 0) {
            AddTableEntry(previous, FirstPixel(previous));
            OutputString(code);
        } else {
            Fail("invalid LZW code " + std::to_string(code) + " (next free code " + std::to_string(next) +
                 ") after " + std::to_string(Cursor) + " pixels");
        }
        previous = code;
    }
    if (endCodeSeen && !DataEnded) {
        SkipBytes(static_cast<size_t>(BlockLeft));
        SkipSubBlocks();
    }
    if (Cursor < ImagePixels) {
        Fail("the image data end after " + std::to_string(Cursor) + " of " + std::to_string(ImagePixels) +
             " pixels");
    }
}

bool GifReader::NextCode(int* code) {
    while (BitCount < CodeWidth) {
        if (BlockLeft == 0) {
            if (DataEnded) return false;
            BlockLeft = ReadByte();
            if (BlockLeft == 0) {
                DataEnded = true;
                return false;
            }
        }
        BitBuffer |= static_cast<uint32_t>(ReadByte()) << BitCount;
        BitCount += 8;
        --BlockLeft;
    }
    *code = static_cast<int>(BitBuffer & static_cast<uint32_t>(CodeMask));
    BitBuffer >>= CodeWidth;
    BitCount -= CodeWidth;
    return true;
}

void GifReader::InitTable() {
    Table.clear();
    Table.reserve(MaxCodes);
    for (int i = 0; i < ClearCode; ++i) {
        Table.push_back({-1, static_cast<uint8_t>(i), static_cast<uint8_t>(i), 1});
    }
    Table.push_back({-1, 0, 0, 0});  // clear code
    Table.push_back({-1, 0, 0, 0});  // end code
    CodeWidth = MinCodeSize + 1;
    CodeMask = (1 << CodeWidth) - 1;
}

void GifReader::AddTableEntry(int prefix, int pixel) {
    if (static_cast<int>(Table.size()) >= MaxCodes) return;  // full: codes go on without new entries
    const TableEntry& head = Table[static_cast<size_t>(prefix)];
    Table.push_back({prefix, static_cast<uint8_t>(pixel), head.First, head.Length + 1});
    if (static_cast<int>(Table.size()) == (1 << CodeWidth) && CodeWidth < 12) {
        ++CodeWidth;
        CodeMask = (1 << CodeWidth) - 1;
    }
}

int GifReader::FirstPixel(int code) const { return Table[static_cast<size_t>(code)].First; }

void GifReader::OutputString(int code) {
    const int length = Table[static_cast<size_t>(code)].Length;
    if (Cursor < ImagePixels) {
        StringBuffer.resize(static_cast<size_t>(length));
        int c = code;
        for (int k = length - 1; k >= 0; --k) {
            StringBuffer[static_cast<size_t>(k)] = Table[static_cast<size_t>(c)].Pixel;
            c = Table[static_cast<size_t>(c)].Prefix;
        }
        // Pixels beyond the image's own width x height are dropped.
        const int64_t count = std::min<int64_t>(length, ImagePixels - Cursor);
        for (int64_t k = 0; k < count; ++k) {
            const int64_t p = Cursor + k;
            const int line = static_cast<int>(p / ImageWidth);
            const int column = static_cast<int>(p % ImageWidth);
            const uint8_t pixel = StringBuffer[static_cast<size_t>(k)];
            Output[ScreenRowOfLine[static_cast<size_t>(line)]][ImageLeft + column + 1] =
                pixel == 255 ? GifNoData : static_cast<double>(pixel);
        }
    }
    Cursor += length;
}

double GifResampleCell(double* const* image, int width, int height, const GifGeoreference& georeference, double x,
                       double y) {
    const double g = georeference.CellSize;
    const double x0 = georeference.OriginX;
    const double y0 = georeference.OriginY;
    // Image rows count from the top; the pixel centre of row i lies at
    // y0 + (H - i + 0.5) g, that of column c at x0 + (c - 0.5) g.
    const double lowerRow = height - std::floor((y - (y0 + 0.5 * g)) / g);
    const double leftColumn = 1 + std::floor((x - (x0 + 0.5 * g)) / g);
    const int lower = ClampIndex(lowerRow, height);
    const int upper = ClampIndex(lowerRow - 1, height);
    const int left = ClampIndex(leftColumn, width);
    const int right = ClampIndex(leftColumn + 1, width);
    const double ll = image[lower][left];
    const double lr = image[lower][right];
    const double ul = image[upper][left];
    const double ur = image[upper][right];
    if (ll <= GifNoData || lr <= GifNoData || ul <= GifNoData || ur <= GifNoData) return GifNoData;
    // Inside the image the fractions lie in [0, 1]; beyond its edge the two
    // clamped pixels of a direction are the same, so bounding the fraction
    // changes nothing but keeps far points from amplifying rounding errors.
    const double fx = std::clamp((x - (x0 + (left - 0.5) * g)) / g, 0.0, 1.0);
    const double fy = std::clamp((y - (y0 + (height - lower + 0.5) * g)) / g, 0.0, 1.0);
    return (1 - fx) * (1 - fy) * ll + fx * (1 - fy) * lr + (1 - fx) * fy * ul + fx * fy * ur;
}

void GifReader::ResampleBilinear(double* const* image, int width, int height, const GifGeoreference& georeference,
                                 const GifGridGeometry& grid, double** target) {
#pragma omp parallel for schedule(static)
    for (int r = 1; r <= grid.NRows; ++r) {
        const double y = grid.YllCorner + (grid.NRows - r) * grid.CellSize;
        for (int j = 1; j <= grid.NCols; ++j) {
            if (georeference.Mask && georeference.Mask[r][j] <= GifNoData) {
                target[r][j] = georeference.Mask[r][j];
                continue;
            }
            const double x = grid.XllCorner + (j - 1) * grid.CellSize;
            target[r][j] = GifResampleCell(image, width, height, georeference, x, y);
        }
    }
}

double GifMapPixelValue(double value, const GifPixelMapping& mapping) {
    if (value <= GifNoData) return value;
    if (value == 0) return 0;
    if (value <= mapping.Threshold) return mapping.F1 * std::exp(mapping.X1 * value);
    if (value <= 250) return mapping.F2 * std::exp(mapping.X2 * value);
    return GifNoData;
}

void GifReader::MapPixelValues(double** grid, const GifGridGeometry& geometry, const GifPixelMapping& mapping) {
#pragma omp parallel for schedule(static)
    for (int r = 1; r <= geometry.NRows; ++r) {
        for (int j = 1; j <= geometry.NCols; ++j) grid[r][j] = GifMapPixelValue(grid[r][j], mapping);
    }
}

namespace {

// The owner's model raster and GIF georeference, refused (code 22) when they
// cannot place an image.
GifGridGeometry CheckedGeometry(modelobject& owner, const std::string& path, GifGeoreference* georeference) {
    GifGridGeometry grid;
    grid.NRows = owner.NRows;
    grid.NCols = owner.NCols;
    grid.XllCorner = owner.XllCorner;
    grid.YllCorner = owner.YllCorner;
    grid.CellSize = owner.CellSize;
    georeference->Mask = owner.GifMask;
    georeference->OriginX = owner.GifOriginX;
    georeference->OriginY = owner.GifOriginY;
    georeference->CellSize = owner.GifCellSize;
    const bool gridUsable = grid.NRows >= 1 && grid.NCols >= 1 && std::isfinite(grid.XllCorner) &&
                            std::isfinite(grid.YllCorner) && std::isfinite(grid.CellSize) && grid.CellSize > 0;
    const bool georeferenceUsable = std::isfinite(georeference->OriginX) && std::isfinite(georeference->OriginY) &&
                                    std::isfinite(georeference->CellSize) && georeference->CellSize > 0;
    if (!gridUsable || !georeferenceUsable) {
        GifFatal(owner.Writer, "no usable georeference for the GIF image " + path + " in " + owner.ModuleName +
                                   " (image origin " + std::to_string(georeference->OriginX) + ", " +
                                   std::to_string(georeference->OriginY) + ", pixel size " +
                                   std::to_string(georeference->CellSize) + "; model grid of " +
                                   std::to_string(grid.NRows) + " rows, " + std::to_string(grid.NCols) +
                                   " columns, cell size " + std::to_string(grid.CellSize) + ")");
    }
    return grid;
}

}  // namespace

void ReadGifIntoModelGrid(modelobject& owner, const std::string& path, double** target) {
    GifGeoreference georeference;
    const GifGridGeometry grid = CheckedGeometry(owner, path, &georeference);
    if (!target) GifFatal(owner.Writer, "error reading grid " + path + " no memory allocated (no matrix given)");
    GifPixelMapping mapping;
    mapping.F1 = owner.GifF1;
    mapping.X1 = owner.GifX1;
    mapping.Threshold = owner.GifThreshold;
    mapping.F2 = owner.GifF2;
    mapping.X2 = owner.GifX2;

    int width = 0, height = 0;
    double** image = nullptr;
    {
        GifReader reader(path, owner.Writer);
        reader.ReadScreenSize(&width, &height);
        image = owner.matrix(1, height, 1, width, height);
        try {
            reader.Decode(image, width, height);
        } catch (...) {
            owner.free_matrix(image, 1, height, 1, width);
            throw;
        }
    }
    GifReader::ResampleBilinear(image, width, height, georeference, grid, target);
    owner.free_matrix(image, 1, height, 1, width);
    GifReader::MapPixelValues(target, grid, mapping);
}

double** ReadGifAsModelGrid(modelobject& owner, const std::string& path) {
    GifGeoreference georeference;
    CheckedGeometry(owner, path, &georeference);
    double** target = owner.matrix(1, owner.NRows, 1, owner.NCols, owner.NRows);
    try {
        ReadGifIntoModelGrid(owner, path, target);
    } catch (...) {
        owner.free_matrix(target, 1, owner.NRows, 1, owner.NCols);
        throw;
    }
    return target;
}

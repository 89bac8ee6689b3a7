#pragma once
// Reads a GIF image (GIF87a or GIF89a) as a grid: decodes the 8-bit pixel
// values of the logical screen, resamples them bilinearly onto the model grid
// and turns them into physical values by two exponential laws. Pixel value
// 255 is nodata (-9999).

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

class DiagnosticsWriter;
class modelobject;

// Where the image lies in model coordinates, and an optional mask on the model
// grid: where the mask holds -9999 or less, the result is the mask's value.
struct GifGeoreference {
    double** Mask = nullptr;  // rows 1..NRows, columns 1..NCols of the model, or none
    double OriginX = 0;       // lower-left corner of the image
    double OriginY = 0;
    double CellSize = 0;      // edge of one image pixel
};

// The model raster the image is resampled onto.
struct GifGridGeometry {
    int NRows = 0;
    int NCols = 0;
    double XllCorner = 0;
    double YllCorner = 0;
    double CellSize = 0;
};

// Pixel value v to physical value: 0 stays 0, v up to the threshold gives
// F1 exp(X1 v), v up to 250 gives F2 exp(X2 v), larger values are nodata.
struct GifPixelMapping {
    double F1 = 0;
    double X1 = 0;
    int Threshold = 0;
    double F2 = 0;
    double X2 = 0;
};

class GifReader {
public:
    // Failures write one FATAL entry to the writer (standard error without
    // one) and throw 22.
    explicit GifReader(const std::string& fileName, DiagnosticsWriter* writer = nullptr);
    ~GifReader();
    GifReader(const GifReader&) = delete;
    GifReader& operator=(const GifReader&) = delete;

    // Width and height of the logical screen. Refuses a file that is not a
    // GIF87a or GIF89a and a screen that is empty or larger than MaxPixels,
    // so the caller may allocate width x height doubles safely.
    void ReadScreenSize(int* width, int* height);

    // Decodes the file into image[1..height][1..width] (the logical screen).
    // Every image of the file is drawn at the place its descriptor gives, in
    // file order; interlaced images are put back into row order. Cells that
    // no image covers are nodata. The screen in the file must be width x
    // height.
    void Decode(double** image, int width, int height);

    // Fills target[1..NRows][1..NCols] from image[1..height][1..width]
    // (see GifResampleCell).
    static void ResampleBilinear(double* const* image, int width, int height, const GifGeoreference& georeference,
                                 const GifGridGeometry& grid, double** target);

    // Maps every cell of grid[1..NRows][1..NCols] (see GifMapPixelValue).
    static void MapPixelValues(double** grid, const GifGridGeometry& geometry, const GifPixelMapping& mapping);

    // A logical screen of more pixels is refused before anything is allocated.
    static constexpr int64_t MaxPixels = int64_t{1} << 25;

private:
    static constexpr int MaxCodes = 4096;
    static constexpr size_t BufferSize = 3000;

    struct TableEntry {
        int Prefix;     // code of the string without its last pixel, -1 for a root
        uint8_t Pixel;  // last pixel of the string
        uint8_t First;  // first pixel of the string
        int Length;     // pixels in the string
    };

    [[noreturn]] void Fail(const std::string& reason);
    void Open();
    void Close();
    uint8_t ReadByte();
    void SkipBytes(size_t count);
    void SkipSubBlocks();
    void ReadHeader(int* width, int* height);
    void ReadExtension();
    void ReadImage(double** image, int width, int height);
    bool NextCode(int* code);

    void InitTable();
    void AddTableEntry(int prefix, int pixel);
    int FirstPixel(int code) const;
    void OutputString(int code);

    std::string FileName;
    DiagnosticsWriter* Writer;
    FILE* Stream = nullptr;
    std::vector<uint8_t> Buffer;
    size_t BufferPos = 0;
    size_t BufferFill = 0;
    int64_t Offset = 0;  // bytes consumed from the file

    uint8_t Signature[6] = {};
    uint8_t ScreenDescriptor[7] = {};
    int ScreenWidth = 0;
    int ScreenHeight = 0;

    // LZW state of the image being decoded.
    std::vector<TableEntry> Table;
    int MinCodeSize = 0;
    int ClearCode = 0;
    int EndCode = 0;
    int CodeWidth = 0;
    int CodeMask = 0;
    int BlockLeft = 0;       // bytes left in the current data sub-block
    bool DataEnded = false;  // the zero-size sub-block has been read
    uint32_t BitBuffer = 0;
    int BitCount = 0;

    // Output: the screen matrix, the image's place on it and the cursor.
    double** Output = nullptr;
    int ImageLeft = 0;
    int ImageTop = 0;
    int ImageWidth = 0;
    int64_t ImagePixels = 0;
    int64_t Cursor = 0;                 // pixels of the image written so far
    std::vector<int> ScreenRowOfLine;  // screen row (1-based) of each image line
    std::vector<uint8_t> StringBuffer;
};

// The resampled value at one sample point (x, y) in model coordinates, from
// image[1..height][1..width] (row 1 at the top). Bilinear between the four
// pixel centres around the point; beyond the image the edge pixels are
// repeated. -9999 when any of the four pixels is -9999 or less.
double GifResampleCell(double* const* image, int width, int height, const GifGeoreference& georeference, double x,
                       double y);

// One pixel value (or resampled value) to its physical value.
double GifMapPixelValue(double value, const GifPixelMapping& mapping);

// Decodes the GIF file at `path` (a complete path), resamples it onto the
// owner's model grid with the owner's GIF georeference and mask, and maps it
// with the owner's GIF mapping parameters. Returns a new matrix allocated with
// owner.matrix(1, NRows, 1, NCols, NRows); the caller releases it with
// owner.free_matrix(m, 1, NRows, 1, NCols). Any failure writes one FATAL
// entry and throws 22.
double** ReadGifAsModelGrid(modelobject& owner, const std::string& path);

// The same into an existing model-sized matrix target[1..NRows][1..NCols].
void ReadGifIntoModelGrid(modelobject& owner, const std::string& path, double** target);

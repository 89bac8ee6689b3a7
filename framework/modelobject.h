#pragma once
// Base of every model component: control-file reading primitives with their
// uniform error reports, cell statistics, the end date and its date key, the
// instance log and teardown. The grid table, grid and stack files and output
// by write code are operations of this class too (see their own files).

#include <cstdint>
#include <cstdio>
#include <limits>
#include <string>
#include <type_traits>

#include "framework/memory_handling.h"

struct MemoryGrid;
struct ZoneRecord;
struct RowExtent;

// A comparable key of a date: later dates have larger keys (hours 0 to 24,
// days 1 to 31, months 1 to 12).
constexpr int64_t DateKey(int64_t year, int64_t month, int64_t day, int64_t hour) {
    return year * 93000 + month * 7750 + day * 250 + hour;
}

class modelobject;

// The section search works on an object's own control-file stream: this lends
// it another stream for a scope and gives the previous one back.
class LentControlFile {
public:
    LentControlFile(modelobject& reader, FILE* stream);
    ~LentControlFile();
    LentControlFile(const LentControlFile&) = delete;
    LentControlFile& operator=(const LentControlFile&) = delete;

private:
    modelobject& Reader;
    FILE* Previous;
};

class modelobject : public memory_handling {
public:
    modelobject(DiagnosticsWriter* writer, const std::string& controlFilePath, bool writeAsciiGrids = false,
                bool writeDoubleGrids = false, const std::string& inputDirectory = "",
                const std::string& outputDirectory = "");
    ~modelobject() override;

    virtual void WriteInstanceLog(int unused, const std::string& text);
    virtual void SetEndDate(int64_t year, int64_t month, int64_t day, int64_t hour);
    virtual void SetLogInterval(int hours);
    virtual int GetLogInterval();
    virtual double GetTimeShift();

    [[noreturn]] virtual void ControlFileError(const std::string& description, const std::string& detail);
    // An unreadable value: echoes the word found in its place and raises the
    // control-file error (code 17) with the description.
    [[noreturn]] void UnreadableValue(const std::string& word, const std::string& description);
    [[noreturn]] virtual void WriteError(const std::string& fileName, int number);
    [[noreturn]] virtual void ReadError(const std::string& fileName, int number);

    // Reads one value with a scan format ("%d", "%ld", "%lf", ...). On success
    // the rest of the current line goes into `rest` (when given) and 1 is
    // returned; otherwise the next word is echoed and the control-file error
    // (code 17) raised with the description.
    // Integers are read as decimal digits and checked against the range of
    // the target; a value beyond it is a control-file error naming the value.
    // Floating-point values must be finite.
    template <typename T>
    int ReadValue(FILE* stream, const char* format, T* target, const std::string& description,
                  std::string* rest = nullptr) {
        static_assert(std::is_arithmetic_v<T>, "numeric target expected");
        int converted = 0;
        if constexpr (IsCountable<T>()) {
            long long value = 0;
            converted = ReadInteger(stream, &value, Lowest<T>(), Highest<T>(), description);
            if (converted == 1) *target = static_cast<T>(value);
        } else if constexpr (!std::is_floating_point_v<T>) {
            converted = std::fscanf(stream, format, target);  // a single character ("%c")
        } else {
            double value = 0;
            ReadFloating(stream, &value, -Unbounded, Unbounded, description);
            *target = static_cast<T>(value);
            RequireFinite(static_cast<double>(*target), description);
            converted = 1;
        }
        return FinishReadValue(stream, converted, description, rest);
    }
    // As ReadValue for one floating-point value, which must lie within
    // lowest..highest; out of range is a control-file error (code 17) naming
    // the file, the line, the description and the value.
    template <typename T>
    int ReadValueInRange(FILE* stream, T* target, double lowest, double highest, const std::string& description,
                         std::string* rest = nullptr) {
        static_assert(std::is_floating_point_v<T>, "floating-point target expected");
        double value = 0;
        ReadFloating(stream, &value, lowest, highest, description);
        *target = static_cast<T>(value);
        return FinishReadValue(stream, 1, description, rest);
    }
    // A word of any length. A word longer than `maxLength` characters (when
    // positive) is a control-file error, never a silent truncation.
    int ReadValue(FILE* stream, const char* format, std::string* target, const std::string& description,
                  std::string* rest = nullptr, size_t maxLength = 0);

    template <typename T, typename U>
    int ReadTwoValues(FILE* stream, const char* format, T* first, U* second, const std::string& description,
                      std::string* rest = nullptr) {
        static_assert(std::is_arithmetic_v<T> && std::is_arithmetic_v<U>, "numeric targets expected");
        int converted = 0;
        if constexpr (IsCountable<T>() && IsCountable<U>()) {
            long long a = 0, b = 0;
            converted = ReadInteger(stream, &a, Lowest<T>(), Highest<T>(), description);
            if (converted == 1) converted += ReadInteger(stream, &b, Lowest<U>(), Highest<U>(), description);
            if (converted == 2) {
                *first = static_cast<T>(a);
                *second = static_cast<U>(b);
            }
        } else {
            static_assert(!IsCountable<T>() && !IsCountable<U>(), "two integers or two floating-point values");
            (void)format;
            double a = 0, b = 0;
            ReadFloating(stream, &a, -Unbounded, Unbounded, description);
            ReadFloating(stream, &b, -Unbounded, Unbounded, description);
            *first = static_cast<T>(a);
            *second = static_cast<U>(b);
            RequireFinite(static_cast<double>(*first), description);
            RequireFinite(static_cast<double>(*second), description);
            converted = 2;
        }
        if (converted != 2) ControlFileError(description, ModuleName);
        ReadRestOfLine(stream, rest);
        return converted;
    }

    // Scans an integer the way "%d" does (white space, an optional sign,
    // decimal digits; nothing more is consumed); `text` receives what was
    // read, for messages. A value outside lowest..highest is OutOfRange.
    enum class IntegerScan { Read, NoNumber, OutOfRange };
    static IntegerScan ScanInteger(FILE* stream, long long lowest, long long highest, long long* value,
                                   std::string* text);
    // The one reader of control-file integers: white space skipped, an
    // optional sign, then decimal digits (as "%d" reads them). Returns 1 and
    // the value, 0 when no digits follow (nothing but the white space and sign
    // consumed); a value outside lowest..highest is a control-file error
    // (code 17) naming the value and the range.
    int ReadInteger(FILE* stream, long long* value, long long lowest, long long highest,
                    const std::string& description);
    // The one reader of control-file floating-point values: the next word,
    // which must be one number as a whole ("6o" is none) and finite, within
    // lowest..highest. No word at all, or one that does not begin like a
    // number, is the control-file error for the description (code 17); a
    // word with more than a number in it, a non-finite value or one out of
    // range is a control-file error naming file, line, description and word.
    void ReadFloating(FILE* stream, double* value, double lowest, double highest, const std::string& description);
    // Reads the next word of `stream` as one number as a whole (white space
    // before it skipped). Missing: no word before the end of the file;
    // NotNumber: the word is no number, or holds more than one ("6o",
    // "3a-5"). `word` and `line` (when given) receive the word and the line
    // it stands on, for messages. Non-finite numbers are Read.
    enum class WordScan { Read, Missing, NotNumber };
    static WordScan ScanNumberWord(FILE* stream, double* value, std::string* word, long* line = nullptr);
    // Empty when `value` is finite and lies within lowest..highest; else why
    // it is refused ("is not a finite number", "lies outside a to b").
    static std::string RangeFault(double value, double lowest, double highest);
    // The 1-based line of the stream's file that holds byte `offset` (0 when
    // the stream cannot be repositioned). The stream's position is kept.
    static long LineAt(FILE* stream, long offset);
    // A control-file error (code 17) naming the value unless it is finite.
    void RequireFinite(double value, const std::string& description);
    // A control-file error (code 17) naming the value unless it lies within
    // lowest..highest (a NaN never does).
    void RequireRange(double value, double lowest, double highest, const std::string& description);
    // "FATAL: error in control file, <description>; <module>: the value <value>
    // <why> (<control file>)", code 17.
    // With `line` > 0 the entry names the line of the control file as well.
    [[noreturn]] void ValueRefused(const std::string& description, const std::string& value, const std::string& why,
                                   long line = 0);

    // Rewinds the control-file stream and looks for a line whose first word is
    // the section name (in brackets). Leaves the stream on the line after it.
    virtual bool FindSection(const std::string& sectionName, bool required);
    // Opens the compiled control file for reading ("FATAL: error opening",
    // code 28) unless it is open; closes it ("FATAL: error closing", code 11).
    void OpenControlFile();
    void CloseControlFile();

    virtual void ResetCellStatistics(double threshold);
    virtual void AddCellStatistics(double value, double weight);
    virtual void GetCellStatistics(double* weightSum, double* minimum, double* maximum, double* sum, double* mean,
                                   double* standardDeviation);

    virtual double Interpolate(double x0, double y0, double x1, double y1, double x);
    virtual void SetStatus(int status);
    virtual void DeleteModule();

    // Grid table (gridtable.cpp). Lookups answer an index 1 to 999.
    virtual int FindGrid(const std::string& name);
    virtual int GetGridIndex(const std::string& name);
    // The data of a named grid, or null when the table holds none.
    double** OptionalGrid(const std::string& name);
    // The data of a named grid; a missing grid, or one without data, ends the
    // run with code 33.
    double** RequiredGrid(const std::string& name);
    virtual int FindOneOfThreeGrids(const std::string& name1, const std::string& name2, const std::string& name3);
    virtual int FindOneOfFourGrids(const std::string& name1, const std::string& name2, const std::string& name3,
                                   const std::string& name4);
    virtual void StoreGrid(int index, const std::string& fileName, double** data, GridStack stack, int numLevels,
                           const std::string& internalName, int writeCode, long firstRow, long lastRow);
    virtual void ReleaseGrid(int index);
    // Ends the run with code 12 unless 1 <= index <= 999.
    void CheckGridIndex(int index);

    // Grid and stack files (gridfiles_*.cpp). Relative names get the input
    // directory (readers) or the output directory (writers) in front.
    virtual void ReadGrid(const std::string& fileName, double**& grid, int fillMode, bool allocate, bool verbose,
                          double fillValue, bool fillFromNeighbours, bool directRead = true, int unused = 0,
                          bool haloRows = false);
    // Returns the number of levels n; the new stack holds levels 0 to n.
    virtual int ReadStack(const std::string& fileName, GridStack& stack, bool allRows = true);
    virtual void WriteGrid(const std::string& fileName, double** grid, bool textOutput, bool doublePrecision);
    virtual void WriteGridMasked(const std::string& fileName, double** grid, bool textOutput, bool doublePrecision);
    virtual void WriteStack(const std::string& fileName, GridStack stack, int numLevels, bool textOutput,
                            bool doublePrecision);
    // Output of a grid-table entry by its write code at the component's
    // current date (StepYear, StepMonth, StepDay, StepHour), its time shift
    // and end key: snapshots, and the sums, means, minima, maxima and
    // vegetation-period grids the entry keeps (writecode_*.cpp).
    virtual void WriteStackByCode(int index);
    virtual void WriteGridByCode(int index, bool regionFilter, bool suppressAggregates);
    // WriteGridByCode for `count` entries of one step in turn, their sums,
    // minima and maxima in one pass over the rows (see GridWriteCodes).
    void WriteGridsByCode(const int* indices, int count, bool regionFilter, bool suppressAggregates);

    // Reads the rest of the current line (the line end included).
    static void ReadRestOfLine(FILE* stream, std::string* rest);
    // Reads the next whitespace-delimited word of any length; false at end.
    static bool ReadWord(FILE* stream, std::string* word);

    // Time shift: minutes from the hour of a meteorological record to the end
    // of its step, and the same in hours.
    double TimeShiftMinutes = 0;
    double TimeShiftHours = 0;
    int DaysPerMonth[13] = {0, 31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};

    std::string LineBuffer;
    std::string SectionName;
    std::string ControlFilePath;
    FILE* ControlFile = nullptr;

    // Cell statistics accumulator.
    double StatWeightSum = 0, StatMinimum = 0, StatMaximum = 0, StatSum = 0, StatSumSquares = 0,
           StatThreshold = 0;
    bool StatHasValue = false;

    // Model grid geometry.
    int32_t NCols = 0, NRows = 0, FirstRow = 0, LastRow = 0;
    double XllCorner = 0, YllCorner = 0, CellSize = 0, NoData = -9999;
    double** RelCellArea = nullptr;  // owned by the grid table

    // GIF input (see gifreader.h): lower-left corner and pixel size of the
    // image in model coordinates, an optional mask on the model grid (not
    // owned) and the five parameters that turn pixel values into values.
    void SetGifGeoreference(double** mask, double originX, double originY, double cellSize);
    double** GifMask = nullptr;
    double GifOriginX = 0, GifOriginY = 0, GifCellSize = 0;
    double GifF1 = 0, GifX1 = 0, GifF2 = 0, GifX2 = 0;
    int32_t GifThreshold = 0;

    // Header of the last grid read or written: columns, rows, corner x and y,
    // cell size, nodata, weighted count, minimum, maximum, sum, mean, standard
    // deviation.
    double GridHeader[12] = {};

    ZoneRecord* Zones = nullptr;      // owned elsewhere
    RowExtent* RowExtents = nullptr;  // owned elsewhere

    // Current date of the component and the end date of the run.
    int64_t StepHour = 0, StepDay = 0, StepMonth = 0, StepYear = 0;
    int64_t EndHour = 0, EndDay = 0, EndMonth = 0, EndYear = 0, EndKey = 0;

    bool WriteAsciiGrids = false;
    bool WriteDoubleGrids = false;
    std::string InputDirectory;
    std::string OutputDirectory;

    MemoryGrid* GridTable = nullptr;  // owned by the application

    int32_t ProcessNumber = 0;
    int32_t RegionGridIndex = 0;  // grid-table entry of "MPIRegions" once found
    int32_t ProcessCount = 1;
    int32_t LogInterval = 1;

    bool Deleted() const { return ModuleDeleted; }

private:
    template <typename T> static constexpr bool IsCountable() {
        return std::is_integral_v<T> && !std::is_same_v<T, char> && !std::is_same_v<T, bool>;
    }
    // No bound at all: a floating-point value is then only checked for being finite.
    static constexpr double Unbounded = std::numeric_limits<double>::infinity();
    template <typename T> static constexpr auto Lowest() {
        if constexpr (std::is_floating_point_v<T>)
            return -std::numeric_limits<double>::infinity();
        else
            return static_cast<long long>(std::numeric_limits<T>::min());
    }
    template <typename T> static constexpr auto Highest() {
        if constexpr (std::is_floating_point_v<T>)
            return std::numeric_limits<double>::infinity();
        else if constexpr (std::numeric_limits<T>::digits > std::numeric_limits<long long>::digits)
            return std::numeric_limits<long long>::max();
        else
            return static_cast<long long>(std::numeric_limits<T>::max());
    }
    int FinishReadValue(FILE* stream, int converted, const std::string& description, std::string* rest);
    bool ModuleDeleted = false;
};

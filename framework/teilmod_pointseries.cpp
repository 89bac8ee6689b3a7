#include "framework/teilmod_pointseries.h"

#include "framework/diagnostics_writer.h"
#include "framework/gridtable.h"
#include "framework/teilmod_pointseries_text.h"

SpecialOutputClass::SpecialOutputClass(int* status, DiagnosticsWriter* writer, StatisticsTableEntry* statisticsTable,
                                       int statisticsTableSize, const std::string& sectionName,
                                       const ModelSettings& settings, MemoryGrid* gridTable, int subSteps)
    : teilmodellklasse(writer, sectionName, settings, gridTable, 1, false),
      StatisticsTable(statisticsTable),
      StatisticsTableSize(statisticsTableSize),
      SubStepCount(subSteps) {
    *status = 0;
    if (Method == 0) return;
    try {
        ReadSection();
    } catch (int code) {
        *status = code;
    } catch (...) {
        *status = 104;
    }
}

SpecialOutputClass::~SpecialOutputClass() = default;

void SpecialOutputClass::ReadSection() {
    RegionsIndex = FindGrid("MPIRegions");
    if (Writer) {
        *Writer << "file " << "teilmod" << ", compiled at " << __DATE__ << ", " << __TIME__ << "[end-entry]";
    }

    std::string line;
    if (!ReadLine(line)) SpecialOutputSectionError(Writer, "the line with \"numfiles\" is missing");
    const auto value = special_output::FindBraceValue(line, "numfiles", special_output::Occurrence::First);
    int count = 0;
    if (!value.Complete || !special_output::ParseInt(special_output::FirstWord(value.Text), &count) || count < 0) {
        SpecialOutputSectionError(Writer, "expected \"numfiles = <count of files>;\" in the line after the "
                                          "time interval, found:\n" + line);
    }

    const SpecialOutputGeometry geometry{XllCorner, YllCorner, CellSize, NCols, NRows, NoData};
    for (int k = 1; k <= count; ++k) {
        const std::string block = ReadFileBlock(k);
        Files.push_back(std::make_unique<SpecialOutputFile>(Writer, this, block, geometry, GridTable, SubStepCount,
                                                            OutputDirectory));
        FileCount = static_cast<int>(Files.size());
    }

    FILE* file = ControlFile;
    ControlFile = nullptr;
    if (file && std::fclose(file) != 0) {
        if (Writer) *Writer << "FATAL: error closing " << ControlFilePath << "[end-entry]";
        throw 11;
    }
}

bool SpecialOutputClass::ReadLine(std::string& line) {
    line.clear();
    if (!ControlFile) return false;
    ReadRestOfLine(ControlFile, &line);
    if (std::ferror(ControlFile)) ReadError(ControlFilePath, 1);
    return !line.empty();
}

std::string SpecialOutputClass::ReadFileBlock(int number) {
    // Braces are counted one by one, so that a block may open and close on
    // one line and lines before its opening brace are skipped.
    std::string block;
    std::string line;
    int depth = 0;
    bool opened = false;
    while (!opened || depth > 0) {
        if (!ReadLine(line)) {
            SpecialOutputSectionError(Writer, "the control file ends inside file block " + std::to_string(number) +
                                                  " of " + "\"numfiles\"");
        }
        // A section header before the block's brace: the block is missing,
        // and the braces that follow belong to another section.
        if (!opened && special_output::FirstWord(line).rfind('[', 0) == 0) {
            SpecialOutputSectionError(Writer, "file block " + std::to_string(number) + " of \"numfiles\" is missing "
                                              "before the section " + special_output::FirstWord(line));
        }
        if (opened || line.find('{') != std::string::npos) block += line;
        for (const char c : line) {
            if (c == '{') {
                opened = true;
                ++depth;
            } else if (c == '}' && opened) {
                --depth;
                if (depth == 0) break;
            }
        }
    }
    return block;
}

InstanceCells SpecialOutputClass::OwnCells() const {
    InstanceCells cells;
    if (RegionsIndex > 0 && GridTable && GridTable[RegionsIndex].InternalName == "MPIRegions") {
        cells.Regions = GridTable[RegionsIndex].Data;
    }
    cells.Process = ProcessNumber;
    cells.FirstRow = FirstRow >= 1 ? FirstRow : 1;
    cells.LastRow = LastRow >= cells.FirstRow && LastRow <= NRows ? LastRow : NRows;
    return cells;
}

void SpecialOutputClass::Step(int64_t hour, int64_t day, int64_t month, int64_t year, bool subStepCall,
                              int subStep) {
    if (Method == 0 || Files.empty()) return;
    const InstanceCells cells = OwnCells();
    for (const auto& file : Files) file->Step(hour, day, month, year, subStepCall, subStep, cells);
}

void SpecialOutputClass::Flush() {
    for (const auto& file : Files) {
        if (file->RowsInUse > 0) file->Flush();
    }
}

void SpecialOutputClass::DeleteModule() {
    Files.clear();
    FileCount = 0;
    modelobject::DeleteModule();
}

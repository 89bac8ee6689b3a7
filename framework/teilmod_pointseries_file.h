#pragma once
// One special output file: the entities of one file block, the three header
// lines written at construction and the buffered rows, one per time step,
// appended to the file when the buffer is full or on request.

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "framework/teilmod_pointseries_entity.h"
#include "framework/zonalstatistic.h"

class SpecialOutputClass;

class SpecialOutputFile {
public:
    // `text` is the file block with its braces. Creates the file with its
    // header; ends with code 1007 when it cannot be created and with the
    // codes of the entities.
    SpecialOutputFile(DiagnosticsWriter* writer, SpecialOutputClass* owner, const std::string& text,
                      const SpecialOutputGeometry& geometry, MemoryGrid* gridTable, int subSteps,
                      const std::string& outputDirectory);
    ~SpecialOutputFile();
    SpecialOutputFile(const SpecialOutputFile&) = delete;
    SpecialOutputFile& operator=(const SpecialOutputFile&) = delete;

    // One call of the application's step: opens the row of a new time step,
    // reads the entities due in this call and closes the row at the end of
    // the step (sub-step call false).
    void Step(int64_t hour, int64_t day, int64_t month, int64_t year, bool subStepCall, int subStep,
              const InstanceCells& cells);
    // Appends the buffered rows to the file; code 65 when it cannot be opened.
    void Flush();

    DiagnosticsWriter* Writer = nullptr;
    SpecialOutputClass* Owner = nullptr;
    int Points = 0;
    std::vector<DatedRow> Rows;  // 1 to Capacity; Values[1 .. Points]
    int64_t Capacity = 0;
    int64_t RowsInUse = 0;
    FILE* Stream = nullptr;  // open only while the file is written
    std::string Header;
    std::string FileName;  // with the output directory in front
    std::vector<SpecialOutputEntity> Entities;
    MemoryGrid* GridTable = nullptr;
    int SubSteps = 1;
    bool NewRow = true;  // the next step call begins a new row

private:
    void OpenRow(int64_t hour, int64_t day, int64_t month, int64_t year);
    void WriteHeader();
    // Writes the text into the open stream and closes it; a failing write or
    // close ends the run.
    void WriteAndClose(const std::string& text);

    std::vector<double> RowValues;  // storage of the rows' values
    std::vector<double> PointValues;
    double NoData = -9999;
};

#include "forcing/meteoint_superposition.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>

#include "framework/diagnostics_writer.h"
#include "framework/zonalstatistic.h"

RegionalSuperposition::RegionalSuperposition(int* status, DiagnosticsWriter* writer,
                                             StatisticsTableEntry* statisticsTable, int statisticsTableSize,
                                             const std::string& sectionName, const ModelSettings& settings,
                                             MemoryGrid* gridTable)
    : teilmodellklasse(writer, sectionName, settings, gridTable, 1),
      StatisticsTable(statisticsTable),
      StatisticsTableSize(statisticsTableSize) {
    *status = 0;
    if (Method == 0) return;
    ReadEntities();
    CloseControlFile();
    for (const std::string& text : EntityTexts) Entities.push_back(std::make_unique<cSuperposition>(this, text));
}

RegionalSuperposition::~RegionalSuperposition() = default;

namespace {

// The count between the first "=" and the first ";" after it; -1 when there
// is no whole non-negative number there.
int EntityCount(const std::string& line) {
    const size_t equals = line.find('=');
    if (equals == std::string::npos) return -1;
    const size_t semicolon = line.find(';', equals);
    const std::string text =
        line.substr(equals + 1, semicolon == std::string::npos ? std::string::npos : semicolon - equals - 1);
    const char* begin = text.c_str();
    char* end = nullptr;
    errno = 0;
    const long value = std::strtol(begin, &end, 10);
    if (end == begin || errno == ERANGE || value < 0 || value > INT_MAX) return -1;
    for (const char* p = end; *p; ++p) {
        if (*p != ' ' && *p != '\t' && *p != '\r' && *p != '\n') return -1;
    }
    return static_cast<int>(value);
}

}  // namespace

void RegionalSuperposition::ReadEntities() {
    std::string line;
    ReadRestOfLine(ControlFile, &line);
    const int count = line.find("NumberOfEntities") == std::string::npos ? -1 : EntityCount(line);
    if (count < 0) {
        if (Writer) {
            *Writer << "FATAL: could not read \"NumberOfEntities\" keyword in section [" << ModuleName << "]\n\n"
                    << "[end-entry]";
        }
        throw 133;
    }
    for (int i = 1; i <= count; ++i) {
        std::string block;
        do {
            ReadRestOfLine(ControlFile, &line);
            if (line.empty()) {
                // The file ended inside the block.
                ControlFileError("entity " + std::to_string(i) + " of " + std::to_string(count) +
                                     " (a block ending with \"}\") in [" + ModuleName + "]",
                                 ModuleName);
            }
            block += line;
        } while (block.find('}') == std::string::npos);
        EntityTexts.push_back(block);
    }
}

void RegionalSuperposition::RunTimeStep(int64_t hour, int64_t day, int64_t month, int64_t year) {
    CurrentHour = hour;
    CurrentDay = day;
    CurrentMonth = month;
    CurrentYear = year;
    teilmodellklasse::RunTimeStep(hour, day, month, year);
    if (Method == 0) return;
    for (auto& entity : Entities) entity->Superpose(hour, day, month, year);
}

void RegionalSuperposition::WriteOutputs() {
    if (Method == 0) return;
    for (auto& entity : Entities) entity->WriteOutput();
}

void RegionalSuperposition::FlushStatistics() {
    if (Method == 0) return;
    for (auto& entity : Entities) entity->FlushStatistics();
}

void RegionalSuperposition::DeleteModule() {
    for (auto& entity : Entities) entity->Release();
    Entities.clear();
    EntityTexts.clear();
    modelobject::DeleteModule();
}

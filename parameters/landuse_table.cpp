#include "parameters/landuse_table.h"

#include <cstdint>
#include <cstdio>
#include <string>

#include "framework/diagnostics_writer.h"
#include "framework/modelobject.h"

namespace {

// The next line of the stream with its line end, of any length; false at
// the end of the file.
bool ReadLine(FILE* file, std::string* line) {
    modelobject::ReadRestOfLine(file, line);
    return !line->empty();
}

// The method of a line that opens a brace block, or an empty text when the
// line is an old one-line entry.
std::string BlockMethod(const std::string& line) {
    if (line.find("method") == std::string::npos || line.find('{') == std::string::npos) return "";
    for (const char* name :
         {"VariableDayCount", "DynamicPhenology_1", "DynamicPhenology_2", "DynamicPhenology_3", "DynamicPhenology_4"}) {
        if (line.find(name) != std::string::npos) return name;
    }
    return "";
}

}  // namespace

std::vector<LanduseType> ReadLanduseTable(modelobject& reader, int modelVariant) {
    DiagnosticsWriter* log = reader.Writer;
    reader.FindSection("[landuse_table]", true);
    FILE* file = reader.ControlFile;

    long count = 0;
    reader.ReadValue(file, "%ld", &count, "number of landuse types", &reader.LineBuffer);
    if (count < 0 || count >= INT32_MAX) {
        if (log) {
            *log << "FATAL: error in control file, number of landuse types in [landuse_table]: " << count
                 << " is not a valid count[end-entry]";
        }
        throw 17;
    }

    // The records are appended as they are read, so that a count larger than
    // the section costs no memory before the section runs out.
    std::vector<LanduseType> table(1);
    table.reserve(static_cast<size_t>(count < 4096 ? count + 1 : 4096));
    table[0].Code = static_cast<int32_t>(count);
    for (long i = 1; i <= count; ++i) {
        std::string line;
        if (!ReadLine(file, &line)) {
            if (log) {
                *log << "FATAL: landuse table: the section [landuse_table] ends after " << i - 1 << " of " << count
                     << " entries[end-entry]";
            }
            throw 29;
        }
        LanduseType entry;
        entry.Code = static_cast<int32_t>(i);
        const std::string method = BlockMethod(line);
        if (method.empty()) {
            entry.ParseOldFormat(log, line, modelVariant);
        } else {
            std::string text = line;
            while (text.find('}') == std::string::npos) {
                if (!ReadLine(file, &line)) {
                    if (log) {
                        *log << "FATAL: landuse table entry " << i
                             << ": the end of the file came before the closing brace \"}\"\n" << text << "[end-entry]";
                    }
                    throw 29;
                }
                text += line;
            }
            entry.ParseEntry(log, text, method);
        }
        table.push_back(std::move(entry));
    }

    // Table-wide days of the vegetation-period balance: the first positive
    // day of the entries, else the first and the last day of the year.
    table[0].JDVegetationResetForBalance = 1;
    table[0].JDVegetationWriteForBalance = 365;
    for (size_t i = 1; i < table.size(); ++i) {
        if (table[i].JDVegetationResetForBalance > 0) {
            table[0].JDVegetationResetForBalance = table[i].JDVegetationResetForBalance;
            break;
        }
    }
    for (size_t i = 1; i < table.size(); ++i) {
        if (table[i].JDVegetationWriteForBalance > 0) {
            table[0].JDVegetationWriteForBalance = table[i].JDVegetationWriteForBalance;
            break;
        }
    }
    return table;
}

#include "parameters/soil_reader.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cstdint>
#include <string>

#include "framework/diagnostics_writer.h"
#include "framework/modelobject.h"

namespace {

// Reads one line of any length, its line end included; false at the end of
// the file with nothing read.
bool ReadLine(FILE* stream, std::string* line) {
    line->clear();
    int c;
    while ((c = std::fgetc(stream)) != EOF) {
        line->push_back(static_cast<char>(c));
        if (c == '\n') break;
    }
    return !line->empty();
}

bool IsBraceEntry(const std::string& line) {
    return line.find("MultipleHorizons") != std::string::npos || line.find("method") != std::string::npos ||
           line.find('{') != std::string::npos;
}

// The integer an entry begins with, or `fallback`.
int LeadingCode(const std::string& entry, int fallback) {
    size_t p = 0;
    while (p < entry.size() && std::isspace(static_cast<unsigned char>(entry[p]))) ++p;
    int32_t code = 0;
    const auto result = std::from_chars(entry.data() + p, entry.data() + entry.size(), code);
    return result.ec == std::errc() ? code : fallback;
}


}  // namespace

void ReadSoilTable(modelobject& reader, FILE* controlFile, int modelVariant, std::vector<SoilType>& table) {
    DiagnosticsWriter* writer = reader.Writer;
    LentControlFile lent(reader, controlFile);
    reader.FindSection("[soil_table]", true);

    long count = 0;
    std::string rest;
    reader.ReadValue(controlFile, "%ld", &count, "number of soil types in [soil_table]", &rest);
    if (count < 0 || count > INT32_MAX) {
        if (writer) {
            *writer << "FATAL: error in control file, number of soil types in [soil_table] (here " << count
                    << ") must be between 0 and " << INT32_MAX << "[end-entry]";
        }
        throw 17;
    }

    table.clear();
    table.reserve(static_cast<size_t>(std::min<long>(count, 1024)) + 1);
    table.emplace_back(static_cast<int>(count));

    for (long j = 1; j <= count; ++j) {
        std::string entry;
        if (!ReadLine(controlFile, &entry)) {
            reader.ControlFileError("soil type " + std::to_string(j) + " of " + std::to_string(count) +
                                        " in [soil_table]",
                                    reader.ModuleName);
        }
        table.emplace_back(static_cast<int>(j));
        SoilType& soil = table.back();
        if (!IsBraceEntry(entry)) {
            soil.ParseOldFormat(writer, entry, modelVariant);
        } else {
            std::string line;
            while (entry.find('}') == std::string::npos) {
                if (!ReadLine(controlFile, &line)) {
                    if (writer) {
                        *writer << "ERROR: soil table: the entry of soil type " << j
                                << " has no closing \"}\" before the end of the control file" << "[end-entry]";
                        *writer << "FATAL: Soil table code " << LeadingCode(entry, soil.Code)
                                << ": some values could not be read\n"
                                << entry << "[end-entry]";
                    }
                    throw 29;
                }
                entry += line;
            }
            soil.ParseEntry(writer, entry);
        }
        const SoilType& previous = table[table.size() - 2];
        if (j >= 2 && soil.LayerCount != previous.LayerCount) {
            if (writer) {
                *writer << "FATAL: the numbers of soil layers has to be equal for all soil types\n(here: soil type "
                        << soil.Code << ": " << soil.LayerCount << " layers, but soil type " << previous.Code << ": "
                        << previous.LayerCount << " layers)\n\n" << "[end-entry]";
            }
            throw 30;
        }
    }
    // Entry 0 carries the layer count every soil type shares.
    if (count >= 1) table[0].LayerCount = table[1].LayerCount;
}

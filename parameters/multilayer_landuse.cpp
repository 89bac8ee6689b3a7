#include "parameters/multilayer_landuse.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdlib>

#include "framework/diagnostics_writer.h"
#include "framework/modelobject.h"
#include "framework/string_helpers.h"

namespace {

const char* const LayersKey = "Landuse_Layers";

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

// A line whose first word is a bracketed name starts the next section.
bool IsSectionHeading(const std::string& line) {
    size_t p = 0;
    while (p < line.size() && std::isspace(static_cast<unsigned char>(line[p]))) ++p;
    if (p >= line.size() || line[p] != '[') return false;
    size_t end = p;
    while (end < line.size() && !std::isspace(static_cast<unsigned char>(line[end]))) ++end;
    return line[end - 1] == ']';
}

// The integer at the start of `text` (leading blanks skipped, an optional
// sign, decimal digits; whatever follows is ignored).
enum class IntScan { None, Value, OutOfRange };
IntScan LeadingInt(const char* text, int32_t* value, const char** end = nullptr) {
    char* stop = nullptr;
    errno = 0;
    const long long v = std::strtoll(text, &stop, 10);
    if (end) *end = stop;
    if (stop == text) return IntScan::None;
    if (errno == ERANGE || v < INT32_MIN || v > INT32_MAX) return IntScan::OutOfRange;
    *value = static_cast<int32_t>(v);
    return IntScan::Value;
}

// The value text of the first occurrence of `key`: from the next "=" after it
// to the next ";" (or to the end of the entry). Absent key: false with
// `*found` false; key without a following "=": false with `*found` true.
bool KeyValueText(const std::string& entry, const std::string& key, std::string* value, bool* found) {
    const size_t at = entry.find(key);
    *found = at != std::string::npos;
    if (!*found) return false;
    const size_t equals = entry.find('=', at + key.size());
    if (equals == std::string::npos) return false;
    const size_t semicolon = entry.find(';', equals + 1);
    *value = entry.substr(equals + 1, semicolon == std::string::npos ? std::string::npos : semicolon - equals - 1);
    return true;
}

[[noreturn]] void RefuseEntry(DiagnosticsWriter* writer, int32_t code, const std::string& entry,
                              const std::string& reason) {
    if (writer) {
        *writer << "ERROR: multilayer landuse entry with code " << code << ": " << reason << "[end-entry]";
        *writer << "FATAL: multilayer_landuse_table code " << code << ": some parameters could not be read\n"
                << entry << "[end-entry]";
    }
    throw 110;
}


}  // namespace

MultilayerLanduseType::MultilayerLanduseType() = default;

MultilayerLanduseType::MultilayerLanduseType(int code) : Code(code) {}

bool MultilayerLanduseType::ReadLanduseLayers(const std::string& entry, const std::string& key,
                                              std::vector<int32_t>& layerCodes, int32_t& layerCount) {
    layerCodes.assign(1, 0);
    layerCount = 0;
    std::string value;
    bool found = false;
    if (!KeyValueText(entry, key, &value, &found)) return !found;
    std::vector<std::string> pieces;
    SplitString(value, ",;", pieces);
    for (const std::string& piece : pieces) {
        int32_t layerCode = 0;
        const IntScan scan = LeadingInt(piece.c_str(), &layerCode);
        if (scan == IntScan::OutOfRange) return false;
        if (scan == IntScan::None) continue;
        layerCodes.push_back(layerCode);
    }
    layerCount = static_cast<int32_t>(layerCodes.size() - 1);
    layerCodes[0] = layerCount;
    return true;
}

void MultilayerLanduseType::ParseEntry(DiagnosticsWriter* writer, const std::string& entry) {
    if (entry.find(LayersKey) == std::string::npos) {
        if (writer) {
            *writer << "FATAL: multiple landuse table: parameter Landuse_Layers not found " << entry
                    << "[end-entry]";
        }
        throw 112;
    }

    // Code and name open the entry.
    const char* text = entry.c_str();
    const char* after = nullptr;
    int32_t code = 0;
    const IntScan scan = LeadingInt(text, &code, &after);
    if (scan != IntScan::Value) RefuseEntry(writer, Code, entry, "the code is not an integer");
    Code = code;
    CodeCopy = code;
    size_t pos = static_cast<size_t>(after - text);
    while (pos < entry.size() && std::isspace(static_cast<unsigned char>(entry[pos]))) ++pos;
    size_t nameEnd = pos;
    while (nameEnd < entry.size() && entry[nameEnd] != '{' && !std::isspace(static_cast<unsigned char>(entry[nameEnd])))
        ++nameEnd;
    if (nameEnd == pos) RefuseEntry(writer, Code, entry, "the name is missing");
    if (nameEnd - pos > MaxNameLength) RefuseEntry(writer, Code, entry, "the name is longer than 199 characters");
    Name = entry.substr(pos, nameEnd - pos);

    if (!ReadLanduseLayers(entry, LayersKey, LayerCodes, LayerCount)) {
        RefuseEntry(writer, Code, entry,
                    "the value of \"Landuse_Layers\" is missing its \"=\" or holds a code outside the integer range");
    }
    if (LayerCount < 1) RefuseEntry(writer, Code, entry, "\"Landuse_Layers\" gives no layer code");
    LayerCodesAsRead = LayerCodes;

    // The light parameters: a value that is not a number reads as 0.
    auto lightParameter = [&](const char* key, double fallback) {
        std::string value;
        bool found = false;
        if (!KeyValueText(entry, key, &value, &found)) {
            if (found) RefuseEntry(writer, Code, entry, std::string("the key \"") + key + "\" has no \"=\"");
            return fallback;
        }
        const double number = std::strtod(value.c_str(), nullptr);
        if (!std::isfinite(number)) {
            RefuseEntry(writer, Code, entry,
                        std::string("the value \"") + value + "\" of \"" + key + "\" is not a finite number");
        }
        return number;
    };
    k_extinct = lightParameter("k_extinct", 0.3);
    LAI_scale = lightParameter("LAI_scale", 10.0);
}

void ReadMultilayerLanduseTable(modelobject& reader, FILE* controlFile, int /*modelVariant*/,
                                std::vector<MultilayerLanduseType>& table) {
    table.clear();
    DiagnosticsWriter* writer = reader.Writer;
    LentControlFile lent(reader, controlFile);
    if (!reader.FindSection("[multilayer_landuse]", false)) return;

    long count = 0;
    std::string rest;
    reader.ReadValue(controlFile, "%ld", &count, "number of multilayer landuse types in [multilayer_landuse]", &rest);
    if (count < 0 || count > INT32_MAX) {
        if (writer) {
            *writer << "FATAL: error in control file, number of multilayer landuse types in [multilayer_landuse] (here "
                    << count << ") must be between 0 and " << INT32_MAX << "[end-entry]";
        }
        throw 17;
    }

    // The table grows with the entries read, so that a mistyped count cannot
    // exhaust memory before the section runs out.
    table.reserve(static_cast<size_t>(std::min<long>(count, 1024)) + 1);
    table.emplace_back(static_cast<int>(count));

    auto endsEarly = [&](int32_t code, const std::string& text, const std::string& reason) {
        RefuseEntry(writer, code, text, reason);
    };

    for (long j = 1; j <= count; ++j) {
        const int32_t position = static_cast<int32_t>(j);
        std::string entry;
        if (!ReadLine(controlFile, &entry)) {
            endsEarly(position, entry,
                      "the control file ends after " + std::to_string(j - 1) + " of " + std::to_string(count) +
                          " entries of [multilayer_landuse]");
        }
        if (IsSectionHeading(entry)) {
            endsEarly(position, entry,
                      "the section [multilayer_landuse] ends after " + std::to_string(j - 1) + " of " +
                          std::to_string(count) + " entries");
        }
        table.emplace_back(position);
        MultilayerLanduseType& record = table.back();
        if (entry.find(LayersKey) == std::string::npos) {
            if (writer) {
                *writer << "ERROR: [multilayer_landuse]: the first line of entry " << position << " of " << count
                        << " holds no \"Landuse_Layers\"" << "[end-entry]";
            }
            record.ParseEntry(writer, entry);  // refuses the entry
        }
        std::string line;
        while (entry.find('}') == std::string::npos) {
            if (!ReadLine(controlFile, &line)) {
                endsEarly(position, entry, "the control file ends before the closing \"}\" of the entry");
            }
            if (IsSectionHeading(line)) {
                endsEarly(position, entry, "the next section " + line.substr(0, line.find_first_of("\r\n")) +
                                               " begins before the closing \"}\" of the entry");
            }
            entry += line;
        }
        record.ParseEntry(writer, entry);

        if (j >= 2) {
            const MultilayerLanduseType& previous = table[table.size() - 2];
            if (record.LayerCount != previous.LayerCount) {
                if (writer) {
                    *writer << "FATAL: \nThe numbers of landuse layers has to be equal for all multilayer-landuse "
                               "types\n(here: multilayer-landuse type "
                            << record.Code << ": " << record.LayerCount
                            << " layers, but multilayer-landuse type " << previous.Code << ": "
                            << previous.LayerCount << " layers)\n\n"
                            << "[end-entry]";
                }
                throw 111;
            }
        }
    }
}

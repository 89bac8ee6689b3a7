#include "setup/tracer_ini.h"

#include <cctype>
#include <cmath>

#include "framework/diagnostics_writer.h"
#include "setup/control_text.h"

namespace {

const char* const Q = "\"";

// The value text of a keyword: everything after the first "=" behind it.
// Returns false when the keyword or the "=" is missing (`keywordFound` tells
// which).
bool ValueAfter(const std::string& line, const char* keyword, std::string_view* value, bool* keywordFound) {
    const size_t key = line.find(keyword);
    *keywordFound = key != std::string::npos;
    if (!*keywordFound) return false;
    const size_t equals = line.find('=', key);
    if (equals == std::string::npos) return false;
    *value = std::string_view(line).substr(equals + 1);
    return true;
}

// The keywords may stand in any order, so the word after a max_conc value
// without a unit can be the next keyword: that is no unit.
bool IsKeyword(const std::string& word) {
    const std::string name = word.substr(0, word.find('='));
    for (const char* keyword : {"radioactive", "non_radioactive", "half_time", "evaporating", "non_evaporating",
                                "min_conc", "max_conc", "soilini", "gwini", "statcode", "gridcode", "path", "statext",
                                "gridext"}) {
        if (name == keyword) return true;
    }
    return false;
}

}  // namespace

tracer_ini_class::tracer_ini_class(int* status, DiagnosticsWriter* writer, const std::string& controlFilePath,
                                   int* tracerCount, TracerInfo** tracers, bool writeAsciiGrids,
                                   bool writeDoubleGrids, const std::string& inputDirectory,
                                   const std::string& outputDirectory)
    : modelobject(writer, controlFilePath, writeAsciiGrids, writeDoubleGrids, inputDirectory, outputDirectory) {
    *status = 0;
    try {
        ModuleName = "tracer_ini";
        ReadSection();
        if (tracerCount) *tracerCount = TracerCount;
        if (tracers) *tracers = Tracers();
    } catch (int code) {
        *status = code;
    } catch (...) {
        *status = 103;
    }
    if (*status != 0) {
        Table.clear();
        TracerCount = 0;
    }
}

void tracer_ini_class::DeleteModule() {
    if (Deleted()) return;
    Table.clear();
    Table.shrink_to_fit();
    TracerCount = 0;
    modelobject::DeleteModule();
}

void tracer_ini_class::ReadSection() {
    controltext::ControlFileSession session(*this, ControlFilePath, false, "FATAL: error opening ");
    FindSection("[substance_transport]", true);
    int n = 0;
    ReadValue(ControlFile, "%d", &n, " number of tracers in ");
    if (n > MaxTracers) {
        if (Writer) {
            *Writer << "FATAL: not more than 9 tracer species are allowed at one time (they need a very lot of memory!)"
                    << "[end-entry]";
        }
        throw 58;
    }
    if (n <= 0) {
        session.Close();
        return;
    }
    Table.assign(static_cast<size_t>(n) + 1, TracerInfo{});
    std::string line;
    for (int i = 1; i <= n; ++i) {
        if (Writer) *Writer << "reading parameters for tracer " << i << " ..." << "[end-entry]";
        // A missing line reads as an empty one, which lacks every keyword.
        const long start = std::ftell(ControlFile);
        TracerLine = start >= 0 ? LineAt(ControlFile, start) : 0;
        if (!controltext::ReadLine(ControlFile, line, *this, ControlFilePath)) line.clear();
        ReadTracer(i, n, line);
        if (Writer) *Writer << "done." << "[end-entry]";
    }
    session.Close();
    TracerCount = n;
}

void tracer_ini_class::ReadTracer(int i, int n, const std::string& line) {
    TracerInfo& tracer = Table[static_cast<size_t>(i)];
    DiagnosticsWriter* w = Writer;

    // Name: the first three characters of the first word, lower case, padded.
    std::string word;
    controltext::ScanWord(line, &word);
    std::string name = word.substr(0, 3);
    while (name.size() < 3) name += '_';
    for (char& c : name) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    for (int k = 1; k < i; ++k) {
        if (Table[static_cast<size_t>(k)].name != name) continue;
        if (w) {
            *w << "FATAL: \n----------- ERROR in substance_transport ---------\n\nsubstance #" << i
               << " and substance #" << k << " have the same\nfirst 3 chars (lowercase) in its name (" << name
               << " <-> " << Table[static_cast<size_t>(k)].name
               << ")\n\n--------------------------------------------------\n" << "[end-entry]";
        }
        throw 59;
    }
    tracer.name = name;

    std::string_view value;
    bool found = false;
    std::string unit;
    size_t end = 0;

    // A value out of its range ends the run naming file, line, key and value.
    auto refuse = [&](const char* keyword, const std::string& text, const std::string& why) {
        if (w) {
            *w << "FATAL: error in " << keyword << " for tracer " << i << " (" << ControlFilePath << ", line "
               << std::to_string(TracerLine) << "): the value " << text << " " << why << "[end-entry]";
        }
        throw 56;
    };

    if (line.find("non_radioactive") != std::string::npos) {
        tracer.radioactive = 0;
        tracer.half_time = -9999;
    } else if (line.find("radioactive") != std::string::npos) {
        tracer.radioactive = 1;
        if (!ValueAfter(line, "half_time", &value, &found)) {
            if (w && !found) {
                *w << "FATAL: error in tracer_info_table tracer " << i << ": need a " << Q << "half_time"
                   << " = xxxx d" << Q << " sequence!" << "[end-entry]";
            } else if (w) {
                *w << "FATAL: error reading half_time for tracer " << i << ": no " << Q << "half_time" << " =" << Q
                   << " found!" << "[end-entry]";
            }
            throw 56;
        }
        double halfTime = 0;
        if (!controltext::ScanDouble(value, &halfTime, &end) || !controltext::ScanWord(value.substr(end), &unit)) {
            if (w) *w << "FATAL: error reading " << "half_time" << " for tracer " << i << "[end-entry]";
            throw 56;
        }
        if (unit != "d") {
            if (w) {
                *w << "FATAL: error reading " << "half_time" << " for tracer " << i << ": no " << Q << "d" << Q
                   << " for measure found!" << "[end-entry]";
            }
            throw 56;
        }
        if (!(halfTime > 0)) {
            if (w) {
                *w << "FATAL: error in " << "half_time" << " for tracer " << i << ": must be greater than 0!"
                   << "[end-entry]";
            }
            throw 56;
        }
        if (!(halfTime <= 1e12)) {
            refuse("half_time", std::string(controltext::SkipBlanks(value.substr(0, end))),
                   "is not a finite number of days up to 1e12");
        }
        tracer.half_time = halfTime;
    } else {
        if (w) {
            *w << "FATAL: error reading parameters for tracer " << i << ":\n need a key word " << Q << "radioactive"
               << Q << " or " << Q << "non_radioactive" << Q << "\n(may be, the number of tracers (" << n
               << ") is wrong?\n" << "[end-entry]";
        }
        throw 56;
    }

    if (line.find("non_evaporating") != std::string::npos) {
        tracer.evaporating = 0;
    } else if (line.find("evaporating") != std::string::npos) {
        tracer.evaporating = 1;
    } else {
        if (w) {
            *w << "FATAL: error reading parameters for tracer " << i << ":\n need a key word " << Q << "evaporating"
               << Q << " or " << Q << "non_evaporating" << Q << "\n(may be, the number of tracers (" << n
               << ") is wrong?" << "[end-entry]";
        }
        throw 56;
    }

    // The keyword and its "=" must be present; otherwise the entries name what
    // is missing.
    auto requireValue = [&](const char* keyword) {
        if (ValueAfter(line, keyword, &value, &found)) return;
        if (w && !found) {
            *w << "FATAL: error reading parameters for tracer " << i << ":\nneed a key word " << Q << keyword
               << " = xxxx" << Q << "[end-entry]";
        } else if (w) {
            *w << "FATAL: error reading " << keyword << " for tracer " << i << ": no " << Q << keyword << " =" << Q
               << " found!" << "[end-entry]";
        }
        throw 56;
    };

    // A concentration is one whole word, a finite number (isotope ratios may
    // be negative).
    auto concentration = [&](const char* keyword, double* target) {
        if (!controltext::ScanWord(value, &word)) return false;
        double v = 0;
        if (!controltext::ScanWholeDouble(word, &v)) {
            if (!controltext::ScanDouble(word, &v)) return false;
            refuse(keyword, word, "is not a number");
        }
        const std::string fault = RangeFault(v, -1e300, 1e300);
        if (!fault.empty()) refuse(keyword, word, fault);
        *target = v;
        return true;
    };

    requireValue("min_conc");
    if (!concentration("min_conc", &tracer.min_conc)) {
        if (w) *w << "FATAL: error reading " << "min_conc" << " for tracer " << i << "[end-entry]";
        throw 56;
    }

    requireValue("max_conc");
    double maxConc = 0;
    // The largest concentration in mg/l (the unit of the other values), for
    // the bounds of the initial values; kg/kg (or no unit) taken as 1e6 mg/l.
    double maxInMgPerLitre = 0;
    std::string maxText = "0";
    // A max_conc without a number keeps 0.
    if (controltext::ScanDouble(value, &maxConc, &end)) {
        maxText = std::string(controltext::SkipBlanks(value.substr(0, end)));
        if (!std::isfinite(maxConc)) refuse("max_conc", maxText, "is not a finite number");
        tracer.max_conc = maxConc;
        const bool hasUnit = controltext::ScanWord(value.substr(end), &unit) && !IsKeyword(unit);
        maxInMgPerLitre = maxConc * (hasUnit && unit == "mg/l" ? 1 : hasUnit && unit == "g/l" ? 1e3 : 1e6);
        if (hasUnit) maxText += " " + unit;
        if (!(maxInMgPerLitre >= tracer.min_conc)) refuse("max_conc", maxText, "lies below min_conc");
        if (controltext::ScanWord(value.substr(end), &unit) && !IsKeyword(unit) && unit != "mg/l" && unit != "g/l" &&
            unit != "kg/kg" && unit != "Kg/Kg") {
            if (w) {
                *w << "FATAL: error reading max_conc for tracer " << i
                   << ":\nwrong measure (only mg/l, g/l or kg/kg resp. no measure are allowed!)\nread here: " << unit
                   << "[end-entry]";
            }
            throw 56;
        }
    }

    for (const char* keyword : {"soilini", "gwini"}) {
        requireValue(keyword);
        double* target = keyword[0] == 's' ? &tracer.soilini : &tracer.gwini;
        if (!concentration(keyword, target)) {
            if (w) *w << "FATAL: error reading " << keyword << " for tracer " << i << "!" << "[end-entry]";
            throw 56;
        }
        // Initial concentrations lie within the tracer's bounds.
        if (*target < tracer.min_conc) refuse(keyword, word, "lies below min_conc");
        if (*target > maxInMgPerLitre) refuse(keyword, word, "lies above max_conc (" + maxText + ")");
    }

    // Codes and texts: the key includes its "=", written with one blank.
    struct Keyed {
        const char* key;
        const char* label;
        int* number;
        std::string* text;
    };
    const Keyed keyed[] = {
        {"statcode =", "statcode", &tracer.statcode, nullptr}, {"gridcode =", "gridcode", &tracer.gridcode, nullptr},
        {"path =", "path", nullptr, &tracer.path},             {"statext =", "statext", nullptr, &tracer.statext},
        {"gridext =", "gridext", nullptr, &tracer.gridext},
    };
    for (const Keyed& k : keyed) {
        const size_t at = line.find(k.key);
        if (at == std::string::npos) {
            if (w) {
                *w << "FATAL: error reading " << k.label << " for tracer " << i << ":\nneed a key word " << Q
                   << k.label << " = xxxx" << Q << "[end-entry]";
            }
            throw 56;
        }
        const std::string_view rest = std::string_view(line).substr(at + std::char_traits<char>::length(k.key));
        const bool ok = k.number ? controltext::ScanInt(rest, k.number) : controltext::ScanWord(rest, k.text);
        if (!ok) {
            if (w) *w << "FATAL: error reading " << k.label << " for tracer " << i << "!" << "[end-entry]";
            throw 56;
        }
    }
}

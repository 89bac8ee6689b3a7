// Parsing one entry of the soil table, in the brace ("MultipleHorizons") format
// or in the older one-line format, into a SoilType record with its tables.

#include <charconv>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "framework/diagnostics_writer.h"
#include "framework/string_helpers.h"
#include "parameters/soil.h"

namespace {

enum class Scan { Number, None, Bad };

size_t SkipSpace(const std::string& text, size_t pos) {
    while (pos < text.size() && std::isspace(static_cast<unsigned char>(text[pos]))) ++pos;
    return pos;
}

// Reads a number at `pos` after white space, as a scan for "%lf" or "%d"
// would, and moves `pos` behind it. Infinite, NaN and out-of-range values are
// Bad: they never become a parameter.
template <typename T> Scan ScanNumber(const std::string& text, size_t& pos, T* value) {
    size_t p = SkipSpace(text, pos);
    const char* first = text.data() + p;
    const char* last = text.data() + text.size();
    if (first < last && *first == '+') {
        ++first;
        if (first < last && *first == '-') return Scan::None;
    }
    T v{};
    std::from_chars_result result;
    if constexpr (std::is_floating_point_v<T>) {
        result = std::from_chars(first, last, v, std::chars_format::general);
    } else {
        result = std::from_chars(first, last, v);
    }
    if (result.ec == std::errc::invalid_argument) return Scan::None;
    if (result.ec != std::errc()) return Scan::Bad;
    // A number is a whole word: "3a-5" is no 3.
    if (result.ptr < last && !std::isspace(static_cast<unsigned char>(*result.ptr)) && *result.ptr != ',')
        return Scan::Bad;
    if constexpr (std::is_floating_point_v<T>) {
        if (!std::isfinite(v)) return Scan::Bad;
    }
    pos = static_cast<size_t>(result.ptr - text.data());
    *value = v;
    return Scan::Number;
}

// A whole word that must be a number and nothing else.
template <typename T> bool WordIsNumber(const std::string& word, T* value) {
    size_t pos = 0;
    return ScanNumber(word, pos, value) == Scan::Number && pos == word.size();
}

// The text between the first "=" after `from` and the first ";" after that
// (the rest of the entry when no ";" follows); false when no "=" follows.
bool ValueText(const std::string& entry, size_t from, std::string* value) {
    const size_t equals = entry.find('=', from);
    if (equals == std::string::npos) return false;
    const size_t end = entry.find(';', equals + 1);
    *value = entry.substr(equals + 1, end == std::string::npos ? std::string::npos : end - equals - 1);
    return true;
}

// Reads one number per horizon (1..count) in order. Once a read has reached
// the end of the text the remaining horizons repeat the last number; once a
// read finds no number it and all later horizons get 0. A list that holds no
// number at all, or a number that is not finite, gives false.
template <typename T> bool ReadPerHorizon(const std::string& text, int count, std::vector<T>& values) {
    size_t pos = 0;
    bool atEnd = false, failed = false;
    T last{};
    for (int k = 1; k <= count; ++k) {
        if (atEnd) {
            values[k] = last;
            continue;
        }
        if (failed) {
            values[k] = 0;
            continue;
        }
        T v{};
        const Scan r = ScanNumber(text, pos, &v);
        if (r == Scan::Bad) return false;
        if (r == Scan::None) {
            if (k == 1) return false;
            failed = true;
            values[k] = 0;
            continue;
        }
        values[k] = v;
        last = v;
        if (pos >= text.size()) atEnd = true;
    }
    return true;
}

std::string Quoted(const std::string& text) { return "\"" + text + "\""; }

std::string Number(double value);

// The physical ranges of one layer's parameters: a conductivity [m/s] above
// 0 and at most 1, water contents within 0 to 1, alpha [1/m] and n at most
// 1e6, a thickness [m] above 0 and at most 1000, a conductivity recession
// factor [1/m] above 0. Empty when every value lies within its range.
std::string LayerRangeFault(double ksat, double thetaSat, double thetaRes, double alpha, double n,
                            double thickness, double recession, const char* recessionName = "k_recession") {
    auto outside = [](const char* key, double v, const char* range) {
        return std::string(key) + " (here " + Number(v) + ") must lie " + range;
    };
    if (!(ksat > 0 && ksat <= 1)) return outside("ksat", ksat, "above 0 and at most 1 m/s");
    if (!(thetaSat > 0 && thetaSat <= 1)) return outside("theta_sat", thetaSat, "above 0 and at most 1");
    if (!(thetaRes >= 0 && thetaRes < 1)) return outside("theta_res", thetaRes, "within 0 to 1");
    if (!(alpha <= 1e6)) return outside("alpha", alpha, "at most 1e6 1/m");
    if (!(n <= 1e6)) return outside("the van Genuchten parameter n", n, "at most 1e6");
    if (!(thickness > 0 && thickness <= 1000)) return outside("the thickness", thickness, "above 0 and at most 1000 m");
    if (!(recession > 0 && recession <= 1e6)) return outside(recessionName, recession, "above 0 and at most 1e6");
    return "";
}

std::string Number(double value) {
    if (std::isnan(value)) return "nan";
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%g", value);
    return buffer;
}

// Detail first (as an ERROR entry), then the entry that ends the run.
[[noreturn]] void RefuseBraceEntry(DiagnosticsWriter* writer, int code, const std::string& entry,
                                   const std::string& detail) {
    if (writer) {
        if (!detail.empty()) *writer << "ERROR: Soil table code " << code << ": " << detail << "[end-entry]";
        *writer << "FATAL: Soil table code " << code << ": some values could not be read\n" << entry << "[end-entry]";
    }
    throw 29;
}

[[noreturn]] void RefuseOneLineEntry(DiagnosticsWriter* writer, int code, const std::string& entry,
                                     const std::string& detail) {
    if (writer) {
        if (!detail.empty()) *writer << "ERROR: soil table code " << code << ": " << detail << "[end-entry]";
        *writer << "FATAL: soil table code " << code << ": some values could not be read\n" << entry << "[end-entry]";
    }
    throw 30;
}

}  // namespace

SoilKeyRead SoilType::ReadHorizonList(const std::string& entry, const std::string& key,
                                      std::vector<double>* target) {
    const size_t at = entry.rfind(key);
    if (at == std::string::npos) return SoilKeyRead::Absent;
    std::string text;
    if (!ValueText(entry, at + key.size(), &text)) return SoilKeyRead::Unreadable;

    if (!target) {
        // "layers": the horizon count is the number of pieces of the value.
        std::vector<std::string> pieces;
        SplitString(text, "\t ;,", pieces);
        if (pieces.empty()) return SoilKeyRead::Unreadable;
        const int horizons = static_cast<int>(pieces.size());
        std::vector<int32_t> counts(static_cast<size_t>(horizons) + 1, 0);
        if (!ReadPerHorizon(text, horizons, counts)) return SoilKeyRead::Unreadable;
        long long total = 0;
        for (int k = 1; k <= horizons; ++k) total += counts[k];
        HorizonCount = horizons;
        LayersPerHorizon = std::move(counts);
        // A sum beyond any sensible profile is refused by the caller; it is
        // only kept from wrapping here.
        LayerCount = total > MaxLayers ? MaxLayers + 1 : static_cast<int32_t>(total);
        LayersPerHorizon[0] = LayerCount;
        return SoilKeyRead::Read;
    }

    // Lists are assigned to the horizons read before; without them there is
    // nowhere to put the numbers.
    if (HorizonCount < 1 || LayersPerHorizon.size() != static_cast<size_t>(HorizonCount) + 1 ||
        target->size() != static_cast<size_t>(LayerCount) + 1 || LayersPerHorizon[0] != LayerCount)
        return SoilKeyRead::Unreadable;
    std::vector<double> perHorizon(static_cast<size_t>(HorizonCount) + 1, 0.0);
    if (!ReadPerHorizon(text, HorizonCount, perHorizon)) return SoilKeyRead::Unreadable;
    std::vector<double>& list = *target;
    int layer = 0;
    for (int k = 1; k <= HorizonCount; ++k) {
        for (int i = 0; i < LayersPerHorizon[k]; ++i) list[++layer] = perHorizon[k];
    }
    list[0] = list[1];
    return SoilKeyRead::Read;
}

SoilKeyRead SoilType::ReadValue(const std::string& entry, const std::string& key, double* target) const {
    const size_t at = entry.find(key);
    if (at == std::string::npos) return SoilKeyRead::Absent;
    std::string text;
    if (!ValueText(entry, at + key.size(), &text)) return SoilKeyRead::Unreadable;
    size_t pos = 0;
    double value = 0;
    if (ScanNumber(text, pos, &value) != Scan::Number) return SoilKeyRead::Unreadable;
    *target = value;
    return SoilKeyRead::Read;
}

SoilKeyRead SoilType::ReadGrainSizeDist(const std::string& entry) {
    const size_t at = entry.find("GrainSizeDist");
    if (at == std::string::npos) return SoilKeyRead::Absent;
    std::string text;
    if (!ValueText(entry, at + 13, &text)) return SoilKeyRead::Unreadable;
    double fractions[GrainSizeFractions];
    size_t pos = 0;
    for (double& f : fractions) {
        if (ScanNumber(text, pos, &f) != Scan::Number) return SoilKeyRead::Unreadable;
    }
    for (int i = 0; i < GrainSizeFractions; ++i) GrainSizeDist[i] = fractions[i];
    return SoilKeyRead::Read;
}

void SoilType::ParseEntry(DiagnosticsWriter* writer, const std::string& entry) {
    if (entry.find("MultipleHorizons") == std::string::npos) {
        if (writer) *writer << "FATAL: soil table definition method unknown " << entry << "[end-entry]";
        throw 29;
    }
    auto refuse = [&](const std::string& detail) { RefuseBraceEntry(writer, Code, entry, detail); };

    // Code and name precede the first "{"; the keys follow it.
    size_t pos = 0;
    int32_t code = 0;
    if (ScanNumber(entry, pos, &code) != Scan::Number) refuse("the soil code could not be read");
    Code = code;
    pos = SkipSpace(entry, pos);
    size_t nameEnd = pos;
    while (nameEnd < entry.size() && entry[nameEnd] != '{' &&
           !std::isspace(static_cast<unsigned char>(entry[nameEnd])))
        ++nameEnd;
    if (nameEnd - pos > MaxNameLength) refuse("the name is longer than 199 characters");
    Name = entry.substr(pos, nameEnd - pos);
    const size_t brace = entry.find('{');
    if (brace == std::string::npos) refuse("the keys must follow a \"{\"");
    const std::string body = entry.substr(brace);

    auto requiredList = [&](const char* key, std::vector<double>* list) {
        const SoilKeyRead r = ReadHorizonList(body, key, list);
        if (r == SoilKeyRead::Absent) refuse(std::string("the key ") + Quoted(key) + " is missing");
        if (r == SoilKeyRead::Unreadable) refuse(std::string("the value of ") + Quoted(key) + " could not be read");
    };
    auto optionalList = [&](const char* key, std::vector<double>* list, double fallback) {
        const SoilKeyRead r = ReadHorizonList(body, key, list);
        if (r == SoilKeyRead::Absent) list->assign(list->size(), fallback);
        if (r == SoilKeyRead::Unreadable) refuse(std::string("the value of ") + Quoted(key) + " could not be read");
    };
    auto optionalValue = [&](const char* key, double* target, double fallback) {
        double value = fallback;
        if (ReadValue(body, key, &value) == SoilKeyRead::Unreadable)
            refuse(std::string("the value of ") + Quoted(key) + " is not a number");
        *target = value;
    };

    // Layers per horizon.
    const SoilKeyRead layers = ReadHorizonList(body, "layers", nullptr);
    if (layers == SoilKeyRead::Absent) refuse("the key \"layers\" is missing");
    if (layers == SoilKeyRead::Unreadable) refuse("the value of \"layers\" could not be read");
    for (int k = 1; k <= HorizonCount; ++k) {
        if (LayersPerHorizon[k] < 1)
            refuse("horizon " + std::to_string(k) + " must have at least one layer (here " +
                   std::to_string(LayersPerHorizon[k]) + ")");
    }
    if (LayerCount > MaxLayers) refuse("more than " + std::to_string(MaxLayers) + " layers");
    CreateLayers(LayerCount, 0);

    requiredList("ksat", &ksat);
    requiredList("theta_sat", &theta_sat);
    requiredList("theta_res", &theta_res);
    requiredList("alpha", &alpha);
    requiredList("Par_n", &Par_n);
    requiredList("thickness", &thickness);

    optionalValue("EvapMaxDepth", &EvapMaxDepth, thickness[1]);

    optionalValue("ThicknessScaling", &ThicknessScaling, 1);
    if (ThicknessScaling != 1 && writer) {
        *writer << "INFO: Soil layers for landuse " << Code << " will be scaled by a factor of " << ThicknessScaling
                << "[end-entry]";
    }
    TotalDepth = 0;
    for (int l = 0; l <= LayerCount; ++l) thickness[l] *= ThicknessScaling;
    for (int l = 1; l <= LayerCount; ++l) TotalDepth += thickness[l];

    const SoilKeyRead grains = ReadGrainSizeDist(body);
    if (grains == SoilKeyRead::Unreadable) refuse("the seven fractions of \"GrainSizeDist\" could not be read");
    if (grains == SoilKeyRead::Read) {
        const char* problem = nullptr;
        bool negative = false;
        double sum = 0;
        for (double f : GrainSizeDist) {
            negative = negative || f < 0;
            sum += f;
        }
        if (!(GrainSizeDist[0] > 0)) {
            problem = "FATAL: Grainsize distribution: fraction of sand must be > 0 \nsoil type: ";
        } else if (negative) {
            problem = "FATAL: Grainsize distribution: all grain size fractions must be >= 0 (sand must be >0)\nsoil "
                      "type: ";
        } else if (std::fabs(sum - 1) > 0.0001) {
            problem = "FATAL: Grainsize distribution: sum of all fractions (sand, silt, clay, stones1..4) must be "
                      "1.0\n soil type: ";
        }
        if (problem) {
            if (writer) *writer << problem << Code << "\n" << entry << "[end-entry]";
            RefuseBraceEntry(writer, Code, entry, "");
        }
    }

    for (int k = 0; k < SiltingUpParameters; ++k) {
        char key[16];
        std::snprintf(key, sizeof key, "SU_PAR%.02d", k);
        optionalValue(key, &SU_PAR[k], 0);
    }

    optionalList("Par_tau", &Par_tau, 0.5);
    optionalList("k_recession", &k_recession, 1);
    optionalValue("PMacroThresh", &PMacroThresh, 1000);
    optionalValue("MacroCapacity", &MacroCapacity, 0);
    optionalValue("CapacityRedu", &CapacityRedu, 1);
    optionalValue("MacroDepth", &MacroDepth, 1);
    optionalList("DryHeatCapacity", &DryHeatCapacity, -1);
    optionalList("DryDensity", &DryDensity, -1);
    optionalList("DryThermalConduct", &DryThermalConduct, -1);
    optionalValue("KMinFrozenSoil", &KMinFrozenSoil, -1);
    // Table values are in mm/h, the record's in m/s.
    PMacroThresh /= 3600000;
    MacroCapacity /= 3600000;

    optionalValue("maxratio", &maxratio, 1000);
    optionalValue("FCap", &FCap, 25);
    optionalValue("mSB", &mSB, 35);
    optionalValue("ksat_topmodel", &ksat_topmodel, 0);
    optionalValue("suction", &suction, 300);
    CapacitySpan = (mSB - FCap) * 0.01;

    const SoilKeyRead m = ReadHorizonList(body, "Par_m", &Par_m);
    if (m == SoilKeyRead::Unreadable) refuse("the value of \"Par_m\" could not be read");
    if (m == SoilKeyRead::Absent) {
        for (int l = 0; l <= LayerCount; ++l) Par_m[l] = Par_n[l] == 0 ? 0 : 1 - 1 / Par_n[l];
    }
    optionalValue("MaxInterflowDepth", &MaxInterflowDepth, 2);

    for (int l = 1; l <= LayerCount; ++l) {
        const std::string layer = "layer " + std::to_string(l) + ": ";
        if (!(thickness[l] > 0)) refuse(layer + "the thickness (here " + Number(thickness[l]) + " m) must be > 0");
        if (!(theta_sat[l] > theta_res[l]))
            refuse(layer + "theta_sat (here " + Number(theta_sat[l]) + ") must be greater than theta_res (here " +
                   Number(theta_res[l]) + ")");
        if (alpha[l] < 0) refuse(layer + "alpha (here " + Number(alpha[l]) + ") must not be negative");
        if (!(Par_n[l] > 0) || !(Par_m[l] > 0))
            refuse(layer + "the van Genuchten parameters n (here " + Number(Par_n[l]) + ") and m (here " +
                   Number(Par_m[l]) + ") must be > 0");
        const std::string range = LayerRangeFault(ksat[l], theta_sat[l], theta_res[l], alpha[l], Par_n[l],
                                                  thickness[l], k_recession[l]);
        if (!range.empty()) refuse(layer + range);
    }

    for (int l = 0; l <= LayerCount; ++l) MakeHydraulicTables(l);

    // Conductivity recession with depth inside each horizon, down to
    // MaxInterflowDepth; D is the depth of a layer's centre below the
    // surface, d below the top of its horizon.
    double depth = 0;
    bool below = false;
    int layer = 0;
    for (int h = 1; h <= HorizonCount && !below; ++h) {
        double inHorizon = 0;
        for (int i = 0; i < LayersPerHorizon[h]; ++i) {
            ++layer;
            const double half = thickness[layer] / 2;
            depth = layer == 1 ? half : depth + (thickness[layer - 1] + thickness[layer]) / 2;
            inHorizon = i == 0 ? half : inHorizon + (thickness[layer - 1] + thickness[layer]) / 2;
            if (depth > MaxInterflowDepth) {
                below = true;
                break;
            }
            ksat[layer] *= std::pow(k_recession[layer], inHorizon);
        }
    }

    std::string problem;
    if (!TablesFinite(&problem)) refuse(problem);
}

void SoilType::ParseOldFormat(DiagnosticsWriter* writer, const std::string& entry, int modelVariant) {
    std::vector<std::string> words;
    for (size_t pos = SkipSpace(entry, 0); pos < entry.size(); pos = SkipSpace(entry, pos)) {
        const size_t start = pos;
        while (pos < entry.size() && !std::isspace(static_cast<unsigned char>(entry[pos]))) ++pos;
        words.push_back(entry.substr(start, pos - start));
    }
    size_t next = 0;
    auto refuse = [&](const std::string& detail) { RefuseOneLineEntry(writer, Code, entry, detail); };
    auto word = [&](const char* what) -> const std::string& {
        if (next >= words.size()) refuse(std::string("the value of ") + what + " is missing");
        return words[next++];
    };
    auto integer = [&](const char* what) {
        const std::string& w = word(what);
        int32_t v = 0;
        if (!WordIsNumber(w, &v)) refuse(std::string("the value of ") + what + " (" + Quoted(w) + ") is not an integer");
        return v;
    };
    auto real = [&](const char* what) {
        const std::string& w = word(what);
        double v = 0;
        if (!WordIsNumber(w, &v)) refuse(std::string("the value of ") + what + " (" + Quoted(w) + ") is not a number");
        return v;
    };

    Code = integer("the soil code");
    const std::string& name = word("the soil name");
    if (name.size() > MaxNameLength) refuse("the name is longer than 199 characters");
    Name = name;
    FCap = real("FCap");
    mSB = real("mSB");
    ksat_topmodel = real("ksat_topmodel");
    suction = real("suction");
    CapacitySpan = (mSB - FCap) * 0.01;
    if (modelVariant != 2) return;

    const int32_t method = integer("the method");
    if (method != 1) {
        if (writer) {
            *writer << "FATAL: error reading soil parameters for soil type " << Code
                    << ": only old method 1 (van-Genuchten Parameter) is supported in Ruvex newer than 6.4.\n"
                    << "Use the new soil type table format instead." << "[end-entry]";
        }
        RefuseOneLineEntry(writer, Code, entry, "");
    }
    const double thetaSat = real("theta_sat");
    const double thetaRes = real("theta_res");
    const double alphaValue = real("alpha");
    const double n = real("n");
    const int32_t layers = integer("the number of layers");
    const double t = real("the layer thickness");
    const double ratio = real("maxratio");
    const double reduction = real("the conductivity reduction");

    if (t < 0.1) {
        if (writer) {
            *writer << "FATAL: \nerror soil type " << Code << ":\nthickness of single layers (here " << t
                    << " m)\nhas to be at minimum twice as thick as the\nthickness of the top layer (here " << 0.05
                    << " m)" << "[end-entry]";
        }
        RefuseOneLineEntry(writer, Code, entry, "");
    }
    if (!(n > 1)) refuse("the van Genuchten parameter n (here " + Number(n) + ") must be greater than 1");
    if (layers < 2) refuse("at least 2 layers are needed (here " + std::to_string(layers) + ")");
    if (layers > MaxLayers) refuse("more than " + std::to_string(MaxLayers) + " layers");
    if (!(thetaSat > thetaRes))
        refuse("theta_sat (here " + Number(thetaSat) + ") must be greater than theta_res (here " + Number(thetaRes) +
               ")");
    if (alphaValue < 0) refuse("alpha (here " + Number(alphaValue) + ") must not be negative");
    if (!(ksat_topmodel > 0)) refuse("ksat_topmodel (here " + Number(ksat_topmodel) + " m/s) must be > 0");
    const std::string range = LayerRangeFault(ksat_topmodel, thetaSat, thetaRes, alphaValue, n, t, reduction,
                                              "the conductivity reduction");
    if (!range.empty()) refuse(range);

    Method = 1;
    maxratio = ratio;
    KReduction = reduction;
    CreateLayers(layers, 0);
    for (int l = 0; l <= layers; ++l) {
        theta_sat[l] = thetaSat;
        theta_res[l] = thetaRes;
        alpha[l] = alphaValue;
        Par_n[l] = n;
        Par_m[l] = 1 - 1 / n;
        Par_tau[l] = 0.5;
        k_recession[l] = 1;
        DryHeatCapacity[l] = DryDensity[l] = DryThermalConduct[l] = -1;
    }
    // A 5 cm top layer, the second layer completing the first thickness t.
    thickness[0] = t;
    thickness[1] = 0.05;
    thickness[2] = t - 0.05;
    for (int l = 3; l <= layers; ++l) thickness[l] = t;
    TotalDepth = 0;
    for (int l = 1; l <= layers; ++l) TotalDepth += thickness[l];
    MaxInterflowDepth = 2;
    ThicknessScaling = 1;
    for (double& p : SU_PAR) p = 0;

    // Conductivity falls with the depth of the layer centre, down to 2 m.
    const double ks0 = ksat_topmodel;
    ksat[1] = ks0 * std::pow(reduction, 0.025);
    ksat[2] = ks0 * std::pow(reduction, (thickness[2] - 0.05) * 0.5 + 0.05);
    for (int i = 3; i <= layers; ++i) {
        const double d = (i - 1.5) * t;
        ksat[i] = d <= 2.0 ? ks0 * std::pow(reduction, d) : ksat[i - 1];
    }
    ksat[0] = ksat[1];

    for (int l = 0; l <= layers; ++l) MakeHydraulicTables(l);

    std::string problem;
    if (!TablesFinite(&problem)) refuse(problem);
}

bool SoilType::TablesFinite(std::string* problem) const {
    for (int l = 0; l <= LayerCount; ++l) {
        const std::string layer = "layer " + std::to_string(l) + ": ";
        if (!std::isfinite(ksat[l])) {
            *problem = layer + "the conductivity (" + Number(ksat[l]) + ") is not a finite number";
            return false;
        }
        const double* w = ThetaSuctionTable(l);
        const double* k = KrelTable(l);
        for (int i = 1; i <= TablePoints; ++i) {
            if (!std::isfinite(w[i]) || !std::isfinite(k[i])) {
                *problem = layer + "the retention curve gives no finite values";
                return false;
            }
        }
    }
    return true;
}

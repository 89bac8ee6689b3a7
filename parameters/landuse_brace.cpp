// Reading one land-use class from a brace block:
//   <code> <name> method = <method name> { key = value; list = v1 v2 ...; ... }

#include <vector>

#include "framework/diagnostics_writer.h"
#include "framework/string_helpers.h"
#include "parameters/landuse.h"
#include "parameters/landuse_keys.h"

namespace {

// Ends the parse of a block; ParseEntry then writes the general entry.
struct BlockFailure {};

int MethodFromName(const std::string& name) {
    if (name == "VariableDayCount") return LanduseMethodVariableDayCount;
    if (name == "DynamicPhenology_1") return LanduseMethodDynamicPhenology1;
    if (name == "DynamicPhenology_2") return LanduseMethodDynamicPhenology2;
    if (name == "DynamicPhenology_3") return LanduseMethodDynamicPhenology3;
    if (name == "DynamicPhenology_4") return LanduseMethodDynamicPhenology4;
    return LanduseMethodNone;
}

// Separators of the pieces counted in a day list. Line ends count as blanks,
// so that a list continued on the next line keeps all its days.
constexpr const char* DayListSeparators = "\t ;,\r\n";

// Reads the integers of a day list whose length is the number of pieces of
// the value text; false when a piece is no integer or the list is empty.
bool ReadDayList(const std::string& value, std::vector<int32_t>& days, int* count) {
    std::vector<std::string> pieces;
    const int n = static_cast<int>(SplitString(value, DayListSeparators, pieces));
    if (n == 0) return false;
    std::vector<int32_t> list(static_cast<size_t>(n) + 1);
    const char* p = value.c_str();
    for (int i = 1; i <= n; ++i) {
        int day = 0;
        if (!ScanInt(&p, &day)) return false;
        list[i] = day;
    }
    list[0] = list[n] - 366;
    days = std::move(list);
    *count = n;
    return true;
}

}  // namespace

LanduseType::ListRead LanduseType::ReadValueList(const std::string& blockText, const std::string& key,
                                                 std::vector<double>& target, int count) {
    std::string value;
    const KeyLookup found = FindKeyValue(blockText, key, &value);
    if (found == KeyLookup::Missing) return ListRead::Missing;
    if (found == KeyLookup::Malformed || count < 1) return ListRead::Unreadable;
    std::vector<double> list(static_cast<size_t>(count) + 1);
    const char* p = value.c_str();
    for (int i = 1; i <= count; ++i) {
        if (!ScanDouble(&p, &list[i])) return ListRead::Unreadable;
    }
    list[0] = list[count];
    target = std::move(list);
    return ListRead::Read;
}

bool LanduseType::ReadJulDays(DiagnosticsWriter* /*log*/, const std::string& blockText) {
    std::string value;
    if (FindKeyValue(blockText, "JulDays", &value) != KeyLookup::Found) return false;
    int n = 0;
    if (!ReadDayList(value, JulDays, &n)) return false;
    FixPointCount = n;
    ActualJulDays = JulDays;
    return true;
}

bool LanduseType::ReadSoilTillage(DiagnosticsWriter* /*log*/, const std::string& blockText) {
    std::string value;
    const KeyLookup found = FindKeyValue(blockText, "SoilTillage", &value);
    if (found == KeyLookup::Malformed) return false;
    std::vector<std::string> pieces;
    if (found == KeyLookup::Missing || SplitString(value, DayListSeparators, pieces) == 0) {
        SoilTillageCount = 0;
        SoilTillage.assign(1, -9999);
        return true;
    }
    int m = 0;
    if (!ReadDayList(value, SoilTillage, &m)) return false;
    SoilTillageCount = m;
    return true;
}

void LanduseType::ParseEntry(DiagnosticsWriter* log, const std::string& entryText, const std::string& methodName) {
    std::string text = entryText;
    try {
        ParseBlock(log, text, methodName);
    } catch (const BlockFailure&) {
        if (log) *log << "FATAL: landuse table code " << Code << ": some values could not be read\n" << text << "[end-entry]";
        throw 29;
    }
}

void LanduseType::ParseBlock(DiagnosticsWriter* log, std::string& text, const std::string& methodName) {
    // 1. Method and the state of the dynamic start.
    Method = MethodFromName(methodName);
    DynamicPhenology = false;
    TStart = -1;

    // 2. Code and name stand before the opening brace; keys are searched
    // only after it.
    const size_t brace = text.find('{');
    const std::string head = text.substr(0, brace);
    const char* p = head.c_str();
    int code = 0;
    if (!ScanInt(&p, &code)) throw BlockFailure();
    Code = code;
    if (!ScanWord(&p, &Name)) throw BlockFailure();
    if (brace == std::string::npos || Method == LanduseMethodNone) throw BlockFailure();
    text.erase(0, brace);

    std::string value;
    auto lookup = [&](const char* key) {
        const KeyLookup found = FindKeyValue(text, key, &value);
        if (found == KeyLookup::Malformed) throw BlockFailure();
        return found == KeyLookup::Found;
    };
    auto number = [&](double* target) {
        const char* v = value.c_str();
        if (!ScanDouble(&v, target)) throw BlockFailure();
    };
    auto integer = [&](int32_t* target) {
        const char* v = value.c_str();
        int parsed = 0;
        if (!ScanInt(&v, &parsed)) throw BlockFailure();
        *target = parsed;
    };
    auto requiredNumber = [&](const char* key, double* target) {
        if (!lookup(key)) throw BlockFailure();
        number(target);
    };
    auto optionalNumber = [&](const char* key, double* target, double fallback) {
        if (lookup(key)) number(target);
        else *target = fallback;
    };
    auto optionalInteger = [&](const char* key, int32_t* target, int32_t fallback) {
        if (lookup(key)) integer(target);
        else *target = fallback;
    };
    // Keys of the dynamic-phenology methods report their absence by name.
    auto announceMissing = [&](const char* key) {
        if (log) *log << "FATAL: parameter \"" << key << "\" not found for land use " << Code << "[end-entry]";
        throw BlockFailure();
    };
    auto methodNumber = [&](const char* key, double* target) {
        if (!lookup(key)) announceMissing(key);
        number(target);
    };
    auto methodInteger = [&](const char* key, int32_t* target) {
        if (!lookup(key)) announceMissing(key);
        integer(target);
    };
    auto offsetWithDefault = [&](const char* key, double* target, double fallback) {
        if (lookup(key)) {
            number(target);
            return;
        }
        if (log) {
            *log << "INFO: parameter \"" << key << "\" not found for land use " << Code << "; Using default of "
                 << fallback << "[end-entry]";
        }
        *target = fallback;
    };

    // 3. The single keys of every method and the fix-point days.
    requiredNumber("RootDist", &RootDist);
    requiredNumber("TReduWet", &TReduWet);
    if (lookup("useInternalParameters")) {
        const size_t first = value.find_first_of("01");
        if (first == std::string::npos) throw BlockFailure();
        useInternalParameters = value.substr(first);
        InternalParameterMask = 0;
        for (size_t k = 0; k < 8 && k < useInternalParameters.size(); ++k) {
            if (useInternalParameters[k] == '1') InternalParameterMask |= 1 << (7 - k);
        }
    } else {
        useInternalParameters = "11111111";
        InternalParameterMask = 255;
    }
    optionalNumber("LimitReduWet", &LimitReduWet, 0);
    requiredNumber("HReduDry", &HReduDry);
    optionalInteger("StartVegetationPeriodForBalance", &StartVegetationPeriodForBalance, 0);
    optionalInteger("StopVegetationPeriodForBalance", &StopVegetationPeriodForBalance, 0);
    optionalInteger("JDVegetationResetForBalance", &JDVegetationResetForBalance, -1);
    optionalInteger("JDVegetationWriteForBalance", &JDVegetationWriteForBalance, -1);
    optionalNumber("IntercepCap", &IntercepCap, -1);
    optionalNumber("StressFactorDynPhen", &StressFactorDynPhen, 0);
    if (!ReadJulDays(log, text)) throw BlockFailure();
    const int n = FixPointCount;
    if (Method == LanduseMethodDynamicPhenology3) {
        if (JulDays[1] != 1) {
            if (log) {
                *log << "FATAL: Error in Landuse Table (Code: " << Code
                     << "): for Method DynamicPhenology_3 the first sample day (JulDay) must be 1 and not "
                     << JulDays[1] << "[end-entry]";
            }
            throw BlockFailure();
        }
        if (JulDays[n] != 366) {
            if (log) {
                *log << "FATAL: Error in Landuse Table (Code: " << Code
                     << "): for Method DynamicPhenology_3 the last sample day (JulDay) must be 366 and not "
                     << JulDays[n] << "[end-entry]";
            }
            throw BlockFailure();
        }
    }

    // 4. The keys of the dynamic-phenology methods.
    if (Method == LanduseMethodDynamicPhenology1 || Method == LanduseMethodDynamicPhenology2 ||
        Method == LanduseMethodDynamicPhenology4) {
        TStartIndex = -1;
        methodNumber("F*", &FStar);
        methodInteger("DP1_t1_dorm", &DP1_t1_dorm);
        methodNumber("DP1_T_Bf", &DP1_T_Bf);
        methodInteger("JDReset_TStart", &JDReset_TStart);
        methodInteger("maxStartJDforDP1", &maxStartJDforDP1);
        // A negative nominal day marks the fix point of the dynamic start.
        for (int i = 1; i <= n - 1; ++i) {
            if (JulDays[i] < 0) {
                TStartIndex = i;
                break;
            }
        }
        if (Method == LanduseMethodDynamicPhenology2) {
            methodInteger("DP2_t0_dorm", &DP2_t0_dorm);
            methodInteger("DP2_t1_dorm", &DP2_t1_dorm);
            methodNumber("DP2_T_Bf", &DP2_T_Bf);
            methodNumber("DP2_T_Bc", &DP2_T_Bc);
            methodNumber("DP2_Par_a", &DP2_Par_a);
            methodNumber("DP2_Par_b", &DP2_Par_b);
            offsetWithDefault("DP2_Offset_1", &DP2_Offset_1, -3.4);
            offsetWithDefault("DP2_Offset_2", &DP2_Offset_2, 12);
        } else if (Method == LanduseMethodDynamicPhenology4) {
            methodInteger("DP4_t0_dorm", &DP4_t0_dorm);
            methodInteger("DP4_t1_dorm", &DP4_t1_dorm);
            methodNumber("DP4_T0", &DP4_T0);
            methodNumber("DP4_T1", &DP4_T1);
            methodNumber("DP4_Par_a", &DP4_Par_a);
            methodNumber("DP4_Par_b", &DP4_Par_b);
            methodNumber("DP4_T_xylstop", &DP4_T_xylstop);
            methodInteger("DP4_t_xs1", &DP4_t_xs1);
            methodInteger("DP4_SPSLF", &DP4_SPSLF);
            // The leaf fall moves the levels at and above this fix point: a
            // negative index would address levels the cell does not have.
            if (DP4_SPSLF < 0) throw BlockFailure();
        }
    } else if (Method == LanduseMethodDynamicPhenology3) {
        methodInteger("DP1_t1_dorm", &DP1_t1_dorm);
        methodNumber("DP1_T_Bf", &DP1_T_Bf);
        methodInteger("JDReset_TStart", &JDReset_TStart);
        methodInteger("maxStartJDforDP1", &maxStartJDforDP1);
    }

    // 5. The lists of the fix points.
    auto requiredList = [&](const char* key, std::vector<double>& target) {
        if (ReadValueList(text, key, target, n) != ListRead::Read) throw BlockFailure();
    };
    auto optionalList = [&](const char* key, std::vector<double>& target, int count, double fallback) {
        const ListRead read = ReadValueList(text, key, target, count);
        if (read == ListRead::Unreadable) throw BlockFailure();
        if (read == ListRead::Missing) target.assign(static_cast<size_t>(count) + 1, fallback);
    };
    SR_rough_coeff1 = {0.142, 0.0198, 0.712, 0.142};
    SR_rough_coeff2 = SR_rough_coeff1;
    if (Method == LanduseMethodDynamicPhenology3) requiredList("ForcingThreshold", ForcingThreshold);
    requiredList("Albedo", Albedo);
    requiredList("rsc", rsc);
    requiredList("LAI", LAI);
    requiredList("Z0", Z0);
    requiredList("VCF", VCF);
    requiredList("RootDepth", RootDepth);
    requiredList("AltDep", AltDep);
    optionalList("rs_interception", rs_interception, n, 20);
    optionalList("rs_evaporation", rs_evaporation, n, 200);

    // 6. Tillage, surface routing and frozen soil.
    if (!ReadSoilTillage(log, text)) throw BlockFailure();
    if (lookup("SR_cultivation")) {
        if (value.find("other") != std::string::npos) SR_cultivation = 3;
        else if (value.find("nonconserving") != std::string::npos) SR_cultivation = 2;
        else if (value.find("conserving") != std::string::npos) SR_cultivation = 1;
        else {
            if (log) *log << "FATAL: no valid value for parameter \"SR_cultivation\" for land use " << Code << "[end-entry]";
            throw BlockFailure();
        }
    } else {
        SR_cultivation = 3;
    }
    optionalNumber("SR_CropDistX", &SR_CropDistX, 0.3);
    optionalNumber("SR_CropDistY", &SR_CropDistY, 0.3);
    optionalNumber("SR_K_ST", &SR_K_ST, 10);
    optionalNumber("SR_C_WR", &SR_C_WR, 1.5);
    if (ReadValueList(text, "SR_rough_coeff1", SR_rough_coeff1, 3) == ListRead::Unreadable) throw BlockFailure();
    if (ReadValueList(text, "SR_rough_coeff2", SR_rough_coeff2, 3) == ListRead::Unreadable) throw BlockFailure();
    optionalList("SR_StemDiameter", SR_StemDiameter, n, 0.01);
    optionalList("SR_ResidCovrg", SR_ResidCovrg, n, 0.01);
    optionalList("n-factor", NFactor, n, -1);
    optionalNumber("nf_freezing", &nf_freezing, -1);
    optionalNumber("nf_thawing", &nf_thawing, -1);
}

#include "parameters/landuse.h"

#include <cmath>

#include "framework/diagnostics_writer.h"
#include "parameters/landuse_keys.h"

double InterpolateLinear(double x1, double y1, double x2, double y2, double x) {
    if (x2 == x1) return y1;
    const double direct = y1 * (x2 - x) / (x2 - x1) + y2 * (x - x1) / (x2 - x1);
    if (std::isfinite(direct) || !std::isfinite(y1) || !std::isfinite(y2)) return direct;
    // A value near the limit of a double overflows when it is multiplied
    // first: the weights are formed first instead.
    const double span = x2 - x1;
    return y1 * ((x2 - x) / span) + y2 * ((x - x1) / span);
}

bool IsGregorianLeapYear(int year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

void ThrowError150() { throw 150; }

LanduseType::LanduseType() = default;

void LanduseType::AttachCellGrids(int layerCount, int largestFixPointCount, double*** dynamicStartGrids,
                                  double*** forcingThresholdGrids, double*** forcingSumGrids,
                                  GridStack* sampleDayStacks) {
    LayerCount = layerCount;
    LargestFixPointCount = largestFixPointCount;
    DynamicStartGrids = dynamicStartGrids;
    ForcingThresholdGrids = forcingThresholdGrids;
    ForcingSumGrids = forcingSumGrids;
    SampleDayStacks = sampleDayStacks;
}

namespace {

// Monthly value list 0..13 from the twelve values of January to December:
// entry 0 is December of the previous year, entry 13 January of the next.
std::vector<double> MonthlyList(const double (&months)[12]) {
    std::vector<double> list(14);
    for (int m = 1; m <= 12; ++m) list[m] = months[m - 1];
    list[0] = list[12];
    list[13] = list[1];
    return list;
}

}  // namespace

void LanduseType::ParseOldFormat(DiagnosticsWriter* log, const std::string& line, int modelVariant) {
    const char* p = line.c_str();
    bool ok = true;
    auto fail = [&]() {
        if (log) *log << "FATAL: landuse table code " << Code << ": some values could not be read\n" << line << "[end-entry]";
        throw 29;
    };

    int code = 0;
    if (!ScanInt(&p, &code)) fail();
    Code = code;
    std::string name;
    double albedo = 0;
    if (!ScanWord(&p, &name)) fail();
    Name = name;
    if (!ScanDouble(&p, &albedo)) fail();

    // Everything after the albedo must be there and readable as well: a
    // short line would otherwise leave the class with undefined values.
    double months[12];
    for (double& v : months) ok = ok && ScanDouble(&p, &v);
    int days[4] = {};
    for (int& d : days) ok = ok && ScanInt(&p, &d);
    double lai[4], z0[4], vcf[4], rootDepth[4];
    for (double* list : {lai, z0, vcf, rootDepth}) {
        for (int i = 0; i < 4; ++i) ok = ok && ScanDouble(&p, &list[i]);
    }
    double rootDist = 0, hReduDry = 0;
    if (modelVariant == 2) ok = ok && ScanDouble(&p, &rootDist) && ScanDouble(&p, &hReduDry);
    if (!ok) fail();

    Method = LanduseMethodFixed;
    FixPointCount = 4;
    Albedo.assign(5, albedo);
    rsc = MonthlyList(months);
    rs_evaporation = rsc;
    rs_interception.assign(14, 20.0);
    JulDays.assign(5, 0);
    for (int i = 1; i <= 4; ++i) JulDays[i] = days[i - 1];
    JulDays[0] = JulDays[4] - 366;
    ActualJulDays = JulDays;
    auto fourPoints = [](const double (&values)[4]) {
        std::vector<double> list(5);
        for (int i = 1; i <= 4; ++i) list[i] = values[i - 1];
        list[0] = list[4];
        return list;
    };
    LAI = fourPoints(lai);
    Z0 = fourPoints(z0);
    VCF = fourPoints(vcf);
    RootDepth = fourPoints(rootDepth);
    if (modelVariant == 2) {
        RootDist = rootDist;
        HReduDry = hReduDry;
    }
    TReduWet = 0.95;
    LimitReduWet = 0;
    AltDep = {-0.025, 0.025, 0.025, -0.025, -0.025};

    // What the one-line format cannot express gets the defaults of a brace
    // block without those keys.
    SR_StemDiameter.assign(5, 0.01);
    SR_ResidCovrg.assign(5, 0.01);
    NFactor.assign(5, -1.0);
    nf_freezing = -1;
    nf_thawing = -1;
    SR_cultivation = 3;
    SR_CropDistX = 0.3;
    SR_CropDistY = 0.3;
    SR_K_ST = 10;
    SR_C_WR = 1.5;
    SR_rough_coeff1 = {0.142, 0.0198, 0.712, 0.142};
    SR_rough_coeff2 = SR_rough_coeff1;
    SoilTillageCount = 0;
    SoilTillage.assign(1, -9999);
}

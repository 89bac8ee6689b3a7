// The readers of control-file values and soil table entries on any text: a
// value is read whole and in range or refused with a thrown code, never
// taken by its prefix, and nothing crashes. The first byte picks the reader.

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "framework/modelobject.h"
#include "parameters/soil.h"
#include "setup/control_text.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    const std::string text(reinterpret_cast<const char*>(data) + 1, size - 1);
    switch (data[0] % 4) {
    case 0: {
        double v = 0;
        if (controltext::ScanWholeDouble(text, &v)) {
            // A whole number is one word: nothing but white space around it.
            std::string word;
            size_t end = 0;
            if (!controltext::ScanWord(text, &word, &end) || !controltext::IsBlankLine(text.substr(end))) {
                if (text.find_first_of("\v\f") == std::string::npos) std::abort();
            }
        }
        break;
    }
    case 1: {
        FILE* stream = fmemopen(const_cast<char*>(text.data()), text.size(), "r");
        if (!stream) return 0;
        modelobject reader(nullptr, "fuzz.ctl");
        try {
            double v = 0;
            reader.ReadValueInRange(stream, &v, -1e6, 1e6, "value");
            if (!(v >= -1e6 && v <= 1e6)) std::abort();
            int n = 0;
            reader.ReadValue(stream, "%d", &n, "count");
        } catch (int code) {
            if (code != 17) std::abort();
        }
        std::fclose(stream);
        break;
    }
    case 2:
    case 3: {
        SoilType soil;
        try {
            if (data[0] % 4 == 2) {
                soil.ParseEntry(nullptr, text);
            } else {
                soil.ParseOldFormat(nullptr, text, 2);
            }
            for (int l = 1; l <= soil.LayerCount; ++l) {
                if (!(soil.ksat[l] >= 0) || !std::isfinite(soil.ksat[l]) || !std::isfinite(soil.theta_sat[l])) std::abort();
            }
        } catch (int code) {
            if (code != 29 && code != 30) std::abort();
        }
        break;
    }
    }
    return 0;
}

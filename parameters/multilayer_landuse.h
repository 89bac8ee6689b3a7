#pragma once
// The multilayer land-use table: combinations of land-use classes stacked in
// layers over one cell. With this table the land-use grid holds multilayer
// codes; each entry lists the land-use codes of its layers and the two light
// parameters of the layered canopy.

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

class DiagnosticsWriter;
class modelobject;

class MultilayerLanduseType {
public:
    static constexpr size_t MaxNameLength = 199;

    // A record with the defaults: code 0 (or the given code), one layer, no
    // layer codes, k_extinct 0.3 and LAI_scale 10.
    MultilayerLanduseType();
    explicit MultilayerLanduseType(int code);

    // Fills the record from one entry text ("code name {Landuse_Layers = a, b, ...;
    // k_extinct = x; LAI_scale = y;}"). A text without "Landuse_Layers" ends
    // with code 112; an entry whose code, name or layer codes cannot be read
    // ends with code 110. Messages go to `writer` (may be null).
    void ParseEntry(DiagnosticsWriter* writer, const std::string& entry);

    // Takes the value of `key` in `entry` apart at "," and ";": each piece that
    // begins with an integer gives one layer code. `layerCodes` becomes the
    // list 0..L (entry 0 = L) and `layerCount` L. False when a piece holds an
    // integer outside the 32-bit range (the list is then left as far as read).
    bool ReadLanduseLayers(const std::string& entry, const std::string& key, std::vector<int32_t>& layerCodes,
                           int32_t& layerCount);

    std::string Name;
    int32_t Code = 0;                       // multilayer code; entry 0 of a table: the entry count
    std::vector<int32_t> LayerCodes;        // 0..L, entry 0 = L; renumbered by the code check
    int32_t LayerCount = 1;                 // L
    std::vector<int32_t> LayerCodesAsRead;  // 0..L as written, never renumbered
    int32_t CodeCopy = 0;
    double k_extinct = 0.3;  // light extinction coefficient of the layered canopy
    double LAI_scale = 10;   // leaf-area-index scale of the layered canopy
};

// Reads the optional section "[multilayer_landuse]" from `controlFile` (the
// reader's control-file stream, lent to the reader's section search for the
// call). Without the section `table` is left empty (no table); otherwise it
// holds the entries 0..N, entry 0 with the code N. Every entry must start on a
// line holding "Landuse_Layers" and every entry must have the same layer count.
// Failures are thrown as int codes: 17 count unreadable or negative, 110 entry
// unreadable, no layer codes, or the section ending before N entries (or an
// entry before its "}"), 111 unequal layer counts, 112 an entry line without
// "Landuse_Layers". The model variant takes no part.
void ReadMultilayerLanduseTable(modelobject& reader, FILE* controlFile, int modelVariant,
                                std::vector<MultilayerLanduseType>& table);

// The vegetation layers of the model: those of the first multilayer entry
// (at least 1), or 1 without a multilayer table.
inline int VegetationLayerCount(const MultilayerLanduseType* table, int count) {
    if (!table || count <= 0) return 1;
    return table[1].LayerCount > 1 ? table[1].LayerCount : 1;
}

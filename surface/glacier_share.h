#pragma once
// The glacier-covered share of a cell, within 0 to 1; nodata, negative values
// and a missing grid count as no glacier.

#include <algorithm>

inline double GlacierShareOf(double** glacierFraction, int row, int col) {
    if (!glacierFraction) return 0;
    const double g = glacierFraction[row][col];
    if (!(g > 0)) return 0;
    return std::min(g, 1.0);
}

#pragma once
// File names of the grids that the set-up derives from a source grid: the
// source's file name without its extension, followed by a suffix of the form
// ".$xx" (".$sl" slope, ".$csx" cell width, ...).

#include <string>

// Suffixes of the derived grids.
inline constexpr const char* SlopeAngleSuffix = ".$sl";
inline constexpr const char* SlopeAspectSuffix = ".$ex";
inline constexpr const char* CellSizeXSuffix = ".$csx";
inline constexpr const char* CellSizeYSuffix = ".$csy";
inline constexpr const char* RelCellAreaSuffix = ".$rca";
inline constexpr const char* CoordXSuffix = ".$cx";
inline constexpr const char* CoordYSuffix = ".$cy";
inline constexpr const char* RegionGridSuffix = ".$r1";
inline constexpr const char* Regions2Suffix = ".$r2";
inline constexpr const char* Regions3Suffix = ".$r3";
inline constexpr const char* Weights1Suffix = ".$w1";
inline constexpr const char* Weights2Suffix = ".$w2";
inline constexpr const char* Weights3Suffix = ".$w3";

// The source name up to (not including) the last "." of its own file name,
// followed by the suffix; the whole name followed by the suffix when the file
// name has no ".". A "." in a directory name never counts, so "data.v2/dem"
// gives "data.v2/dem.$sl" and not "data.$sl" in the parent directory.
std::string DerivedGridFileName(const std::string& sourceFileName, const std::string& suffix);

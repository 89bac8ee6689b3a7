#pragma once
// Grid and stack files: text grids with a six-line header, binary grids of
// doubles or floats with a twelve-value statistics header (the sixth value
// -9999 marks a binary file), text stacks ("stack_ncols" header) and binary
// stacks. The readers and writers are operations of modelobject.

#include <string>

class modelobject;

// Puts the directory in front of a name that starts with neither "/" nor "~"
// when a directory is configured (plain concatenation: the directory ends
// with its separator). No length limit.
void PrefixDirectory(const std::string& directory, std::string& name);

// Fills `grid` (rows 1 to reader.NRows, columns 1 to reader.NCols) from the
// GIF image `path`, resampled onto the model grid with the reader's
// georeference and its pixel values mapped to physical values. ReadGrid calls
// it for a file that begins with "GIF8", after the file was opened and the
// matrix provided. On failure it writes a FATAL entry and throws.
void ReadGifGridHook(modelobject& reader, const std::string& path, double** grid);

#pragma once
// Small text helpers used by the table readers and the control-file code.

#include <cstdio>
#include <string>
#include <vector>

// Appends the pieces of `text` separated by any of `delimiters` to `list`;
// double-quoted pieces stay whole (quotes included) unless the quote is a
// delimiter. Runs of delimiters give no empty pieces. Returns the list size.
size_t SplitString(const std::string& text, const std::string& delimiters, std::vector<std::string>& list);

// Offset of the first occurrence of `pattern` in `text`, or 0 when it does not
// occur (a pattern at the start also gives 0).
long FindSubstringOffset(const std::string& text, const std::string& pattern);

// Keeps the length + 1 characters that begin at `start` (fewer when the text
// ends earlier); a negative start or length leaves the text unchanged.
std::string& CutSubstring(std::string& buffer, long start, long length);

// The shortest text that reads back to the same double (the form of every
// number the model may read again: grids, tables, state sections).
std::string ShortestText(double value);
void AppendShortest(std::string& out, double value);

// Appends the rows `first` to `last` of `grid` (columns 1 to `columns`), one
// line each, its numbers in the shortest form that reads back exactly.
void AppendGridRows(std::string& out, double** grid, int first, int last, int columns);

// Reads one line of `file` without its newline; false at the end of the file.
bool ReadTextLine(FILE* file, std::string* line);

// True when `line` holds nothing but blanks, tabs and carriage returns.
bool BlankLine(const std::string& line);

// `name` inside `directory`, unless it begins with "/" or "~".
std::string InDirectory(const std::string& directory, const std::string& name);

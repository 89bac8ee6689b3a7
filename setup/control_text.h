#pragma once
// Text scanning for the set-up readers: whole lines of any length, and numbers
// and words taken from a piece of text the way a scan format would take them,
// except that a number out of the range of its type is never accepted.

#include <cstddef>
#include <cstdio>
#include <string>
#include <string_view>

class modelobject;

namespace controltext {

// Blank, tab, line feed, carriage return, vertical tab or form feed.
bool IsSpace(char c);

// Reads one line, its line end included, of any length. False at the end of
// the file when nothing was read. A read error of the stream throws
// through `reporter`'s read-error report (code 19) naming `path`.
bool ReadLine(FILE* stream, std::string& line, modelobject& reporter, const std::string& path);

// As "%lf": leading white space skipped, then the longest number. On success
// `end` (when given) receives the position after the number.
bool ScanDouble(std::string_view text, double* value, size_t* end = nullptr);

// The whole of `word` (white space around it aside) as one number, as
// strtod reads it: "6o", "3a-5" or "1e" are no numbers, where "%lf" would
// take their first characters. Non-finite values are returned as read.
bool ScanWholeDouble(std::string_view word, double* value);

// As "%d" for decimal digits; a value beyond the range of int is a failure.
bool ScanInt(std::string_view text, int* value, size_t* end = nullptr);

// As "%s": leading white space skipped, then the word up to the next white
// space, of any length.
bool ScanWord(std::string_view text, std::string* word, size_t* end = nullptr);

// The text without the blanks and tabs at its start.
std::string_view SkipBlanks(std::string_view text);

// True when the line holds nothing but blanks, tabs and its line end.
bool IsBlankLine(std::string_view line);

// Owns a stream on a file opened for the duration of one read, and reports a
// failing close as "FATAL: error closing <path>" (code 11). A stream still
// open when the guard is destroyed (after an error) is closed silently.
class ScopedFile {
public:
    ScopedFile() = default;
    ~ScopedFile();
    ScopedFile(const ScopedFile&) = delete;
    ScopedFile& operator=(const ScopedFile&) = delete;

    // Opens `path` with `mode`; false when it cannot be opened.
    bool Open(const std::string& path, const char* mode);
    FILE* Get() const { return Stream; }
    // Closes the stream; false when the close fails.
    bool Close();
    // Gives up ownership without closing.
    FILE* Release();

private:
    FILE* Stream = nullptr;
};

// Points a component's control-file stream at a file for the duration of one
// reader and gives the previous stream back afterwards. With `reuseOpen`, a
// stream the component already holds is used as it is. A file that cannot be
// opened is reported as `openFailure` + path (code 28); a failing close as
// "FATAL: error closing " + path (code 11).
class ControlFileSession {
public:
    ControlFileSession(modelobject& owner, const std::string& path, bool reuseOpen, const char* openFailure);
    ~ControlFileSession();
    ControlFileSession(const ControlFileSession&) = delete;
    ControlFileSession& operator=(const ControlFileSession&) = delete;

    // Closes the file this session opened (nothing when it reused a stream).
    void Close();

private:
    modelobject& Owner;
    FILE* Previous;
    FILE* Opened = nullptr;
    std::string Path;
};

}  // namespace controltext

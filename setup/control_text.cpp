#include "setup/control_text.h"

#include <cctype>
#include <charconv>
#include <cstdint>
#include <cstdlib>

#include "framework/diagnostics_writer.h"
#include "framework/modelobject.h"

namespace controltext {

bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f'; }

bool ReadLine(FILE* stream, std::string& line, modelobject& reporter, const std::string& path) {
    line.clear();
    int c;
    while ((c = std::fgetc(stream)) != EOF) {
        line.push_back(static_cast<char>(c));
        if (c == '\n') break;
    }
    if (std::ferror(stream)) reporter.ReadError(path, 1);
    return !line.empty();
}

namespace {
size_t SkipSpace(std::string_view text, size_t pos) {
    while (pos < text.size() && IsSpace(text[pos])) ++pos;
    return pos;
}
}  // namespace

bool ScanDouble(std::string_view text, double* value, size_t* end) {
    const size_t start = SkipSpace(text, 0);
    if (start >= text.size()) return false;
    // strtod needs a terminated string; a number is short, so a bounded copy
    // of the next word suffices.
    size_t stop = start;
    while (stop < text.size() && !IsSpace(text[stop])) ++stop;
    const std::string word(text.substr(start, stop - start));
    char* after = nullptr;
    const double v = std::strtod(word.c_str(), &after);
    if (after == word.c_str()) return false;
    *value = v;
    if (end) *end = start + static_cast<size_t>(after - word.c_str());
    return true;
}

bool ScanWholeDouble(std::string_view word, double* value) {
    size_t end = 0;
    double v = 0;
    if (!ScanDouble(word, &v, &end)) return false;
    if (SkipSpace(word, end) != word.size()) return false;
    *value = v;
    return true;
}

bool ScanInt(std::string_view text, int* value, size_t* end) {
    size_t pos = SkipSpace(text, 0);
    bool negative = false;
    if (pos < text.size() && (text[pos] == '+' || text[pos] == '-')) {
        negative = text[pos] == '-';
        ++pos;
    }
    const size_t digits = pos;
    while (pos < text.size() && std::isdigit(static_cast<unsigned char>(text[pos]))) ++pos;
    if (pos == digits) return false;
    long long magnitude = 0;
    const auto [ptr, ec] = std::from_chars(text.data() + digits, text.data() + pos, magnitude);
    if (ec != std::errc() || ptr != text.data() + pos) return false;
    const long long v = negative ? -magnitude : magnitude;
    if (v < INT32_MIN || v > INT32_MAX) return false;
    *value = static_cast<int>(v);
    if (end) *end = pos;
    return true;
}

bool ScanWord(std::string_view text, std::string* word, size_t* end) {
    const size_t start = SkipSpace(text, 0);
    if (start >= text.size()) return false;
    size_t stop = start;
    while (stop < text.size() && !IsSpace(text[stop])) ++stop;
    word->assign(text.substr(start, stop - start));
    if (end) *end = stop;
    return true;
}

std::string_view SkipBlanks(std::string_view text) {
    size_t pos = 0;
    while (pos < text.size() && (text[pos] == ' ' || text[pos] == '\t')) ++pos;
    return text.substr(pos);
}

bool IsBlankLine(std::string_view line) {
    for (char c : line) {
        if (c != ' ' && c != '\t' && c != '\n' && c != '\r') return false;
    }
    return true;
}

ScopedFile::~ScopedFile() {
    if (Stream) std::fclose(Stream);
}

bool ScopedFile::Open(const std::string& path, const char* mode) {
    if (Stream) std::fclose(Stream);
    Stream = std::fopen(path.c_str(), mode);
    return Stream != nullptr;
}

bool ScopedFile::Close() {
    if (!Stream) return true;
    const int result = std::fclose(Stream);
    Stream = nullptr;
    return result == 0;
}

FILE* ScopedFile::Release() {
    FILE* stream = Stream;
    Stream = nullptr;
    return stream;
}

ControlFileSession::ControlFileSession(modelobject& owner, const std::string& path, bool reuseOpen,
                                       const char* openFailure)
    : Owner(owner), Previous(owner.ControlFile), Path(path) {
    if (reuseOpen && Previous) return;
    Opened = std::fopen(path.c_str(), "r");
    if (!Opened) {
        if (Owner.Writer) *Owner.Writer << openFailure << Path << "[end-entry]";
        throw 28;
    }
    Owner.ControlFile = Opened;
}

ControlFileSession::~ControlFileSession() {
    if (!Opened) return;
    Owner.ControlFile = Previous;
    std::fclose(Opened);
}

void ControlFileSession::Close() {
    if (!Opened) return;
    Owner.ControlFile = Previous;
    FILE* stream = Opened;
    Opened = nullptr;
    if (std::fclose(stream) != 0) {
        if (Owner.Writer) *Owner.Writer << "FATAL: error closing " << Path << "[end-entry]";
        throw 11;
    }
}

}  // namespace controltext

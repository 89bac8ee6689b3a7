#include "parameters/landuse_keys.h"

#include <cctype>
#include <charconv>
#include <cmath>
#include <cstring>

KeyLookup FindKeyValue(const std::string& block, const std::string& key, std::string* value) {
    const size_t at = block.find(key);
    if (at == std::string::npos) return KeyLookup::Missing;
    const size_t after = at + key.size();
    const size_t equals = block.find('=', after);
    const size_t semicolon = block.find(';', after);
    if (equals == std::string::npos || semicolon == std::string::npos || semicolon < equals) {
        return KeyLookup::Malformed;
    }
    *value = block.substr(equals + 1, semicolon - equals - 1);
    return KeyLookup::Found;
}

namespace {

// Start of a number after white space and an optional "+"; null when the
// text ends first.
const char* NumberStart(const char* p) {
    while (*p != '\0' && std::isspace(static_cast<unsigned char>(*p))) ++p;
    if (*p == '+' && p[1] != '-' && p[1] != '+') ++p;
    return p;
}

// A number ends a word: white space, a separator of lists and keys, or the
// end of the text must follow it ("3a" is no 3).
bool EndsWord(const char* p) {
    return *p == '\0' || std::isspace(static_cast<unsigned char>(*p)) || *p == ',' || *p == ';' || *p == '}';
}

}  // namespace

bool ScanInt(const char** cursor, int* value) {
    const char* p = NumberStart(*cursor);
    const char* end = p + std::strlen(p);
    int parsed = 0;
    const auto result = std::from_chars(p, end, parsed);
    if (result.ec != std::errc() || !EndsWord(result.ptr)) return false;
    *value = parsed;
    *cursor = result.ptr;
    return true;
}

bool ScanDouble(const char** cursor, double* value) {
    const char* p = NumberStart(*cursor);
    const char* end = p + std::strlen(p);
    double parsed = 0;
    const auto result = std::from_chars(p, end, parsed, std::chars_format::general);
    if (result.ec != std::errc() || !std::isfinite(parsed) || !EndsWord(result.ptr)) return false;
    *value = parsed;
    *cursor = result.ptr;
    return true;
}

bool ScanWord(const char** cursor, std::string* word) {
    const char* p = *cursor;
    while (*p != '\0' && std::isspace(static_cast<unsigned char>(*p))) ++p;
    if (*p == '\0') return false;
    const char* start = p;
    while (*p != '\0' && !std::isspace(static_cast<unsigned char>(*p))) ++p;
    word->assign(start, p);
    *cursor = p;
    return true;
}

#include "routing/routing_text.h"

#include <charconv>
#include <cmath>
#include <cstdio>

namespace routingtext {

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f'; }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }

}  // namespace

bool KeywordAt(std::string_view text, size_t at) {
    for (const char* keyword : {"TG", "OL", "SUMTRIB", "ZL", "AL", "SP"}) {
        const std::string_view k(keyword);
        if (text.substr(at, k.size()) == k) return true;
    }
    return false;
}

std::string TokenAt(std::string_view text, size_t position) {
    while (position < text.size() && IsBlank(text[position])) ++position;
    size_t stop = position;
    while (stop < text.size() && !IsBlank(text[stop])) ++stop;
    return std::string(text.substr(position, stop - position));
}

bool ReadWholeNumber(std::string_view text, size_t& position, double& value, std::string* token) {
    size_t at = position;
    while (at < text.size() && IsBlank(text[at])) ++at;
    const size_t start = at;
    if (at < text.size() && (text[at] == '+' || text[at] == '-')) ++at;
    size_t digits = 0;
    while (at < text.size() && IsDigit(text[at])) ++at, ++digits;
    if (at < text.size() && text[at] == '.') {
        ++at;
        while (at < text.size() && IsDigit(text[at])) ++at, ++digits;
    }
    bool good = digits > 0;
    if (good && at < text.size() && (text[at] == 'e' || text[at] == 'E') && !KeywordAt(text, at)) {
        ++at;
        if (at < text.size() && (text[at] == '+' || text[at] == '-')) ++at;
        size_t exponent = 0;
        while (at < text.size() && IsDigit(text[at])) ++at, ++exponent;
        good = exponent > 0;
    }
    if (good && at < text.size() && !IsBlank(text[at]) && !KeywordAt(text, at)) good = false;
    double v = 0;
    if (good) {
        const char* first = text.data() + start + (text[start] == '+' ? 1 : 0);
        const auto [ptr, ec] = std::from_chars(first, text.data() + at, v);
        good = ec == std::errc() && ptr == text.data() + at && std::isfinite(v);
    }
    if (!good) {
        if (token) *token = TokenAt(text, start);
        return false;
    }
    value = v;
    position = at;
    return true;
}

std::string NumberText(double value) {
    char buffer[64];
    const auto [ptr, ec] = std::to_chars(buffer, buffer + sizeof buffer, value);
    return ec == std::errc() ? std::string(buffer, ptr) : std::string("?");
}

}  // namespace routingtext

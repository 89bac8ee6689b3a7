#pragma once
// Numbers inside the routing's description texts. A number is one whole
// decimal token: an optional sign, digits with at most one point, and an
// optional exponent with its digits. It ends at a blank, at the end of the
// text or, since the lines of a description are joined without a separator,
// where the next element's keyword begins. "nan", "inf", hexadecimal numbers
// and texts such as "3a" or "1e" are no numbers.

#include <cstddef>
#include <string>
#include <string_view>

namespace routingtext {

// Reads the number that starts at `position` (leading blanks skipped). On
// success `value` holds it and `position` points behind it. On failure
// `position` is left alone and `token` (when given) receives the offending
// text up to the next blank, for the message.
bool ReadWholeNumber(std::string_view text, size_t& position, double& value, std::string* token = nullptr);

// True when one of the element keywords ("TG", "OL", "SUMTRIB", "ZL", "AL",
// "SP") begins at `at`.
bool KeywordAt(std::string_view text, size_t at);

// The text from `position` up to the next blank, for messages.
std::string TokenAt(std::string_view text, size_t position);

// The shortest text that reads back to `value`.
std::string NumberText(double value);

}  // namespace routingtext

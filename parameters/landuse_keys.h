#pragma once
// Reading keys and numbers from the text of a brace block of the land-use
// table ("key = value;" pairs). A key is found by a plain, case-sensitive
// substring search at its first occurrence, so a key that is part of a longer
// key matches the longer one.

#include <string>

enum class KeyLookup {
    Missing,    // the key does not occur
    Found,      // the value text is the text between the next "=" and the next ";"
    Malformed,  // the key occurs without a following "=" before its ";"
};

// Looks `key` up in `block`; on Found, `value` receives the value text.
KeyLookup FindKeyValue(const std::string& block, const std::string& key, std::string* value);

// Read one number at `*cursor`, skipping leading white space; on success the
// cursor moves behind the number. A text that does not begin with a number,
// an integer outside the 32-bit range and a non-finite floating-point number
// are refused (false, cursor unchanged). Reading stops at the first character
// that cannot continue the number.
bool ScanInt(const char** cursor, int* value);
bool ScanDouble(const char** cursor, double* value);
// The next word (a run of non-blank characters); false at the end of the text.
bool ScanWord(const char** cursor, std::string* word);

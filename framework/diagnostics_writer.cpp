#include "framework/diagnostics_writer.h"

#include <cstdio>
#include <ctime>
#include <iostream>

namespace {

struct LevelPrefix {
    const char* text;
    size_t length;
    int level;
};

constexpr LevelPrefix Prefixes[] = {
    {"FATAL: ", 7, DiagFatal},   {"ERROR: ", 7, DiagError}, {"WARNING: ", 9, DiagWarning},
    {"INFO: ", 6, DiagInfo},     {"DEBUG: ", 7, DiagDebug}, {"SKIP: ", 6, DiagSkip},
};

// The level of a prefix at the very start of the text, or -1.
int PrefixLevel(const std::string& text, size_t* length) {
    for (const auto& p : Prefixes) {
        if (text.compare(0, p.length, p.text) == 0) {
            *length = p.length;
            return p.level;
        }
    }
    *length = 0;
    return -1;
}

void ReplaceAll(std::string& text, const std::string& from, const std::string& to) {
    size_t pos = 0;
    while ((pos = text.find(from, pos)) != std::string::npos) {
        text.replace(pos, from.size(), to);
        pos += to.size();
    }
}

// Length of a valid UTF-8 sequence starting at i, or 0.
size_t Utf8SequenceLength(const std::string& s, size_t i) {
    const auto b = static_cast<unsigned char>(s[i]);
    size_t n;
    if (b < 0x80) return 1;
    if (b >= 0xC2 && b <= 0xDF) n = 2;
    else if (b >= 0xE0 && b <= 0xEF) n = 3;
    else if (b >= 0xF0 && b <= 0xF4) n = 4;
    else return 0;
    if (i + n > s.size()) return 0;
    for (size_t k = 1; k < n; ++k) {
        if ((static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80) return 0;
    }
    return n;
}

// Bytes that may not stand in an XML 1.0 document (control characters other
// than tab, line feed and carriage return, and broken UTF-8) become '?'.
std::string ReplaceForbiddenBytes(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size();) {
        const auto b = static_cast<unsigned char>(text[i]);
        if (b < 0x20 && b != '\t' && b != '\n' && b != '\r') {
            out += '?';
            ++i;
            continue;
        }
        const size_t n = Utf8SequenceLength(text, i);
        if (n == 0) {
            out += '?';
            ++i;
            continue;
        }
        out.append(text, i, n);
        i += n;
    }
    return out;
}

}  // namespace

bool IsDiagLevelName(const std::string& text) {
    std::string upper = text;
    for (char& c : upper) {
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    }
    return upper == "FATAL" || upper == "ERROR" || upper == "WARNING" || upper == "INFO" || upper == "DEBUG";
}

int ParseDiagLevel(const std::string& text) {
    std::string upper = text;
    for (char& c : upper) {
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    }
    if (upper == "FATAL") return DiagFatal;
    if (upper == "ERROR") return DiagError;
    if (upper == "WARNING") return DiagWarning;
    if (upper == "INFO") return DiagInfo;
    return DiagDebug;
}

DiagnosticsWriter::DiagnosticsWriter(const std::string& fileName, int maxLevel)
    : DiagnosticsWriter(fileName, maxLevel, std::cout) {}

DiagnosticsWriter::DiagnosticsWriter(const std::string& fileName, int maxLevel, std::ostream& console)
    : Console(console), MaximumLevel(maxLevel < DiagFatal ? DiagFatal : (maxLevel > DiagDebug ? DiagDebug : maxLevel)) {
    Open(fileName);
}

void DiagnosticsWriter::Open(const std::string& fileName) {
    const std::string defaultName = "Ruvex_Diag.xml";
    FileNameText = fileName.empty() ? defaultName : fileName;
    File.open(FileNameText, std::ios::out | std::ios::trunc);
    if (!File.is_open()) {
        Console << "\n ----- Warning -----\n error opening diagnostics output file " << FileNameText << "\n";
        Console << "\nusing default name Ruvex_Diag.xml in actual working directory\n -------------------\n\n"
                << "\n";
        FileNameText = defaultName;
        File.clear();
        File.open(FileNameText, std::ios::out | std::ios::trunc);
        if (!File.is_open()) {
            Console << "Error opening diagnostics output file " << FileNameText << "\n";
            Console.flush();
            throw 320;
        }
    }
    File.imbue(std::locale::classic());
    File << "<?xml version='1.0' encoding='UTF-8'?>\n";
    File << "<Diag version=\"1.2\" xmlns=\"urn:ruvex:diagnostics\" \n";
    File << "      xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\" \n";
    File << "      xsi:schemaLocation=\"urn:ruvex:diagnostics Ruvex_Diag.xsd\">\n";
    File << "\t<line level=\"3\" description= \"Ruvex start at " << TimeStamp() << "\"/>\n";
    File.flush();
}

DiagnosticsWriter::~DiagnosticsWriter() { Close(); }

void DiagnosticsWriter::Close() {
    if (Closed) return;
    Closed = true;
    if (FileUsable()) {
        if (!NoEntryOpen && !Suppressed) WriteEntryClose(true);
        File << "\t<line level=\"3\" description= \"Ruvex finished at " << TimeStamp() << "\"/>\n";
        File << "</Diag>\n";
        File.flush();
    }
    if (File.is_open()) File.close();
    Console.flush();
}

std::string DiagnosticsWriter::TimeStamp() {
    std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char buffer[96];
    std::snprintf(buffer, sizeof buffer, "%04d-%02d-%02dT%02d:%02d:%02d", local.tm_year + 1900, local.tm_mon + 1,
                  local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec);
    return buffer;
}

void DiagnosticsWriter::WriteEntryStart() { File << "\t<line level=\"" << CurrentLevel << "\" description= \""; }

void DiagnosticsWriter::WriteEntryClose(bool withLineEnd) {
    File << "\"/>";
    if (withLineEnd) File << "\n";
    File.flush();
}

std::string DiagnosticsWriter::Escape(const std::string& raw) {
    std::string text = ReplaceForbiddenBytes(raw);
    ReplaceAll(text, "&", "&amp;");
    ReplaceAll(text, "\n", ";");
    ReplaceAll(text, "<", "&lt;");
    ReplaceAll(text, ">", "&gt;");
    ReplaceAll(text, "'", "&apos;");
    ReplaceAll(text, "\"", "&quot;");
    size_t pos;
    while ((pos = text.find("---")) != std::string::npos) text.erase(pos, 1);
    return text;
}

void DiagnosticsWriter::BeginEntry(const std::string& rawText, bool textPiece) {
    std::string text = rawText;
    size_t prefixLength = 0;
    const int level = PrefixLevel(text, &prefixLength);
    bool newEntry = false;
    if (level >= DiagFatal) {
        // Any prefix, SKIP included, closes a written entry that is still open,
        // so the file stays well-formed.
        if (!NoEntryOpen && !Suppressed && FileUsable()) WriteEntryClose(true);
        CurrentLevel = level;
        text.erase(0, prefixLength);
        newEntry = true;
    } else if (NoEntryOpen) {
        CurrentLevel = DiagDebug;
        newEntry = true;
    }
    Suppressed = MaximumLevel < CurrentLevel;
    if (newEntry && !Suppressed && FileUsable()) WriteEntryStart();
    NoEntryOpen = false;

    // Only a text piece may carry the end marker; in a string piece (a file
    // name, say) the same characters are plain text.
    bool ends = false;
    if (textPiece) {
        const size_t marker = text.rfind(EndMarker);
        if (marker != std::string::npos) {
            text.erase(marker, EndMarkerLength);
            ends = true;
        }
    }
    PendingText = Escape(text);
    if (ends) PendingText += "\"/>";
}

DiagnosticsWriter& DiagnosticsWriter::operator<<(const char* piece) {
    std::string text = piece ? piece : "";
    bool ends = false;
    std::string shown = text;
    const size_t marker = shown.rfind(EndMarker);
    if (marker != std::string::npos) {
        shown.erase(marker, EndMarkerLength);
        ends = true;
    }
    size_t prefixLength = 0;
    if (PrefixLevel(shown, &prefixLength) >= 0) shown.erase(0, prefixLength);
    if (!shown.empty()) {
        // A prompt or a waiting notice must be seen before its entry ends.
        Console << shown;
        Console.flush();
    }

    BeginEntry(text, true);
    if (!Suppressed && FileUsable()) File << PendingText;
    if (ends) {
        Console << "\n";
        Console.flush();
        if (!Suppressed && FileUsable()) {
            File << "\n";
            File.flush();
        }
        NoEntryOpen = true;
        Suppressed = false;
    }
    return *this;
}

DiagnosticsWriter& DiagnosticsWriter::operator<<(const std::string& text) {
    Console << text;
    BeginEntry(text, false);
    if (!Suppressed && FileUsable()) File << PendingText;
    return *this;
}

void DiagnosticsWriter::NumberEntry() {
    if (NoEntryOpen) {
        CurrentLevel = DiagDebug;
        Suppressed = MaximumLevel < DiagDebug;
        if (!Suppressed && FileUsable()) WriteEntryStart();
        NoEntryOpen = false;
    } else {
        Suppressed = MaximumLevel < CurrentLevel;
    }
    PendingText.clear();
}

template <typename T> DiagnosticsWriter& DiagnosticsWriter::Number(const T& value) {
    Console << value;
    NumberEntry();
    if (!Suppressed && FileUsable()) File << value;
    return *this;
}

DiagnosticsWriter& DiagnosticsWriter::operator<<(int value) { return Number(value); }
DiagnosticsWriter& DiagnosticsWriter::operator<<(long value) { return Number(value); }
DiagnosticsWriter& DiagnosticsWriter::operator<<(long long value) { return Number(value); }
DiagnosticsWriter& DiagnosticsWriter::operator<<(unsigned int value) { return Number(value); }
DiagnosticsWriter& DiagnosticsWriter::operator<<(unsigned long value) { return Number(value); }
DiagnosticsWriter& DiagnosticsWriter::operator<<(unsigned long long value) { return Number(value); }
DiagnosticsWriter& DiagnosticsWriter::operator<<(double value) { return Number(value); }
DiagnosticsWriter& DiagnosticsWriter::operator<<(float value) { return Number(value); }

DiagnosticsWriter& DiagnosticsWriter::operator<<(char value) {
    // A character outside XML's range still must not break the file.
    const std::string text(1, value);
    Console << value;
    NumberEntry();
    if (!Suppressed && FileUsable()) File << Escape(text);
    return *this;
}

DiagnosticsWriter& DiagnosticsWriter::operator<<(const void* pointer) { return Number(pointer); }

DiagnosticsWriter& DiagnosticsWriter::SetWidth(int width) {
    Console.width(width);
    NumberEntry();
    if (!Suppressed && FileUsable()) File.width(width);
    return *this;
}

#pragma once
// The one logger of the process: every message goes to the console, and the
// messages up to the chosen level also become <line> elements of the XML
// diagnostics file.

#include <fstream>
#include <iosfwd>
#include <string>

enum DiagLevel { DiagFatal = 0, DiagError = 1, DiagWarning = 2, DiagInfo = 3, DiagDebug = 4, DiagSkip = 5 };

class DiagnosticsWriter {
public:
    // An empty name means "Ruvex_Diag.xml" in the working directory. Throws
    // 320 when neither the given nor the default file can be created.
    DiagnosticsWriter(const std::string& fileName, int maxLevel);
    // The console stream defaults to standard output; tests pass their own.
    DiagnosticsWriter(const std::string& fileName, int maxLevel, std::ostream& console);
    ~DiagnosticsWriter();
    DiagnosticsWriter(const DiagnosticsWriter&) = delete;
    DiagnosticsWriter& operator=(const DiagnosticsWriter&) = delete;

    DiagnosticsWriter& operator<<(const char* text);
    DiagnosticsWriter& operator<<(const std::string& text);
    DiagnosticsWriter& operator<<(int value);
    DiagnosticsWriter& operator<<(long value);
    DiagnosticsWriter& operator<<(long long value);
    DiagnosticsWriter& operator<<(unsigned int value);
    DiagnosticsWriter& operator<<(unsigned long value);
    DiagnosticsWriter& operator<<(unsigned long long value);
    DiagnosticsWriter& operator<<(double value);
    DiagnosticsWriter& operator<<(float value);
    DiagnosticsWriter& operator<<(char value);
    DiagnosticsWriter& operator<<(const void* pointer);
    DiagnosticsWriter& SetWidth(int width);

    // Finishes the file (closing line and root element). Idempotent.
    void Close();

    const std::string& FileName() const { return FileNameText; }
    int MaxLevel() const { return MaximumLevel; }

    // Escapes a text for an attribute value of the diagnostics file.
    static std::string Escape(const std::string& text);

private:
    static constexpr const char* EndMarker = "[end-entry]";
    static constexpr size_t EndMarkerLength = 11;

    void Open(const std::string& fileName);
    void BeginEntry(const std::string& text, bool textPiece);
    void NumberEntry();
    template <typename T> DiagnosticsWriter& Number(const T& value);
    bool FileUsable() const { return File.is_open() && !File.fail(); }
    void WriteEntryStart();
    void WriteEntryClose(bool withLineEnd);
    static std::string TimeStamp();

    std::ofstream File;
    std::ostream& Console;
    bool NoEntryOpen = true;
    bool Suppressed = false;
    int CurrentLevel = DiagDebug;
    std::string PendingText;
    std::string FileNameText;
    int MaximumLevel = DiagDebug;
    bool Closed = false;
};

// Parses the value of "-diaglevel:": FATAL, ERROR, WARNING, INFO (any case of
// the letters), everything else DEBUG.
int ParseDiagLevel(const std::string& text);
// True for the five level names (letters in any case); the program refuses
// any other text after "-diaglevel:".
bool IsDiagLevelName(const std::string& text);

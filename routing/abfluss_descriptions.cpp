// The routing descriptions of "[routing_model]": a first pass counts the
// descriptions and their elements, a second pass joins each description's
// lines into one text and builds it element by element.

#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdlib>

#include "framework/diagnostics_writer.h"
#include "routing/abfluss.h"
#include "routing/routing_text.h"

namespace {

// Physical upper bounds of the values of a description.
constexpr double MaxArea = 1e7;             // km2, more than any river basin
constexpr double MaxAreaFactor = 1e3;
constexpr double MaxStorageConstant = 1e5;  // h
constexpr double MaxWidth = 1e5;            // m
constexpr double MaxDepth = 1e4;            // m
constexpr double MaxManning = 1e4;          // m^(1/3)/s
constexpr double MaxSlope = 10;             // 1/1
constexpr double MaxLength = 1e7;           // m
constexpr double MaxDischarge = 1e6;        // m3/s

bool Contains(const std::string& line, const char* token) { return line.find(token) != std::string::npos; }

// A line that continues a description holds one of these and no "TG".
bool HasElementToken(const std::string& line) {
    return Contains(line, "SUMTRIB") || Contains(line, "OL") || Contains(line, "AL") || Contains(line, "ZL") ||
           Contains(line, "SP");
}

// A cursor over the joined text of one description.
struct DescriptionCursor {
    const std::string& Text;
    size_t Position = 0;

    // Moves behind the next occurrence of `token`; false when there is none.
    bool Find(const char* token) {
        const size_t found = Text.find(token, Position);
        if (found == std::string::npos) return false;
        Position = found + std::char_traits<char>::length(token);
        return true;
    }
    // An integer at the cursor (leading blanks skipped); codes beyond the int
    // range are clamped so that they fail the range checks.
    bool ReadInt(int& value) {
        const char* start = Text.c_str() + Position;
        char* end = nullptr;
        errno = 0;
        const long v = std::strtol(start, &end, 10);
        if (end == start) return false;
        // The code is a whole token: a letter, digit or point glued to it
        // (other than the next element's keyword) makes it no code.
        const size_t after = Position + static_cast<size_t>(end - start);
        if (after < Text.size()) {
            const char c = Text[after];
            if ((std::isalnum(static_cast<unsigned char>(c)) || c == '.') &&
                !routingtext::KeywordAt(Text, after))
                return false;
        }
        value = v > INT_MAX ? INT_MAX : (v < INT_MIN ? INT_MIN : static_cast<int>(v));
        Position += static_cast<size_t>(end - start);
        return true;
    }
    // A whole number token at the cursor; `token` receives the offending
    // text on failure.
    bool ReadNumber(double& value, std::string* token = nullptr) {
        return routingtext::ReadWholeNumber(Text, Position, value, token);
    }
    // The next word at the cursor (leading blanks skipped).
    bool ReadWord(std::string& word) {
        while (Position < Text.size() && std::isspace(static_cast<unsigned char>(Text[Position]))) ++Position;
        const size_t start = Position;
        while (Position < Text.size() && !std::isspace(static_cast<unsigned char>(Text[Position]))) ++Position;
        word = Text.substr(start, Position - start);
        return !word.empty();
    }
    // Moves behind the next "="; false when there is none.
    bool SkipEquals() {
        const size_t found = Text.find('=', Position);
        if (found == std::string::npos) return false;
        Position = found + 1;
        return true;
    }
};

// The 1-based number of the line that starts at byte `offset` of `stream`;
// the stream's position is kept.
int LineOfOffset(FILE* stream, long offset) {
    const long saved = std::ftell(stream);
    if (saved < 0 || offset < 0) return 0;
    std::rewind(stream);
    int line = 1;
    for (long at = 0; at < offset; ++at) {
        const int c = std::fgetc(stream);
        if (c == EOF) break;
        if (c == '\n') ++line;
    }
    std::fseek(stream, saved, SEEK_SET);
    return line;
}

}  // namespace

int abflussmodellklasse::SubbasinRank(int code) const {
    if (!Subbasins.CodeToRank || code < 0 || code > Subbasins.LargestCode) return 0;
    const int rank = Subbasins.CodeToRank[code];
    return rank >= 1 && rank <= Subbasins.Count ? rank : 0;
}

int abflussmodellklasse::CountSubstring(const std::string& line, const std::string& pattern) {
    if (pattern.empty()) return 0;
    int count = 0;
    for (size_t found = line.find(pattern); found != std::string::npos; found = line.find(pattern, found + 1))
        ++count;
    return count;
}

void abflussmodellklasse::CountDescriptions() {
    Totals = ElementCounts{};
    DescriptionCount = 0;
    FirstDescriptionOffset = std::ftell(ControlFile);
    FirstDescriptionLine = LineOfOffset(ControlFile, FirstDescriptionOffset);
    std::string line;
    for (;;) {
        ReadRestOfLine(ControlFile, &line);
        if (line.empty()) {
            if (Writer) {
                *Writer << "FATAL: error reading a routing description from control file! (eof reached)."
                        << "[end-entry]";
            }
            throw 38;
        }
        if (Contains(line, "TG")) {
            ++DescriptionCount;
        } else if (!HasElementToken(line)) {
            break;
        }
        Totals.OL += CountOL(line);
        Totals.Ampersand += CountAmpersand(line);
        Totals.SUMTRIB += CountSUMTRIB(line);
        Totals.ZL += CountZL(line);
        Totals.AL += CountAL(line);
        Totals.SP += CountSP(line);
    }
    if (Writer) {
        DiagnosticsWriter& w = *Writer;
        w << "number inbetween areas (routings)    : " << DescriptionCount << "[end-entry]";
        w << "number tributaries  total      (OL)  : " << Totals.OL + Totals.Ampersand + Totals.SUMTRIB
          << "[end-entry]";
        w << " - flowing into another at the end   : " << Totals.OL << "[end-entry]";
        w << " - flowing into another at the start : " << Totals.Ampersand + Totals.SUMTRIB << "[end-entry]";
        w << "so the total of routingchannels is   : " << Totals.OL + Totals.SUMTRIB << "[end-entry]";
        w << "number of inflows              (ZL)  : " << Totals.ZL << "[end-entry]";
        w << "number of abstractions         (AL)  : " << Totals.AL << "[end-entry]";
        w << "number reservoirs              (SP)  : " << Totals.SP << "[end-entry]";
    }
}

void abflussmodellklasse::BuildDescriptions() {
    FindSection("[routing_model]", true);
    std::string line;
    // The second pass begins where the first did, whatever the lines before
    // it held.
    if (FirstDescriptionOffset < 0 || std::fseek(ControlFile, FirstDescriptionOffset, SEEK_SET) != 0) {
        if (Writer) {
            *Writer << "FATAL: error searching the second time for routing descriptions\nthe first run was ok., "
                       "but not the second"
                    << "[end-entry]";
        }
        throw 38;
    }
    int lineNumber = FirstDescriptionLine;
    std::string pending;
    ReadRestOfLine(ControlFile, &pending);
    if (pending.empty()) {
        if (Writer) *Writer << "FATAL: rerror reading routing description \n2nd run, (1st run: o.k.)" << "[end-entry]";
        throw 38;
    }
    InflowUsed.assign(static_cast<size_t>(Totals.ZL + 1), 0);
    FirstTargetFree = 1;
    int k = 0;
    while (Contains(pending, "TG")) {
        if (Writer) *Writer << "reading routing description " << k + 1 << "[end-entry]";
        ++k;
        if (k > DescriptionCount) {
            if (Writer) {
                *Writer << "FATAL: rerror reading routing description \n2nd run, (1st run: o.k.)" << "[end-entry]";
            }
            throw 38;
        }
        // Join the description's lines without separator. Lines have no
        // length limit, so a line without its line end is the file's end.
        DescriptionLine = lineNumber;
        std::string text;
        line = pending;
        for (;;) {
            if (line.empty() || line.back() != '\n') {
                if (Writer) {
                    *Writer << "FATAL: unexpected end of control file reached reading routing descriptions"
                            << "[end-entry]";
                }
                throw 38;
            }
            line.pop_back();
            text += line;
            ++lineNumber;
            ReadRestOfLine(ControlFile, &line);
            if (line.empty()) {
                if (Writer) {
                    *Writer << "FATAL: unexpected end of control file reached reading routing descriptions"
                            << "[end-entry]";
                }
                throw 38;
            }
            if (Contains(line, "TG") || !HasElementToken(line)) break;
        }
        pending = line;
        BuildDescription(k, text);
    }
    // Every description the first pass counted must have been built: the
    // routing tables and the steps index them all.
    if (k != DescriptionCount) {
        if (Writer) {
            *Writer << "FATAL: rerror reading routing description \n2nd run, (1st run: o.k.): the first run counted "
                    << DescriptionCount << " routing descriptions from line " << FirstDescriptionLine << " of "
                    << ControlFilePath << ", the second built " << k << "[end-entry]";
        }
        throw 38;
    }
}

void abflussmodellklasse::DescriptionError(int k, int outlet, int element, const std::string& what) {
    if (Writer) {
        *Writer << "FATAL: error in routing description " << k << " (TG " << outlet << "), element " << element
                << ": " << what << " (description on line " << DescriptionLine << " of " << ControlFilePath << ")"
                << "[end-entry]";
    }
    throw 17;
}

void abflussmodellklasse::AddTributary(int k, int outlet, int element, int code, bool lineEnd) {
    const int n = Subbasins.Count;
    const int rank = SubbasinRank(code);
    if (rank < 1 || rank > n) {
        if (Writer) {
            *Writer << "FATAL: there cant be a tributary with code " << code << " for no subbasin (according to zones)"
                    << (lineEnd ? "\n" : "") << "[end-entry]";
        }
        throw 41;
    }
    if (code == outlet) {
        if (Writer) {
            *Writer << "FATAL: subbasin " << outlet << ": code of tributary " << element << " (" << code
                    << ") is equal to subbasin code!\nIt is not allowed to rout the outflow of a subbasin back into "
                       "\nthe same subbasin. Use a reservoir instead."
                    << (lineEnd ? "\n" : "") << "[end-entry]";
        }
        throw 41;
    }
    // One storage-element array per subbasin: a subbasin feeds one channel.
    if (TargetOfSubbasin[static_cast<size_t>(rank)] != 0) {
        if (Writer) {
            *Writer << "FATAL: subbasin " << code << " is named as tributary of more than one channel (routing "
                    << "description " << k << ", element " << element << "); a subbasin can flow into one channel only"
                    << "[end-entry]";
        }
        throw 41;
    }
    const int outletRank = SubbasinRank(outlet);
    // Each subbasin enters the list once, so 2n+1 entries always suffice.
    while (FirstTargetFree < static_cast<int>(TargetList.size()) && TargetList[static_cast<size_t>(FirstTargetFree)] > 0)
        ++FirstTargetFree;
    if (FirstTargetFree < static_cast<int>(TargetList.size()))
        TargetList[static_cast<size_t>(FirstTargetFree)] = rank;
    TargetOfSubbasin[static_cast<size_t>(rank)] = outletRank;
}

void abflussmodellklasse::BuildDescription(int k, const std::string& text) {
    ElementCounts counts;
    counts.OL = CountOL(text);
    counts.SUMTRIB = CountSUMTRIB(text);
    counts.Ampersand = CountAmpersand(text);
    counts.ZL = CountZL(text);
    counts.AL = CountAL(text);
    counts.SP = CountSP(text);
    const int n = Subbasins.Count;

    DescriptionCursor s{text};
    s.Find("TG");
    int outlet = 0;
    if (!s.ReadInt(outlet)) DescriptionError(k, 0, 0, "no subbasin code after \"TG\"");
    const int outletRank = SubbasinRank(outlet);
    if (outletRank < 1 || outletRank > n) {
        if (Writer) *Writer << "FATAL: there is no subbasin with code " << outlet << "[end-entry]";
        throw 41;
    }
    int element = 0;
    auto value = [&](double& target, const char* what) {
        if (!s.SkipEquals()) DescriptionError(k, outlet, element, std::string("no \"=\" before the ") + what);
        std::string token;
        if (!s.ReadNumber(target, &token)) {
            DescriptionError(k, outlet, element, std::string("no number after \"=\" for the ") + what +
                                                     (token.empty() ? std::string() : " (\"" + token + "\")"));
        }
    };
    // A value outside [lowest, highest] (`open` excludes the lowest).
    auto bounded = [&](double v, double lowest, double highest, bool open, const char* what) {
        if ((open ? v > lowest : v >= lowest) && v <= highest) return;
        DescriptionError(k, outlet, element,
                         std::string("the ") + what + " " + routingtext::NumberText(v) + " lies outside " +
                             (open ? "(" : "[") + routingtext::NumberText(lowest) + ", " +
                             routingtext::NumberText(highest) + "]");
    };
    double area = 0, factor = 0;
    value(area, "catchment area");
    value(factor, "area factor");
    // Every conversion of a routed outflow divides by the area factor.
    bounded(area, 0, MaxArea, false, "catchment area [km2]");
    bounded(factor, 0, MaxAreaFactor, true, "area factor");

    RoutingDescriptionLinks links;
    links.Writer = Writer;
    links.ControlFilePath = ControlFilePath;
    links.InputDirectory = InputDirectory;
    links.OutputDirectory = OutputDirectory;
    links.SubbasinCount = n;
    links.TimeStep = TimeInterval;
    links.Records = Subbasins.Records;
    links.CodeToRank = Subbasins.CodeToRank;
    links.LargestCode = Subbasins.LargestCode;
    links.Abfrel = Abfrel.Rows();
    links.TracerCount = RoutingTracerCount;
    links.Tracers = RoutingTracers;
    links.GridTable = GridTable;
    links.RowExtents = RowExtents;
    links.NRows = NRows;
    links.NCols = NCols;
    links.XllCorner = XllCorner;
    links.YllCorner = YllCorner;
    links.CellSize = CellSize;
    links.NoData = NoData;
    links.LakeSwitch = LakeSwitch;
    links.GridReadMode = GridReadMode;
    int status = 0;
    Descriptions[static_cast<size_t>(k)] = std::make_unique<routingclass>(&status, links, area, factor, counts, outlet, k);
    if (status != 0) throw status;
    routingclass& d = *Descriptions[static_cast<size_t>(k)];
    DescriptionOfOutlet[static_cast<size_t>(outletRank)] = k;
    d.SubIntervals = SubIntervals;

    auto channelValues = [&]() {
        double x[10];
        static const char* const names[10] = {"storage constant of the main channel",
                                              "storage constant of the flood plains",
                                              "width of the main channel",
                                              "width of the flood plains",
                                              "depth of the main channel",
                                              "Manning coefficient of the main channel",
                                              "Manning coefficient of the flood plains",
                                              "slope",
                                              "channel length",
                                              "catchment area of the channel"};
        for (int j = 0; j < 10; ++j) value(x[j], names[j]);
        // Values that are not positive stand for the channel's defaults,
        // except the length and the catchment area: a channel of no length
        // or area has no travel time, and the initial routing would never
        // fill it. Each value has a physical upper bound.
        static const double highest[10] = {MaxStorageConstant, MaxStorageConstant, MaxWidth, MaxWidth, MaxDepth,
                                           MaxManning,         MaxManning,         MaxSlope, MaxLength, MaxArea};
        for (int j = 0; j < 10; ++j) {
            if (j >= 8) {
                bounded(x[j], 0, highest[j], true, names[j]);
            } else if (x[j] > highest[j]) {
                bounded(x[j], -highest[j], highest[j], false, names[j]);
            }
        }
        return ChannelValues{x[0], x[1], x[2], x[3], x[4], x[5], x[6], x[7], x[8], x[9]};
    };
    auto setChannel = [&](int code, const std::vector<int>& list) {
        const ChannelValues values = channelValues();
        d.SetChannelParams(element, code, list, SubIntervals, Substitution, values, QMinSpecific, QMaxSpecific,
                           WqIntervals);
    };

    // "OL" channels, from behind the area factor on.
    for (int j = 0; j < counts.OL; ++j) {
        ++element;
        int code = 0;
        if (!s.Find("OL")) DescriptionError(k, outlet, element, "\"OL\" element not found behind the area factor");
        if (!s.ReadInt(code)) DescriptionError(k, outlet, element, "no subbasin code after \"OL\"");
        AddTributary(k, outlet, element, code, true);
        setChannel(code, {});
    }
    // "SUMTRIB" channels, from the beginning: the first code, then "&" codes
    // up to the first blank, "(" or "k".
    s.Position = 0;
    for (int j = 0; j < counts.SUMTRIB; ++j) {
        ++element;
        int code = 0;
        if (!s.Find("SUMTRIB")) DescriptionError(k, outlet, element, "\"SUMTRIB\" element not found");
        if (!s.ReadInt(code)) DescriptionError(k, outlet, element, "no subbasin code after \"SUMTRIB\"");
        AddTributary(k, outlet, element, code, false);
        const size_t stop = text.find_first_of(" (k", s.Position);
        const std::string further = text.substr(s.Position, stop == std::string::npos ? std::string::npos
                                                                                      : stop - s.Position);
        std::vector<int> list{0};
        DescriptionCursor codes{further};
        while (codes.Find("&")) {
            int other = 0;
            if (!codes.ReadInt(other)) DescriptionError(k, outlet, element, "no subbasin code after \"&\"");
            AddTributary(k, outlet, element, other, false);
            list.push_back(other);
            ++list[0];
        }
        s.Position += further.size();
        setChannel(code, list);
    }
    // "ZL" channels, from the beginning.
    s.Position = 0;
    for (int j = 0; j < counts.ZL; ++j) {
        ++element;
        int number = 0;
        if (!s.Find("ZL")) DescriptionError(k, outlet, element, "\"ZL\" element not found");
        if (!s.ReadInt(number)) DescriptionError(k, outlet, element, "no inflow number after \"ZL\"");
        if (number < 1 || number > Totals.ZL) {
            if (Writer) {
                *Writer << "FATAL: there is/are only " << Totals.ZL
                        << " inflow(s) for the entire basin,\n but the codes ranges from 1 to at least " << number
                        << "! in " << ModuleName << "[end-entry]";
            }
            throw 42;
        }
        // Inflow z has one storage-element array: one channel only.
        if (InflowUsed[static_cast<size_t>(number)]) {
            if (Writer) {
                *Writer << "FATAL: inflow " << number << " is used by more than one \"ZL\" element (routing description "
                        << k << ", element " << element << ")" << "[end-entry]";
            }
            throw 42;
        }
        InflowUsed[static_cast<size_t>(number)] = 1;
        std::string mode;
        if (!s.SkipEquals() || !s.ReadWord(mode)) DescriptionError(k, outlet, element, "no inflow mode after \"=\"");
        int modeCode = 0, startRow = 0, column = 0;
        double constant = 0;
        std::string file;
        if (mode == "constant") {
            modeCode = 1;
            std::string token;
            if (!s.ReadNumber(constant, &token)) {
                DescriptionError(k, outlet, element, "no number after \"constant\" (\"" + token + "\")");
            }
            bounded(constant, 0, MaxDischarge, false, "constant inflow [m3/s]");
        } else if (mode == "extern") {
            modeCode = 4;
            if (!s.ReadWord(file) || !s.ReadInt(startRow) || !s.ReadInt(column)) {
                DescriptionError(k, outlet, element, "no file name, start row and column after \"extern\"");
            }
        } else if (mode == "intern") {
            modeCode = 3;
        } else {
            if (Writer) {
                *Writer << "FATAL: the modus \"" << mode << "\" is not supported for inflow " << number
                        << "[end-entry]";
            }
            throw 42;
        }
        d.SetZuflussModus(element, number, modeCode, file, startRow, constant, column, Settings.StartYear,
                          Settings.StartMonth, Settings.StartDay, Settings.StartHour);
        setChannel(number, {});
    }
    s.Position = 0;
    for (int j = 0; j < counts.AL; ++j) {
        ++element;
        d.SetAblaufModus(ControlFile, element, text, s.Position, SubIntervals, Settings.StartYear,
                         Settings.StartMonth, Settings.StartDay, Settings.StartHour);
    }
    s.Position = 0;
    for (int j = 0; j < counts.SP; ++j) {
        ++element;
        d.SetSpeicherParams(ControlFile, element, text, s.Position, SubIntervals);
    }
    d.CreateOutletArrays(SubIntervals);
}

#include "framework/gridfiles_io.h"
#include "framework/string_helpers.h"

#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <new>
#include <omp.h>
#include <vector>

#include "framework/gridfiles.h"
#include "framework/modelobject.h"
#include "framework/parallel_rows.h"
#include "framework/zonetable.h"

void PrefixDirectory(const std::string& directory, std::string& name) {
    if (directory.empty()) return;
    if (!name.empty() && (name[0] == '/' || name[0] == '~')) return;
    name.insert(0, directory);
}

namespace gridio {

void FormatRowsInOrder(long rows, long cellsPerRow, const std::function<void(long, std::string&)>& format,
                       const std::function<void(const std::string&)>& put) {
    // About a quarter of a million numbers a batch: some 5 MB of text.
    const long batch = std::max(1L, (1L << 18) / std::max(1L, cellsPerRow));
    std::vector<std::string> texts(static_cast<size_t>(std::min(batch, std::max(rows, 1L))));
    std::vector<char> failed(texts.size());
    for (long first = 1; first <= rows; first += batch) {
        const long count = std::min(batch, rows - first + 1);
#pragma omp parallel for schedule(static, 1) if (WorthThreads(static_cast<int64_t>(count) * cellsPerRow))
        for (long k = 0; k < count; ++k) {
            std::string& text = texts[static_cast<size_t>(k)];
            text.clear();
            try {
                format(first + k, text);
            } catch (...) {
                failed[static_cast<size_t>(k)] = 1;
            }
        }
        for (long k = 0; k < count; ++k) {
            if (failed[static_cast<size_t>(k)]) throw std::bad_alloc();
        }
        std::string joined;
        for (long k = 0; k < count; ++k) joined += texts[static_cast<size_t>(k)];
        put(joined);
    }
}

long long FileSize(FILE* file) {
    struct stat info {};
    if (fstat(fileno(file), &info) != 0) return -1;
    return static_cast<long long>(info.st_size);
}

std::string Tail(const std::string& text, size_t count) {
    return text.size() <= count ? text : text.substr(text.size() - count);
}

void AppendNumber(std::string& out, double value) { AppendShortest(out, value); }

bool ParseNumber(std::string_view token, double* value) {
    if (!token.empty() && token.front() == '+') {
        token.remove_prefix(1);
        if (!token.empty() && token.front() == '-') return false;
    }
    if (token.empty()) return false;
    double parsed = 0;
    const auto result = std::from_chars(token.data(), token.data() + token.size(), parsed);
    if (result.ec != std::errc() || result.ptr != token.data() + token.size() || !std::isfinite(parsed)) return false;
    *value = parsed;
    return true;
}

namespace {

// The whitespace of the "C" locale, as std::isspace sees it there.
inline bool IsBlank(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

// One piece of the text: [Begin, End), starting and ending at whitespace (or
// at an end of the text), so that no token is cut.
struct Piece {
    size_t Begin = 0;
    size_t End = 0;
    int64_t Tokens = 0;       // tokens in the piece
    int64_t FirstIndex = 0;   // index of its first token in the whole text
    size_t LoneCR = SIZE_MAX; // first carriage return without its line feed
    int64_t Bad = -1;         // index of its first token that is no number
    size_t BadBegin = 0;
    size_t BadEnd = 0;
};

// Pieces of at least 64 KiB, four per thread so that pieces of uneven work
// even out; one piece when the values are too few to pay for threads.
// Parsing takes some 30 ns a value (3 ns a byte) on one thread: a piece of
// 64 KiB (about 6,500 values, 0.2 ms) is several times what waking a team
// costs. Measured on the 8-core machine while others used it: 16,384 values
// in two pieces 0.49 ms on 1 thread, 0.30 ms on 2; 120,000 values (a grid of
// the 400 x 300 valley, 1.2 MB) 3.5 ms on 1 thread, 1.9 on 2, 1.2 on 8.
std::vector<Piece> CutIntoPieces(std::string_view text, bool parallel) {
    size_t wanted = 1;
    if (parallel) {
        wanted = std::min<size_t>(static_cast<size_t>(omp_get_max_threads()) * 4, text.size() / 65536);
        wanted = std::max<size_t>(wanted, 1);
    }
    std::vector<Piece> pieces;
    size_t begin = 0;
    for (size_t k = 1; k <= wanted; ++k) {
        size_t end = k == wanted ? text.size() : std::max(begin, text.size() / wanted * k);
        while (end < text.size() && !IsBlank(text[end])) ++end;
        if (end <= begin && k < wanted) continue;
        Piece piece;
        piece.Begin = begin;
        piece.End = end;
        pieces.push_back(piece);
        begin = end;
    }
    return pieces;
}

void CountTokens(std::string_view text, Piece& piece) {
    bool inToken = false;
    for (size_t p = piece.Begin; p < piece.End; ++p) {
        const char c = text[p];
        if (IsBlank(c)) {
            inToken = false;
            if (c == '\r' && piece.LoneCR == SIZE_MAX && (p + 1 == text.size() || text[p + 1] != '\n')) {
                piece.LoneCR = p;
            }
        } else if (!inToken) {
            inToken = true;
            ++piece.Tokens;
        }
    }
}

void ParsePiece(std::string_view text, int64_t count, Piece& piece,
                const std::function<void(int64_t, double)>& store) {
    int64_t index = piece.FirstIndex;
    size_t p = piece.Begin;
    while (index < count) {
        while (p < piece.End && IsBlank(text[p])) ++p;
        if (p == piece.End) return;
        const size_t start = p;
        while (p < piece.End && !IsBlank(text[p])) ++p;
        double value = 0;
        if (!ParseNumber(text.substr(start, p - start), &value)) {
            piece.Bad = index;
            piece.BadBegin = start;
            piece.BadEnd = p;
            return;
        }
        store(index, value);
        ++index;
    }
}

// Offset of token `index` (which lies in `piece`).
size_t TokenStart(std::string_view text, const Piece& piece, int64_t index) {
    int64_t k = piece.FirstIndex - 1;
    for (size_t p = piece.Begin; p < piece.End; ++p) {
        if (!IsBlank(text[p]) && (p == piece.Begin || IsBlank(text[p - 1])) && ++k == index) return p;
    }
    return piece.End;
}

}  // namespace

ParsedNumbers ParseNumbers(std::string_view text, int64_t count, const std::function<void(int64_t, double)>& store) {
    const bool parallel = WorthThreads(count);
    std::vector<Piece> pieces = CutIntoPieces(text, parallel);
    const auto n = static_cast<long>(pieces.size());
#pragma omp parallel for schedule(static, 1) if (parallel && n > 1)
    for (long k = 0; k < n; ++k) CountTokens(text, pieces[static_cast<size_t>(k)]);
    int64_t total = 0;
    for (Piece& piece : pieces) {
        piece.FirstIndex = total;
        total += piece.Tokens;
    }
    // A failed store (an allocation) must not leave the parallel region.
    std::vector<char> failed(pieces.size());
#pragma omp parallel for schedule(static, 1) if (parallel && n > 1)
    for (long k = 0; k < n; ++k) {
        Piece& piece = pieces[static_cast<size_t>(k)];
        if (piece.FirstIndex >= count) continue;
        try {
            ParsePiece(text, count, piece, store);
        } catch (...) {
            failed[static_cast<size_t>(k)] = 1;
        }
    }
    for (char f : failed) {
        if (f) throw std::bad_alloc();
    }

    ParsedNumbers result;
    result.FirstBad = count;
    // The part a token-by-token reader would have passed ends where the bad
    // token or the last value begins, or at the end of the text when values
    // are missing.
    size_t passed = 0;
    const Piece* badPiece = nullptr;
    for (const Piece& piece : pieces) {
        if (piece.Bad >= 0) {
            badPiece = &piece;
            break;
        }
    }
    if (badPiece) {
        result.FirstBad = badPiece->Bad;
        result.BadToken = text.substr(badPiece->BadBegin, badPiece->BadEnd - badPiece->BadBegin);
        passed = badPiece->BadBegin;
    } else if (total < count) {
        result.FirstBad = total;
        passed = text.size();
    } else if (count > 0) {
        for (const Piece& piece : pieces) {
            if (count - 1 < piece.FirstIndex + piece.Tokens) {
                passed = TokenStart(text, piece, count - 1);
                break;
            }
        }
    }
    for (const Piece& piece : pieces) {
        if (piece.LoneCR != SIZE_MAX) {
            result.LoneCarriageReturn = piece.LoneCR < passed;
            break;
        }
    }
    return result;
}

bool TextScanner::TakeRest(std::string& text) {
    text.append(Buffer.data() + Position, End - Position);
    Position = End;
    const long long size = FileSize(File);
    const long long at = std::ftell(File);
    if (size > at && at >= 0) text.reserve(text.size() + static_cast<size_t>(size - at));
    for (;;) {
        const size_t got = std::fread(Buffer.data(), 1, Buffer.size(), File);
        text.append(Buffer.data(), got);
        if (got < Buffer.size()) break;
    }
    End = Position = 0;
    return !std::ferror(File);
}

bool TextScanner::Fill() {
    if (std::ferror(File) || std::feof(File)) return false;
    End = std::fread(Buffer.data(), 1, Buffer.size(), File);
    Position = 0;
    return End > 0;
}

bool TextScanner::NextToken(std::string& token) {
    token.clear();
    // Skip whitespace, watching for carriage returns without their line feed.
    for (;;) {
        if (Position == End && !Fill()) {
            if (PendingCR) LoneCR = true;
            PendingCR = false;
            return false;
        }
        while (Position < End) {
            const char c = Buffer[Position];
            if (PendingCR && c != '\n') LoneCR = true;
            PendingCR = c == '\r';
            if (!std::isspace(static_cast<unsigned char>(c))) break;
            ++Position;
        }
        if (Position < End) break;
    }
    for (;;) {
        const size_t start = Position;
        while (Position < End && !std::isspace(static_cast<unsigned char>(Buffer[Position]))) ++Position;
        token.append(Buffer.data() + start, Position - start);
        if (Position < End) return true;
        if (!Fill()) return !std::ferror(File);
    }
}

bool TextScanner::NextNumber(double* value) { return NextToken(Token) && ParseNumber(Token, value); }

void RefuseLoneCarriageReturns(modelobject& reader, const TextScanner& scanner, const std::string& path) {
    if (scanner.LoneCarriageReturn()) RefuseLoneCarriageReturns(reader, path);
}

void RefuseLoneCarriageReturns(modelobject& reader, const std::string& path) {
    Entry(reader.Writer, "FATAL: error reading ", path,
          ": lines ended by a carriage return alone are not read (line ends must be a line feed, or a carriage "
          "return and a line feed)");
    throw 22;
}

void RowRange(const modelobject& owner, long row, long* first, long* last) {
    if (!owner.RowExtents) {
        *first = 1;
        *last = owner.NCols;
        return;
    }
    *first = std::max<long>(1, owner.RowExtents[row].first);
    *last = std::min<long>(owner.NCols, owner.RowExtents[row].last);
}

}  // namespace gridio

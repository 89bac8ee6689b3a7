#include "framework/gridfiles_io.h"
#include "framework/string_helpers.h"

#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <new>
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
    if (!scanner.LoneCarriageReturn()) return;
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

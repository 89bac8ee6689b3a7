#include "framework/string_helpers.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using Pieces = std::vector<std::string>;

TEST(SplitString, CutsAtDelimitersAndKeepsQuotedPiecesWhole) {
    struct Case {
        std::string text;
        std::string delimiters;
        Pieces pieces;
    };
    const Case cases[] = {
        {" a, b;;c ", "\t ;,", {"a", "b", "c"}},
        {"x \"a b\" y", " ", {"x", "\"a b\"", "y"}},
        {"\"a;b\";c", ";", {"\"a;b\"", "c"}},
        // An escaped quote does not close the piece; an escaped backslash does not escape it.
        {"\"a\\\" b\" c", " ", {"\"a\\\" b\"", "c"}},
        {"\"a\\\\\" b", " ", {"\"a\\\\\"", "b"}},
        // Without a closing quote the piece runs to the end of the text.
        {"x \"a b", " ", {"x", "\"a b"}},
        // A quote among the delimiters is a delimiter like any other.
        {"x\"y\"z", "\"", {"x", "y", "z"}},
        // The character after the closing quote is passed over.
        {"\"a\"b c", " ", {"\"a\"", "c"}},
        {"\n1\t2\n", "\n\t ;,", {"1", "2"}},
        {"", " ", {}},
        {" ;, ", "\t ;,", {}},
        {"whole", "", {"whole"}},
    };
    for (const Case& c : cases) {
        Pieces list;
        EXPECT_EQ(SplitString(c.text, c.delimiters, list), c.pieces.size()) << c.text;
        EXPECT_EQ(list, c.pieces) << c.text;
    }
}

TEST(SplitString, AppendsToTheListAndReturnsItsSize) {
    Pieces list = {"kept"};
    EXPECT_EQ(SplitString(" a, b;;c ", "\t ;,", list), 4u);
    EXPECT_EQ(list, (Pieces{"kept", "a", "b", "c"}));
}

TEST(FindSubstringOffset, GivesTheOffsetOrZero) {
    EXPECT_EQ(FindSubstringOffset("grid.asc", ".asc"), 4);
    EXPECT_EQ(FindSubstringOffset("a.b.c", "."), 1);
    EXPECT_EQ(FindSubstringOffset("grid.asc", "grid"), 0);
    EXPECT_EQ(FindSubstringOffset("grid.asc", ".gif"), 0);
    EXPECT_EQ(FindSubstringOffset("", "x"), 0);
}

TEST(CutSubstring, KeepsLengthPlusOneCharactersFromStart) {
    struct Case {
        std::string text;
        long start, length;
        std::string kept;
    };
    const Case cases[] = {
        {"abcdefg", 1, 3, "bcde"},  {"abcdefg", 0, 0, "a"},      {"abcdefg", 4, 10, "efg"},
        {"abcdefg", 6, 0, "g"},     {"abcdefg", 7, 0, ""},       {"abcdefg", -1, 3, "abcdefg"},
        {"abcdefg", 1, -1, "abcdefg"}, {std::string(3000, 'x') + "yz", 3000, 1, "yz"},
    };
    for (const Case& c : cases) {
        std::string buffer = c.text;
        std::string& result = CutSubstring(buffer, c.start, c.length);
        EXPECT_EQ(&result, &buffer);
        EXPECT_EQ(buffer, c.kept) << c.text << " " << c.start << " " << c.length;
    }
}

}  // namespace

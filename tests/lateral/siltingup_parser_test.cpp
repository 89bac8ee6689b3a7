// The expression parser of the silting-up model: values, precedence, errors
// with their columns, variables and the limits of its input.
#include "lateral/siltingup_parser.h"

#include <gtest/gtest.h>

#include <climits>
#include <string>

namespace {

struct Case {
    const char* text;
    const char* result;  // the exact result text
};

// Every line: one evaluation on a fresh parser with an empty list.
const Case kCases[] = {
    // factorial
    {"3!", "Ans = 6"},
    {"0!", "Ans = 1"},
    {"1!", "Ans = 1"},
    {"(-3)!", "Error: Integer value expected in function factorial (col -1)"},
    {"-3!", "Error: Integer value expected in function factorial (col -1)"},
    {"factorial(-3)", "Error: Integer value expected in function factorial (col 14)"},
    {"factorial(0-3)", "Error: Integer value expected in function factorial (col 15)"},
    {"2.5!", "Error: Integer value expected in function factorial (col -1)"},
    {"FACTORIAL(2.5)", "Error: Integer value expected in function factorial (col 15)"},
    {"factorial(5)", "Ans = 120"},
    {"171!", "Ans = inf"},
    {"2147483647!", "Ans = inf"},
    // powers and unary minus
    {"2^3^2", "Ans = 64"},
    {"-2^2", "Ans = 4"},
    {"2^-1", "Ans = 0.5"},
    {"2--3", "Ans = 5"},
    {"--3", "Error: Value expected (col 2)"},
    {"2^3!", "Ans = 64"},
    {"(3!)^2", "Ans = 36"},
    {"3!^2", "Error: Unknown operator !^ (col 2)"},  // "!^" is one operator token
    {"-sqrt(4)", "Ans = -2"},
    // integer operators
    {"7%3", "Ans = 1"},
    {"-7%3", "Ans = -1"},
    {"7.9%3", "Ans = 1"},
    {"5||3", "Ans = 6"},
    {"5|3", "Ans = 7"},
    {"5&3", "Ans = 1"},
    {"1<<4", "Ans = 16"},
    {"-16>>2", "Ans = -4"},
    {"1<<33", "Ans = 2"},
    {"1<<-1", "Ans = -2.14748e+09"},
    {"10%4*2", "Ans = 4"},
    {"1&2|4", "Ans = 4"},
    {"7%0", "Error: Unknown error (col 4)"},
    {"-2147483648%-1", "Ans = 0"},
    {"5e9&1", "Ans = 0"},           // out of range: -2147483648 & 1
    {"(0/0)|0", "Ans = -2.14748e+09"},  // NaN as integer
    // comparisons
    {"1<2<3", "Ans = 1"},
    {"2=2", "Ans = 1"},
    {"2<>2", "Ans = 0"},
    {"5>3=1", "Ans = 1"},
    {"(0/0)=(0/0)", "Ans = 0"},
    {"(0/0)<>(0/0)", "Ans = 1"},
    // functions and constants
    {"2*PI", "Ans = 6.28319"},
    {"euler", "Ans = 2.71828"},
    {"abs(-3)+sqrt(16)", "Ans = 7"},
    {"log10(1000)", "Ans = 3"},
    {"sign(-2)", "Ans = -1"},
    {"sin (0)", "Ans = 0"},
    {"exp(0)+log(1)+cos(0)+tan(0)+asin(0)+acos(1)+atan(0)", "Ans = 2"},
    // numbers
    // a number is one whole token
    {"1.2.3", "Error: Syntax error in part: 1.2.3 (col 1)"},
    {"2E", "Error: Syntax error in part: 2E (col 1)"},
    {"1e", "Error: Syntax error in part: 1e (col 1)"},
    {"2*1e-", "Error: Syntax error in part: 1e- (col 3)"},
    {"1.5e+2", "Ans = 150"},
    {".", "Error: Syntax error in part: . (col 1)"},
    {".5", "Ans = 0.5"},
    {"5.", "Ans = 5"},
    {"1e400", "Ans = inf"},
    // errors and their columns
    {"", "Error: Empty expression (col 1)"},
    {"   ", "Error: Empty expression (col 4)"},
    {"2+", "Error: Unexpected end of expression (col 3)"},
    {"(2+3", "Error: Parentesis ) missing (col 5)"},
    {"2)", "Error: Unknown operator ) (col 2)"},
    {"2 3", "Error: Unexpected part: 3 (col 3)"},
    {"5 $ 3", "Error: Syntax error in part: $ 3 (col 3)"},
    {"foo(1)", "Error: Unknown function foo (col 7)"},
    {"y", "Error: Unknown variable y (col 1)"},
    {"abs 3", "Error: Unknown variable abs (col 1)"},
    {"sin(", "Error: Unexpected end of expression (col 5)"},
    {"2*+3", "Error: Unknown operator *+ (col 2)"},
    {"3!=2", "Error: Unknown operator != (col 2)"},
    {"sin 3", "Error: Unknown variable sin (col 1)"},
};

TEST(ExpressionParser, TableOfCases) {
    for (const Case& c : kCases) {
        ExpressionParser parser;
        EXPECT_EQ(parser.Parse(c.text), c.result) << "expression: \"" << c.text << "\"";
    }
}

TEST(ExpressionParser, VariablesAssignmentAndAns) {
    VariableList list;
    ExpressionParser parser(list);
    EXPECT_EQ(parser.Parse("x = 5"), "Ans = 5");
    double v = 0;
    ASSERT_TRUE(list.GetValue("X", v));
    EXPECT_EQ(v, 5);
    ASSERT_TRUE(list.GetValue("ans", v));
    EXPECT_EQ(v, 5);
    EXPECT_EQ(parser.Parse("X*2"), "Ans = 10");

    // An "=" after a leading name assigns; every later one compares.
    EXPECT_EQ(parser.Parse("Y = 3"), "Ans = 3");
    EXPECT_EQ(parser.Parse("Z = Y = 3"), "Ans = 1");
    ASSERT_TRUE(list.GetValue("z", v));
    EXPECT_EQ(v, 1);

    // PI can be assigned, but reading it gives the constant.
    EXPECT_EQ(parser.Parse("PI = 3"), "Ans = 3");
    EXPECT_TRUE(list.Exists("pi"));
    EXPECT_EQ(parser.Parse("PI*1000000"), "Ans = 3.14159e+06");

    // After an error Ans keeps the last value; assignments made before the
    // error in the same text stay.
    EXPECT_EQ(parser.Parse("7"), "Ans = 7");
    EXPECT_EQ(parser.Parse("w = 4 + undefinedname"),
              "Error: Unknown variable undefinedname (col 9)");
    ASSERT_TRUE(list.GetValue("Ans", v));
    EXPECT_EQ(v, 7);
    EXPECT_FALSE(list.Exists("w"));
    EXPECT_EQ(parser.Parse("q = 2 3"), "Error: Unexpected part: 3 (col 7)");
    EXPECT_TRUE(list.GetValue("Q", v));
    EXPECT_EQ(v, 2);
}

TEST(ExpressionParser, LongNamesAndTexts) {
    ExpressionParser parser;
    // Names are stored and compared whole, whatever their length.
    const std::string name40(40, 'n');
    EXPECT_EQ(parser.Parse(name40 + " = 2.5"), "Ans = 2.5");
    EXPECT_EQ(parser.Parse(name40 + "*2"), "Ans = 5");
    const std::string name39(39, 'n');
    EXPECT_EQ(parser.Parse(name39), "Error: Unknown variable " + name39 + " (col 1)");

    // 255 characters are evaluated, 256 are refused without a column.
    std::string text255 = "1";
    for (int i = 0; i < 127; ++i) text255 += "+0";
    ASSERT_EQ(text255.size(), 255u);
    EXPECT_EQ(parser.Parse(text255), "Ans = 1");
    EXPECT_EQ(parser.Parse(std::string(256, '1')),
              "Error: Too long expression, maximum number of characters exceeded (col -1)");

    // An unknown character far into a long text: the whole rest is reported.
    const std::string rest = "$" + std::string(60, 'x');
    EXPECT_EQ(parser.Parse("1+" + rest), "Error: Syntax error in part: " + rest + " (col 3)");
}

TEST(ExpressionParser, VariableListOperations) {
    VariableList list;
    EXPECT_TRUE(list.Add("a", 1));
    EXPECT_TRUE(list.Set("B", 2));
    EXPECT_TRUE(list.Set("c", 3));
    EXPECT_TRUE(list.Set("A", 10));  // overwrites, no new entry
    EXPECT_EQ(list.Count(), 3);
    EXPECT_EQ(list.IndexOf("b"), 1);
    EXPECT_EQ(list.IndexOf("d"), -1);

    double v = -1;
    EXPECT_FALSE(list.GetValue("d", v));
    EXPECT_EQ(v, -1);  // untouched
    EXPECT_TRUE(list.GetValueAt(0, v));
    EXPECT_EQ(v, 10);
    EXPECT_FALSE(list.GetValueAt(3, v));
    EXPECT_FALSE(list.GetValueAt(-1, v));

    // Delete moves the last variable into the freed place.
    EXPECT_TRUE(list.Delete("A"));
    EXPECT_FALSE(list.Delete("A"));
    EXPECT_EQ(list.IndexOf("c"), 0);
    EXPECT_EQ(list.IndexOf("b"), 1);
    list.Clear();
    EXPECT_EQ(list.Count(), 0);
    EXPECT_FALSE(list.Exists("b"));
}

TEST(ExpressionParser, IntegerConversion) {
    EXPECT_EQ(ParserToInt(7.9), 7);
    EXPECT_EQ(ParserToInt(-7.9), -7);
    EXPECT_EQ(ParserToInt(2147483647.5), INT_MAX);
    EXPECT_EQ(ParserToInt(2147483648.0), INT_MIN);
    EXPECT_EQ(ParserToInt(-2147483648.9), INT_MIN);
    EXPECT_EQ(ParserToInt(1e300), INT_MIN);
    EXPECT_EQ(ParserToInt(-1.0 / 0.0), INT_MIN);

    // The shift count is taken modulo 32 the mathematical way.
    VariableList list;
    ExpressionParser parser(list);
    parser.Parse("1<<-1");
    double v = 0;
    ASSERT_TRUE(list.GetValue("Ans", v));
    EXPECT_EQ(v, static_cast<double>(INT_MIN));
}

}  // namespace

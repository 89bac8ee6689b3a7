#include "lateral/siltingup_parser.h"

#include <cctype>
#include <charconv>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace {

constexpr size_t kMaxExpression = 255;  // longer texts are error 200

// Error ids.
constexpr int kSyntaxPart = 1;
constexpr int kParenthesis = 3;
constexpr int kEmpty = 4;
constexpr int kUnexpectedPart = 5;
constexpr int kUnexpectedEnd = 6;
constexpr int kValueExpected = 7;
constexpr int kUnknownOperator = 101;
constexpr int kUnknownFunction = 102;
constexpr int kUnknownVariable = 103;
constexpr int kTooLong = 200;
constexpr int kIntegerExpected = 400;
constexpr int kDivisionByZero = 500;  // not in the table: "Unknown error"

bool EqualNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (std::toupper(static_cast<unsigned char>(a[i])) != std::toupper(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}

bool IsBlank(char c) { return c == ' ' || c == '\t'; }
bool IsOperatorChar(char c) {
    for (const char* p = "&|<>=+/*%^!"; *p; ++p)
        if (c == *p) return true;
    return false;
}
bool IsNumberChar(char c) { return (c >= '0' && c <= '9') || c == '.'; }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }
bool IsNameStart(char c) { return std::isalpha(static_cast<unsigned char>(c)) || c == '_'; }
bool IsNameChar(char c) { return IsNameStart(c) || IsDigit(c); }

// The value of a number token, which must be one whole decimal number: a
// token such as ".", "1e" or "1.2.3" is no number (false). A number beyond
// the range of a double is infinite.
bool NumberValue(std::string_view token, double& value) {
    const auto [ptr, ec] = std::from_chars(token.data(), token.data() + token.size(), value,
                                           std::chars_format::general);
    if (ptr != token.data() + token.size()) return false;
    if (ec == std::errc::result_out_of_range) {
        const std::string copy(token);
        value = std::strtod(copy.c_str(), nullptr);
        return true;
    }
    return ec == std::errc();
}

// x! for an integral x, in double: n (n-1) ... 2, and 1 for a product of 0.
// The product stops growing once it is infinite.
double Factorial(int n) {
    double result = n;
    if (n > 2)
        for (int k = n - 1; k >= 2 && std::isfinite(result); --k) result *= k;
    return result == 0.0 ? 1.0 : result;
}

// Operator ids and the level that owns them.
struct OperatorEntry {
    const char* token;
    int level;
};
constexpr OperatorEntry kOperators[] = {
    {"&", 1},  {"|", 1},  {"<<", 1}, {">>", 1}, {"=", 2},  {"<>", 2}, {"<", 2},  {">", 2},  {"<=", 2},
    {">=", 2}, {"+", 3},  {"-", 3},  {"*", 4},  {"/", 4},  {"%", 4},  {"||", 4}, {"^", 5},  {"!", 6},
};

}  // namespace

const char* ParserErrorText(int id) {
    switch (id) {
    case 1: return "Syntax error in part: ";
    case 2: return "Syntax error";
    case 3: return "Parentesis ) missing";
    case 4: return "Empty expression";
    case 5: return "Unexpected part: ";
    case 6: return "Unexpected end of expression";
    case 7: return "Value expected";
    case 101: return "Unknown operator ";
    case 102: return "Unknown function ";
    case 103: return "Unknown variable ";
    case 200: return "Too long expression, maximum number of characters exceeded";
    case 300: return "Defining variable failed";
    case 400: return "Integer value expected in function ";
    default: return "Unknown error";
    }
}

Error::Error(int column_, int id_) : column(column_), id(id_), message(ParserErrorText(id_)) {}
Error::Error(int column_, int id_, std::string_view text)
    : column(column_), id(id_), message(ParserErrorText(id_)) {
    message.append(text);
}

int ParserToInt(double x) {
    const double t = std::trunc(x);
    if (!(t >= -2147483648.0 && t <= 2147483647.0)) return INT_MIN;
    return static_cast<int>(t);
}

// ---------------------------------------------------------------- variables

int VariableList::IndexOf(std::string_view name) const {
    for (size_t i = 0; i < Items.size(); ++i)
        if (EqualNoCase(Items[i].name, name)) return static_cast<int>(i);
    return -1;
}

bool VariableList::Set(std::string_view name, double value) {
    const int i = IndexOf(name);
    if (i >= 0) {
        Items[static_cast<size_t>(i)].value = value;
    } else {
        Items.push_back(ParserVariable{std::string(name), value});
    }
    return true;
}

bool VariableList::GetValue(std::string_view name, double& value) const {
    const int i = IndexOf(name);
    if (i < 0) return false;
    value = Items[static_cast<size_t>(i)].value;
    return true;
}

bool VariableList::Delete(std::string_view name) {
    const int i = IndexOf(name);
    if (i < 0) return false;
    if (static_cast<size_t>(i) + 1 != Items.size()) Items[static_cast<size_t>(i)] = std::move(Items.back());
    Items.pop_back();
    return true;
}

bool VariableList::GetValueAt(int index, double& value) const {
    if (index < 0 || index >= Count()) return false;
    value = Items[static_cast<size_t>(index)].value;
    return true;
}

// ---------------------------------------------------------------- parser

ExpressionParser::ExpressionParser() : Vars(&Own) {}
ExpressionParser::ExpressionParser(VariableList& variables) : Vars(&variables) {}

void ExpressionParser::GetToken() {
    Token = std::string_view();
    TokenKind = -1;
    const size_t n = Expression.size();
    while (Pos < n && IsBlank(Expression[Pos])) ++Pos;
    const char* text = Expression.data();
    if (Pos >= n) {
        TokenKind = 0;
        Token = std::string_view(text + n, 0);
        return;
    }
    const size_t start = Pos;
    const char c = Expression[Pos];
    if (c == '-' || c == '(' || c == ')') {
        ++Pos;
        TokenKind = 0;
    } else if (IsOperatorChar(c)) {
        while (Pos < n && IsOperatorChar(Expression[Pos])) ++Pos;
        TokenKind = 0;
    } else if (IsNumberChar(c)) {
        while (Pos < n && IsNumberChar(Expression[Pos])) ++Pos;
        if (Pos < n && (Expression[Pos] == 'E' || Expression[Pos] == 'e')) {
            ++Pos;
            if (Pos < n && (Expression[Pos] == '+' || Expression[Pos] == '-')) ++Pos;
            while (Pos < n && IsDigit(Expression[Pos])) ++Pos;
        }
        TokenKind = 1;
    } else if (IsNameStart(c)) {
        while (Pos < n && IsNameChar(Expression[Pos])) ++Pos;
        size_t look = Pos;
        while (look < n && IsBlank(Expression[look])) ++look;
        TokenKind = (look < n && Expression[look] == '(') ? 3 : 2;
    } else {
        Pos = n;
        TokenKind = 4;
        Token = std::string_view(text + start, n - start);
        throw Error(GetColumn(), kSyntaxPart, Token);
    }
    Token = std::string_view(text + start, Pos - start);
}

int ExpressionParser::GetColumn() const {
    return static_cast<int>(Pos) - static_cast<int>(Token.size()) + 1;
}

int ExpressionParser::GetOperatorId() const {
    if (TokenKind != 0) return -1;
    for (int i = 0; i < static_cast<int>(std::size(kOperators)); ++i)
        if (Token == kOperators[i].token) return i;
    return -1;
}

const std::string& ExpressionParser::Parse(std::string_view text) {
    try {
        if (text.size() > kMaxExpression) throw Error(-1, kTooLong);
        Expression.assign(text.data(), text.size());
        Pos = 0;
        Answer = 0.0;
        GetToken();
        if (TokenKind == 0 && Token.empty()) throw Error(GetColumn(), kEmpty);
        Answer = ParseAssignment();
        if (TokenKind != 0) throw Error(GetColumn(), kUnexpectedPart, Token);
        if (!Token.empty()) throw Error(GetColumn(), kUnknownOperator, Token);
        Vars->Set("Ans", Answer);
        char line[64];
        std::snprintf(line, sizeof line, "Ans = %g", Answer);
        Result.assign(line);
    } catch (const Error& e) {
        char column[32];
        std::snprintf(column, sizeof column, " (col %i)", e.column);
        Result.assign("Error: ");
        Result.append(e.message);
        Result.append(column);
    }
    return Result;
}

double ExpressionParser::ParseAssignment() {
    if (TokenKind == 2) {
        const size_t savedPos = Pos;
        const std::string_view name = Token;
        GetToken();
        if (TokenKind == 0 && Token == "=") {
            GetToken();
            const double value = ParseBitwise();
            Vars->Set(name, value);
            return value;
        }
        Pos = savedPos;
        Token = name;
        TokenKind = 2;
    }
    return ParseBitwise();
}

double ExpressionParser::ParseBitwise() {
    double value = ParseComparison();
    for (int op = GetOperatorId(); op >= 0 && op <= 3; op = GetOperatorId()) {
        GetToken();
        const double right = ParseComparison();
        const int a = ParserToInt(value);
        const int b = ParserToInt(right);
        const unsigned shift = static_cast<unsigned>(b) & 31u;
        switch (op) {
        case 0: value = a & b; break;
        case 1: value = a | b; break;
        case 2: value = static_cast<int32_t>(static_cast<uint32_t>(a) << shift); break;
        default: value = a >> shift; break;
        }
    }
    return value;
}

double ExpressionParser::ParseComparison() {
    double value = ParseAddSub();
    for (int op = GetOperatorId(); op >= 4 && op <= 9; op = GetOperatorId()) {
        GetToken();
        const double right = ParseAddSub();
        bool r = false;
        switch (op) {
        case 4: r = value == right; break;
        case 5: r = value != right; break;
        case 6: r = value < right; break;
        case 7: r = value > right; break;
        case 8: r = value <= right; break;
        default: r = value >= right; break;
        }
        value = r ? 1.0 : 0.0;
    }
    return value;
}

double ExpressionParser::ParseAddSub() {
    double value = ParseMulDiv();
    for (int op = GetOperatorId(); op == 10 || op == 11; op = GetOperatorId()) {
        GetToken();
        const double right = ParseMulDiv();
        value = op == 10 ? value + right : value - right;
    }
    return value;
}

double ExpressionParser::ParseMulDiv() {
    double value = ParsePower();
    for (int op = GetOperatorId(); op >= 12 && op <= 15; op = GetOperatorId()) {
        GetToken();
        const double right = ParsePower();
        if (op == 12) {
            value *= right;
        } else if (op == 13) {
            value /= right;
        } else {
            const int a = ParserToInt(value);
            const int b = ParserToInt(right);
            if (op == 15) {
                value = a ^ b;
            } else if (b == 0) {
                // An integer remainder by zero has no value.
                throw Error(GetColumn(), kDivisionByZero);
            } else {
                value = (b == -1) ? 0 : a % b;
            }
        }
    }
    return value;
}

double ExpressionParser::ParsePower() {
    double value = ParseFactorial();
    while (GetOperatorId() == 16) {
        GetToken();
        value = std::pow(value, ParseFactorial());
    }
    return value;
}

double ExpressionParser::ParseFactorial() {
    double value = ParseUnary();
    while (GetOperatorId() == 17) {
        GetToken();
        const int n = ParserToInt(value);
        // The factorial is defined for the whole numbers from 0 on.
        if (!(value == n) || n < 0) throw Error(-1, kIntegerExpected, "factorial");
        value = Factorial(n);
    }
    return value;
}

double ExpressionParser::ParseUnary() {
    if (TokenKind == 0 && Token == "-") {
        GetToken();
        if (TokenKind == 3) return -ParseFunctionCall();
        return -ParseValue();
    }
    if (TokenKind == 3) return ParseFunctionCall();
    return ParseValue();
}

double ExpressionParser::ParseFunctionCall() {
    const std::string_view name = Token;
    GetToken();
    const double argument = ParseValue();
    return EvalFunction(name, argument);
}

double ExpressionParser::ParseValue() {
    if (TokenKind == 0 && Token == "(") {
        GetToken();
        const double value = ParseBitwise();
        if (!(TokenKind == 0 && Token == ")")) throw Error(GetColumn(), kParenthesis);
        GetToken();
        return value;
    }
    if (TokenKind == 1) {
        double value = 0.0;
        if (!NumberValue(Token, value)) throw Error(GetColumn(), kSyntaxPart, Token);
        GetToken();
        return value;
    }
    if (TokenKind == 2) {
        const double value = EvalVariable();
        GetToken();
        return value;
    }
    if (Token.empty()) throw Error(GetColumn(), kUnexpectedEnd);
    throw Error(GetColumn(), kValueExpected);
}

double ExpressionParser::EvalVariable() const {
    if (EqualNoCase(Token, "EULER")) return 2.718281828459045;
    if (EqualNoCase(Token, "PI")) return 3.141592653589793;
    double value = 0.0;
    if (!Vars->GetValue(Token, value)) throw Error(GetColumn(), kUnknownVariable, Token);
    return value;
}

double ExpressionParser::EvalFunction(std::string_view name, double x) const {
    if (EqualNoCase(name, "ABS")) return std::fabs(x);
    if (EqualNoCase(name, "EXP")) return std::exp(x);
    if (EqualNoCase(name, "SIGN")) return x > 0 ? 1.0 : (x < 0 ? -1.0 : 0.0);
    if (EqualNoCase(name, "SQRT")) return std::sqrt(x);
    if (EqualNoCase(name, "LOG")) return std::log(x);
    if (EqualNoCase(name, "LOG10")) return std::log10(x);
    if (EqualNoCase(name, "SIN")) return std::sin(x);
    if (EqualNoCase(name, "COS")) return std::cos(x);
    if (EqualNoCase(name, "TAN")) return std::tan(x);
    if (EqualNoCase(name, "ASIN")) return std::asin(x);
    if (EqualNoCase(name, "ACOS")) return std::acos(x);
    if (EqualNoCase(name, "ATAN")) return std::atan(x);
    if (EqualNoCase(name, "FACTORIAL")) {
        const int n = ParserToInt(x);
        if (!(x == n) || n < 0) throw Error(GetColumn(), kIntegerExpected, "factorial");
        return Factorial(n);
    }
    throw Error(GetColumn(), kUnknownFunction, name);
}

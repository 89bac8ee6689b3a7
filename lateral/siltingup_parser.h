#pragma once
// A small calculator for one-line expressions with named variables, used by
// the silting-up model to evaluate the user's infiltration formulas in every
// cell and step. It evaluates while it reads (recursive descent); errors never
// leave Parse but come back as a result text beginning with "Error:".

#include <string>
#include <string_view>
#include <vector>

struct ParserVariable {
    std::string name;  // stored whole; compared without regard to letter case
    double value = 0.0;
};

// Variables in order of insertion, searched linearly.
class VariableList {
public:
    bool Set(std::string_view name, double value);
    bool Add(std::string_view name, double value) { return Set(name, value); }
    bool GetValue(std::string_view name, double& value) const;
    void Clear() { Items.clear(); }
    bool Exists(std::string_view name) const { return IndexOf(name) >= 0; }
    bool Delete(std::string_view name);
    bool GetValueAt(int index, double& value) const;
    int IndexOf(std::string_view name) const;
    int Count() const { return static_cast<int>(Items.size()); }

private:
    std::vector<ParserVariable> Items;
};

// The parser's exception: 1-based column of the offending token (-1 when
// unknown), error id and message.
struct Error {
    Error(int column, int id);
    Error(int column, int id, std::string_view text);
    int column;
    int id;
    std::string message;
};

// The message text of an error id ("Unknown error" for ids not in the table).
const char* ParserErrorText(int id);

// An integer as the parser's bitwise and remainder operators see a double:
// truncated toward zero; NaN and values outside the 32-bit range give
// -2147483648.
int ParserToInt(double x);

class ExpressionParser {
public:
    // With no list the parser keeps one of its own; a list handed in stays
    // owned by the caller and must outlive the parser.
    ExpressionParser();
    explicit ExpressionParser(VariableList& variables);
    ExpressionParser(const ExpressionParser&) = delete;
    ExpressionParser& operator=(const ExpressionParser&) = delete;

    // Evaluates one expression: "Ans = %g" with the value, or
    // "Error: %s (col %i)". The text stays valid until the next call.
    const std::string& Parse(std::string_view text);

    VariableList& Variables() { return *Vars; }

private:
    void GetToken();
    int GetColumn() const;
    int GetOperatorId() const;
    double ParseAssignment();
    double ParseBitwise();
    double ParseComparison();
    double ParseAddSub();
    double ParseMulDiv();
    double ParsePower();
    double ParseFactorial();
    double ParseUnary();
    double ParseValue();
    double ParseFunctionCall();
    double EvalVariable() const;
    double EvalFunction(std::string_view name, double x) const;

    std::string Expression;
    size_t Pos = std::string::npos;  // first character not yet read
    std::string_view Token;          // a slice of Expression
    int TokenKind = -1;
    double Answer = 0.0;
    std::string Result;
    VariableList Own;
    VariableList* Vars;
};

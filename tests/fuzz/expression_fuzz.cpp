// The expression parser on any text: every evaluation ends with a result
// text, either "Ans = " and a value or "Error: " and a message.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "lateral/siltingup_parser.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string input(reinterpret_cast<const char*>(data), size);
    VariableList variables;
    const char* names[] = {"A", "B", "C", "D", "E", "F", "G", "H", "I", "J", "K", "L", "M", "N", "O", "P", "Q", "R"};
    double value = 0.5;
    for (const char* name : names) variables.Set(name, value += 1.25);
    ExpressionParser parser(variables);
    // Expressions separated by ";" share the list, as a cell's list does.
    size_t start = 0;
    while (start <= input.size()) {
        size_t end = input.find(';', start);
        if (end == std::string::npos) end = input.size();
        const std::string& result = parser.Parse(input.substr(start, end - start));
        if (result.rfind("Ans = ", 0) != 0 && result.rfind("Error: ", 0) != 0) std::abort();
        start = end + 1;
    }
    return 0;
}

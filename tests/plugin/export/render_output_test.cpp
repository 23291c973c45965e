// The seam's list of operations: the arguments an implementation passes on are the parameters,
// in order, for every operation.
#include <cctype>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "plugin/export/render_output.h"

namespace orvanta {
namespace {

struct ListedOperation {
    const char* name;
    const char* parameters;  // as written in the list, parentheses included
    const char* arguments;
};

#define ORVANTA_LIST_OPERATION(result, name, parameters, arguments, qualifier) \
    {#name, #parameters, #arguments},
const ListedOperation kListedOperations[] = {
    ORVANTA_RENDER_OUTPUT_OPERATIONS(ORVANTA_LIST_OPERATION)};
#undef ORVANTA_LIST_OPERATION

// The comma-separated items between the outer parentheses, surrounding blanks removed.
std::vector<std::string> items(const std::string& list) {
    std::vector<std::string> found;
    const std::string inner = list.substr(1, list.size() - 2);
    std::string item;
    for (const char c : inner + ",") {
        if (c != ',') {
            item += c;
            continue;
        }
        const auto first = item.find_first_not_of(' ');
        if (first != std::string::npos)
            found.push_back(item.substr(first, item.find_last_not_of(' ') - first + 1));
        item.clear();
    }
    return found;
}

// The name a parameter declares: its last identifier.
std::string declaredName(const std::string& parameter) {
    std::size_t end = parameter.size();
    std::size_t start = end;
    while (start > 0 && (std::isalnum(static_cast<unsigned char>(parameter[start - 1])) ||
                         parameter[start - 1] == '_'))
        --start;
    return parameter.substr(start, end - start);
}

TEST(RenderOutputList, ItemsAndDeclaredNamesAreReadAsWritten) {
    EXPECT_EQ(items("(const char* a, int  b )"),
              (std::vector<std::string>{"const char* a", "int  b"}));
    EXPECT_TRUE(items("()").empty());
    EXPECT_EQ(declaredName("const float* firstVector"), "firstVector");
}

TEST(RenderOutputList, EveryOperationPassesOnItsParametersInOrder) {
    for (const ListedOperation& operation : kListedOperations) {
        SCOPED_TRACE(operation.name);
        std::vector<std::string> declared;
        for (const std::string& parameter : items(operation.parameters))
            declared.push_back(declaredName(parameter));
        EXPECT_EQ(items(operation.arguments), declared);
    }
}

}  // namespace
}  // namespace orvanta

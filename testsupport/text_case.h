// A row of the tests' tables that map a text to the text expected from it.
#pragma once

namespace testing_support {

struct TextCase {
    const char* given;
    const char* expected;
};

}  // namespace testing_support

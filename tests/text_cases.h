// Tables of text in, text out for functions of one string: one row a case,
// and a failing row names its input.
#pragma once

#include <gtest/gtest.h>

#include <initializer_list>
#include <string>

namespace test_tables {

struct TextCase {
  std::string input;
  std::string expected;
};

// Checks function(input) == expected for every row of `cases` (an array or
// any range of TextCase).
template <typename Function, typename Cases>
void ExpectEach(Function function, const Cases& cases) {
  for (const TextCase& c : cases) {
    EXPECT_EQ(c.expected, function(c.input)) << "for the input \"" << c.input << '"';
  }
}

}  // namespace test_tables

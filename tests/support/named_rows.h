#pragma once
// Rows of the table-driven tests: each carries a name that becomes the test's
// name in CTest and in failure messages.
#include <gtest/gtest.h>

#include <ostream>
#include <string>

namespace brevan {

// The common row: a named input and the text it must give.
struct Row {
  const char* name;
  std::string input;
  std::string expected;
};

inline void PrintTo(const Row& row, std::ostream* os) { *os << row.name; }

// For INSTANTIATE_TEST_SUITE_P: names each instance after its row.
template <class R>
std::string RowName(const ::testing::TestParamInfo<R>& info) {
  return info.param.name;
}

}  // namespace brevan

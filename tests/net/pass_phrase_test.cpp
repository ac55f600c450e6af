#include <gtest/gtest.h>

#include <ostream>
#include <string>

#include "net/tls_intercept.h"

namespace brevan {
namespace {

struct PhraseRow {
  const char* name;
  int size;  // what OpenSSL offers
  int copied;
};

void PrintTo(const PhraseRow& row, std::ostream* os) { *os << row.name; }

class PassPhrase : public ::testing::TestWithParam<PhraseRow> {};

// Never a byte past the buffer OpenSSL offers.
TEST_P(PassPhrase, CopiesAtMostTheBuffer) {
  const PhraseRow& row = GetParam();
  std::string buf(16, '#');
  EXPECT_EQ(CopyPassPhrase("9057", buf.data() + 4, row.size), row.copied);
  EXPECT_EQ(buf, std::string(4, '#') + std::string("9057").substr(0, row.copied) + std::string(12 - row.copied, '#'));
}

INSTANTIATE_TEST_SUITE_P(Sizes, PassPhrase,
                         ::testing::Values(PhraseRow{"roomy", 8, 4}, PhraseRow{"exact", 4, 4}, PhraseRow{"short", 2, 2},
                                           PhraseRow{"none", 0, 0}, PhraseRow{"negative", -1, 0}),
                         [](const ::testing::TestParamInfo<PhraseRow>& info) { return std::string(info.param.name); });

TEST(PassPhraseAnswer, IsTheFixedFourDigits) {
  TIdConnectionInterceptOpenSSL tls;
  EXPECT_EQ(tls.OnGetPassword(), "9057");
}

}  // namespace
}  // namespace brevan

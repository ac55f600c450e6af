#include "demo/demo_account.h"
#include "demo/demo_mailbox.h"

#include "accounts/account_store.h"
#include "common/file_io.h"
#include "common/text_lines.h"
#include "decode/header_decoder.h"
#include "filter/obfuscated.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <ostream>
#include <set>

namespace brevan {
namespace {

using Lines = std::vector<std::string>;

struct DemoLineRow {
  const char* name;
  Lines before;
  int port;
  Lines after;
  bool changed;
};
void PrintTo(const DemoLineRow& r, std::ostream* os) { *os << r.name; }

class DemoAccountLineTest : public testing::TestWithParam<DemoLineRow> {};

TEST_P(DemoAccountLineTest, KeepsOneCurrentLineAndLeavesTheRest) {
  const DemoLineRow& r = GetParam();
  Lines lines = r.before;
  EXPECT_EQ(UpdateDemoAccountLine(lines, r.port), r.changed);
  EXPECT_EQ(lines, r.after);
}

const char kOwn[] = "pop.example.com;995;alice;c2VjcmV0";
const char kOwnLocal[] = "127.0.0.1;110;demo;ZGVtbw==";  // not a demo port: the user's own
const char kOwnLocalUser[] = "127.0.0.1;11110;bob;cHc=";  // demo port, other user

INSTANTIATE_TEST_SUITE_P(
    Lines, DemoAccountLineTest,
    testing::Values(
        DemoLineRow{"empty_file_gets_the_line", {}, 11110, {"127.0.0.1;11110;demo;ZGVtbw=="}, true},
        DemoLineRow{"appended_after_own_lines", {kOwn, ""}, 11111,
                    {kOwn, "", "127.0.0.1;11111;demo;ZGVtbw=="}, true},
        DemoLineRow{"current_line_is_left_alone", {kOwn, "127.0.0.1;11112;demo;ZGVtbw=="}, 11112,
                    {kOwn, "127.0.0.1;11112;demo;ZGVtbw=="}, false},
        DemoLineRow{"port_updated_in_place",
                    {"127.0.0.1;11110;demo;ZGVtbw==", kOwn}, 11113,
                    {"127.0.0.1;11113;demo;ZGVtbw==", kOwn}, true},
        DemoLineRow{"edited_password_restored", {"127.0.0.1;11110;demo;"}, 11110,
                    {"127.0.0.1;11110;demo;ZGVtbw=="}, true},
        DemoLineRow{"duplicates_dropped",
                    {"127.0.0.1;11110;demo;ZGVtbw==", kOwn, "127.0.0.1;11119;demo;ZGVtbw=="}, 11114,
                    {"127.0.0.1;11114;demo;ZGVtbw==", kOwn}, true},
        DemoLineRow{"own_local_accounts_untouched", {kOwnLocal, kOwnLocalUser}, 11110,
                    {kOwnLocal, kOwnLocalUser, "127.0.0.1;11110;demo;ZGVtbw=="}, true},
        DemoLineRow{"port_text_must_be_a_number", {"127.0.0.1;1111x;demo;ZGVtbw=="}, 11110,
                    {"127.0.0.1;1111x;demo;ZGVtbw==", "127.0.0.1;11110;demo;ZGVtbw=="}, true}),
    [](const testing::TestParamInfo<DemoLineRow>& i) { return std::string(i.param.name); });

class DemoAccountFile : public testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/brevan_demo_acc_XXXXXX";
    ASSERT_NE(::mkdtemp(tmpl), nullptr);
    dir_ = tmpl;
    path_ = dir_ + "/brevan.ini";
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }
  std::string dir_, path_;
};

TEST_F(DemoAccountFile, CreatedOwnerOnlyAndOwnLinesKeptByteForByte) {
  ASSERT_TRUE(UpdateDemoAccountFile(path_, 11115));
  std::string bytes;
  ASSERT_TRUE(ReadWholeFile(path_, bytes));
  EXPECT_EQ(bytes, "127.0.0.1;11115;demo;ZGVtbw==\r\n");
  struct stat st{};
  ASSERT_EQ(::stat(path_.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0600u);

  ASSERT_TRUE(WriteFileAtomic(path_, "pop.example.org;110;u;cHc=\r\n\r\n127.0.0.1;11115;demo;ZGVtbw==\r\n", 0600));
  ASSERT_TRUE(UpdateDemoAccountFile(path_, 11116));
  ASSERT_TRUE(ReadWholeFile(path_, bytes));
  EXPECT_EQ(bytes, "pop.example.org;110;u;cHc=\r\n\r\n127.0.0.1;11116;demo;ZGVtbw==\r\n");
}

TEST_F(DemoAccountFile, UnreadableFileIsLeftAlone) {
  ASSERT_EQ(::mkdir(path_.c_str(), 0700), 0);
  EXPECT_FALSE(UpdateDemoAccountFile(path_, 11110));
  EXPECT_TRUE(DirectoryExists(path_));
}

TEST(DemoMessages, EveryFileIsAMessageWithCrLfLineEnds) {
  Lines messages;
  ASSERT_TRUE(LoadDemoMessages(BREVAN_SOURCE_DIR "/demo/messages", messages));
  EXPECT_GE(messages.size(), 25u);
  size_t large = 0;
  for (const auto& m : messages) {
    ASSERT_GE(m.size(), 2u);
    EXPECT_EQ(m.substr(m.size() - 2), "\r\n");
    for (size_t i = 0; i < m.size(); ++i) {
      if (m[i] == '\n') {
        ASSERT_TRUE(i > 0 && m[i - 1] == '\r') << "bare LF at " << i;
      }
      if (m[i] == '\r') {
        ASSERT_TRUE(i + 1 < m.size() && m[i + 1] == '\n') << "bare CR at " << i;
      }
    }
    EXPECT_NE(m.find("\r\nSubject:"), std::string::npos);
    EXPECT_NE(m.find("\r\n\r\n"), std::string::npos);  // headers end
    if (m.size() > 200 * 1024) ++large;
  }
  EXPECT_GE(large, 1u);
}

TEST(DemoMessages, BareLineEndsAreMadeCrLf) {
  char tmpl[] = "/tmp/brevan_demo_msg_XXXXXX";
  ASSERT_NE(::mkdtemp(tmpl), nullptr);
  std::string dir = tmpl;
  ASSERT_TRUE(WriteFileAtomic(dir + "/b.eml", "Subject: b\n\nbody\n"));
  ASSERT_TRUE(WriteFileAtomic(dir + "/a.eml", "Subject: a\r\n\r\nx\ry\r\n"));
  ASSERT_TRUE(WriteFileAtomic(dir + "/notes.txt", "not a message\n"));
  Lines messages;
  EXPECT_TRUE(LoadDemoMessages(dir, messages));
  EXPECT_EQ(messages, (Lines{"Subject: a\r\n\r\nx\r\ny\r\n", "Subject: b\r\n\r\nbody\r\n"}));
  std::filesystem::remove_all(dir);
  EXPECT_FALSE(LoadDemoMessages(dir, messages));
}

// The demo shows the main job at once: its junk is caught by the built-in
// disguised-word test alone, and nothing else is.
TEST(DemoMessages, JunkIsExactlyTheDisguisedSubjects) {
  Lines messages;
  ASSERT_TRUE(LoadDemoMessages(BREVAN_SOURCE_DIR "/demo/messages", messages));
  const std::set<size_t> junk = {11, 12, 13, 14, 15, 16, 17};  // message numbers
  for (size_t n = 1; n <= messages.size(); ++n) {
    // The Subject value, unfolded (RFC 5322 section 2.2.3).
    std::string subject;
    bool in = false;
    for (const auto& line : SplitTextLines(messages[n - 1])) {
      if (line.empty()) break;
      if (in && (line[0] == ' ' || line[0] == '\t')) {
        subject += line;
        continue;
      }
      in = line.rfind("Subject:", 0) == 0;
      if (in) subject = line.substr(8);
    }
    std::string shown = CleanSubjectText(DecodeHeaderText(subject));
    EXPECT_EQ(shown.find("=?"), std::string::npos) << "message " << n << ": " << shown;
    EXPECT_EQ(IsObfuscatedSubject(shown), junk.count(n) == 1) << "message " << n << ": " << shown;
  }
}

}  // namespace
}  // namespace brevan

#include "accounts/cert_store.h"

#include "common/file_io.h"
#include "common/text_lines.h"
#include "tests/support/named_rows.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <optional>
#include <ostream>

namespace brevan {
namespace {

using Lines = std::vector<std::string>;

const std::string kOld = "AA:BB:CC";
const std::string kNew = "11:22:33";

// ---------------------------------------------------------------- look-up

struct LookupRow {
  const char* name;
  Lines lines;
  std::string server;
  int port;
  std::string want;
};
void PrintTo(const LookupRow& r, std::ostream* os) { *os << r.name; }

class CertLookupTest : public testing::TestWithParam<LookupRow> {};

TEST_P(CertLookupTest, FindsTheServersLine) {
  const LookupRow& r = GetParam();
  EXPECT_EQ(RememberedFingerprint(r.lines, r.server, r.port), r.want);
}

INSTANTIATE_TEST_SUITE_P(
    Lines, CertLookupTest,
    testing::Values(
        LookupRow{"exact", {"pop.example.com;995;" + kOld}, "pop.example.com", 995, kOld},
        LookupRow{"none", {}, "pop.example.com", 995, ""},
        LookupRow{"other_port", {"pop.example.com;996;" + kOld}, "pop.example.com", 995, ""},
        LookupRow{"server_case_folded", {"POP.Example.COM;995;" + kOld}, "pop.example.com", 995, kOld},
        // A server name inside a longer one is another server (unlike the
        // account file's substring key).
        LookupRow{"suffix_is_another_server", {"mail.pop.example.com;995;" + kOld}, "pop.example.com", 995, ""},
        LookupRow{"first_of_two", {"h;995;" + kOld, "h;995;" + kNew}, "h", 995, kOld},
        LookupRow{"odd_lines_skipped",
                  {"", "garbage", "h;995", "h;995;", ";995;" + kNew, "h;;" + kNew, "h;995;" + kNew + ";more",
                   "h;995;" + kOld},
                  "h", 995, kOld},
        LookupRow{"port_with_leading_zero_is_other_text", {"h;0995;" + kOld}, "h", 995, ""}),
    RowName<LookupRow>);

TEST(CertRemember, ReplacesTheFirstLineDropsLaterOnesKeepsOddLines) {
  Lines lines = {"garbage", "h;995;" + kOld, "other;995;" + kOld, "H;995;" + kOld, ""};
  RememberFingerprint(lines, "h", 995, kNew);
  EXPECT_EQ(lines, (Lines{"garbage", "h;995;" + kNew, "other;995;" + kOld, ""}));
}

TEST(CertRemember, AppendsANewServer) {
  Lines lines = {"other;995;" + kOld};
  RememberFingerprint(lines, "h", 995, kNew);
  EXPECT_EQ(lines, (Lines{"other;995;" + kOld, "h;995;" + kNew}));
}

// ---------------------------------------------------------------- seen with TLS

struct SeenRow {
  const char* name;
  Lines lines;
  int port;
  bool seen;
};
void PrintTo(const SeenRow& r, std::ostream* os) { *os << r.name; }

class SeenWithTlsTest : public testing::TestWithParam<SeenRow> {};

TEST_P(SeenWithTlsTest, CertificateOrMarkOfThatServerAndPort) {
  const SeenRow& r = GetParam();
  EXPECT_EQ(SeenWithTls(r.lines, "h", r.port), r.seen);
}

INSTANTIATE_TEST_SUITE_P(
    Lines, SeenWithTlsTest,
    testing::Values(SeenRow{"remembered_certificate", {"h;110;" + kOld}, 110, true},
                    SeenRow{"mark_of_a_verified_server", {"h;110;"}, 110, true},
                    SeenRow{"server_case_folded", {"H;110;"}, 110, true},
                    SeenRow{"other_port", {"h;995;" + kOld, "h;995;"}, 110, false},
                    SeenRow{"suffix_is_another_server", {"mail.h;110;"}, 110, false},
                    SeenRow{"four_fields_are_no_line_of_ours", {"h;110;" + kOld + ";x"}, 110, false},
                    SeenRow{"nothing", {"", "garbage"}, 110, false}),
    RowName<SeenRow>);

TEST(SeenWithTlsMark, AddedOnceLeftAloneByTheCertificateLines) {
  Lines lines = {"other;995;" + kOld};
  RememberSeenWithTls(lines, "h", 110);
  RememberSeenWithTls(lines, "H", 110);
  EXPECT_EQ(lines, (Lines{"other;995;" + kOld, "h;110;"}));
  // The mark is no certificate: trust on first use still remembers one.
  EXPECT_EQ(RememberedFingerprint(lines, "h", 110), "");
  RememberFingerprint(lines, "h", 110, kNew);
  EXPECT_EQ(lines, (Lines{"other;995;" + kOld, "h;110;", "h;110;" + kNew}));
  RememberSeenWithTls(lines, "other", 995);
  EXPECT_EQ(lines.size(), 3u) << "a remembered certificate is mark enough";
}

// ---------------------------------------------------------------- decision

class ServerTrustTest : public testing::Test {
 protected:
  void SetUp() override {
    dir_ = std::filesystem::temp_directory_path() /
           ("brevan_certs_" + std::to_string(::getpid()) + "_" +
            testing::UnitTest::GetInstance()->current_test_info()->name());
    std::filesystem::remove_all(dir_);
    std::filesystem::create_directories(dir_);
    path_ = (dir_ / kCertFileName).string();
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }

  void Write(const std::string& bytes) { ASSERT_TRUE(WriteFileAtomic(path_, bytes, 0600)); }
  std::string Read() {
    std::string bytes;
    EXPECT_TRUE(ReadWholeFile(path_, bytes));
    return bytes;
  }

  // Decides with a scripted answer; records what was asked.
  ServerTrust Decide(const std::string& server, bool verified, const std::string& fingerprint,
                     std::optional<bool> answer) {
    asked_ = false;
    return DecideServerTrust(path_, server, 995, verified, fingerprint,
                             [&](const std::string& remembered, const std::string& presented) {
                               asked_ = true;
                               askedRemembered_ = remembered;
                               askedPresented_ = presented;
                               EXPECT_TRUE(answer.has_value()) << "asked without an answer scripted";
                               return answer.value_or(false);
                             });
  }

  std::filesystem::path dir_;
  std::string path_;
  bool asked_ = false;
  std::string askedRemembered_, askedPresented_;
};

TEST_F(ServerTrustTest, VerifiedChainNeitherAsksNorWrites) {
  EXPECT_EQ(Decide("h", true, kNew, std::nullopt), ServerTrust::Verified);
  EXPECT_FALSE(asked_);
  EXPECT_FALSE(FileExists(path_));
}

TEST_F(ServerTrustTest, FirstUseRemembersOwnerOnly) {
  EXPECT_EQ(Decide("h", false, kNew, std::nullopt), ServerTrust::FirstUse);
  EXPECT_FALSE(asked_);
  EXPECT_EQ(Read(), "h;995;" + kNew + "\r\n");
  struct stat st {};
  ASSERT_EQ(::stat(path_.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  // The second connection finds it.
  EXPECT_EQ(Decide("h", false, kNew, std::nullopt), ServerTrust::Known);
  EXPECT_FALSE(asked_);
}

TEST_F(ServerTrustTest, ChangedCertificateAskedAndRefusedLeavesTheFile) {
  Write("h;995;" + kOld + "\r\n");
  EXPECT_EQ(Decide("h", false, kNew, false), ServerTrust::Refused);
  EXPECT_TRUE(asked_);
  EXPECT_EQ(askedRemembered_, kOld);
  EXPECT_EQ(askedPresented_, kNew);
  EXPECT_EQ(Read(), "h;995;" + kOld + "\r\n");
  // Refusing does not make it known: the next connection asks again.
  EXPECT_EQ(Decide("h", false, kNew, false), ServerTrust::Refused);
  EXPECT_TRUE(asked_);
}

TEST_F(ServerTrustTest, ChangedCertificateAcceptedReplacesTheRememberedOne) {
  Write("garbage line\r\nh;995;" + kOld + "\r\nother;110;" + kOld + "\r\n");
  EXPECT_EQ(Decide("h", false, kNew, true), ServerTrust::Accepted);
  EXPECT_EQ(Read(), "garbage line\r\nh;995;" + kNew + "\r\nother;110;" + kOld + "\r\n");
  EXPECT_EQ(Decide("h", false, kNew, std::nullopt), ServerTrust::Known);
  // And the old one is now the stranger.
  EXPECT_EQ(Decide("h", false, kOld, false), ServerTrust::Refused);
}

TEST_F(ServerTrustTest, OddLinesReadWithoutFailingAndSurviveASave) {
  const std::string odd = "\r\n;;;\r\nno separators\r\nh;995\r\n\xA4\xA4\xA4\xE5;995;" + kOld + ";x\r\n";
  Write(odd);
  EXPECT_EQ(Decide("h", false, kNew, std::nullopt), ServerTrust::FirstUse);
  EXPECT_EQ(Read(), odd + "h;995;" + kNew + "\r\n");
}

TEST_F(ServerTrustTest, UnreadableFileAsksAndWritesNothing) {
  // A folder where the file belongs cannot be read as one.
  std::filesystem::create_directories(path_);
  EXPECT_EQ(Decide("h", false, kNew, true), ServerTrust::Accepted);
  EXPECT_TRUE(asked_);
  EXPECT_EQ(askedRemembered_, "");
  EXPECT_TRUE(DirectoryExists(path_));
  EXPECT_EQ(Decide("h", false, kNew, false), ServerTrust::Refused);
}

TEST_F(ServerTrustTest, ServerNameThatWouldBreakTheLineIsAskedEveryTime) {
  EXPECT_EQ(Decide("h;995;" + kNew, false, kNew, false), ServerTrust::Refused);
  EXPECT_TRUE(asked_);
  EXPECT_FALSE(FileExists(path_));
}

TEST_F(ServerTrustTest, NoCertificateAtAllIsAskedEveryTime) {
  EXPECT_EQ(Decide("h", false, "", false), ServerTrust::Refused);
  EXPECT_TRUE(asked_);
  EXPECT_EQ(askedPresented_, "");
  EXPECT_FALSE(FileExists(path_));
}

TEST_F(ServerTrustTest, PortsAreRememberedApart) {
  EXPECT_EQ(Decide("h", false, kOld, std::nullopt), ServerTrust::FirstUse);
  EXPECT_EQ(DecideServerTrust(path_, "h", 996, false, kNew, nullptr), ServerTrust::FirstUse);
  EXPECT_EQ(Read(), "h;995;" + kOld + "\r\nh;996;" + kNew + "\r\n");
}

TEST_F(ServerTrustTest, SeenWithTlsOnTheFile) {
  EXPECT_FALSE(ServerSeenWithTls(path_, "h", 110)) << "no file: never seen";
  RememberServerSeenWithTls(path_, "h", 110);
  RememberServerSeenWithTls(path_, "h;x", 110);  // cannot stand in a line
  EXPECT_EQ(Read(), "h;110;\r\n");
  EXPECT_TRUE(ServerSeenWithTls(path_, "h", 110));
  EXPECT_FALSE(ServerSeenWithTls(path_, "h", 995));
  std::filesystem::remove(path_);
  std::filesystem::create_directories(path_);  // a file that cannot be read
  EXPECT_TRUE(ServerSeenWithTls(path_, "h", 110)) << "unreadable: asked rather than sent in the clear";
}

}  // namespace
}  // namespace brevan

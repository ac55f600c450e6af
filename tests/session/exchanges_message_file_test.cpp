// Message file names and download folders made from untrusted subjects and
// session labels.
#include "session/message_file.h"

#include <gtest/gtest.h>

#include <string>

namespace brevan {
namespace {

using namespace std::string_literals;

struct NameRow {
  const char* name;
  std::string subject;
  std::string fileName;
};
void PrintTo(const NameRow& r, std::ostream* os) { *os << r.name; }

class MessageFileNameTest : public ::testing::TestWithParam<NameRow> {};

TEST_P(MessageFileNameTest, Name) { EXPECT_EQ(MessageFileName(GetParam().subject), GetParam().fileName); }

INSTANTIATE_TEST_SUITE_P(
    Rows, MessageFileNameTest,
    ::testing::Values(
        NameRow{"reply_with_slash", "Re: a/b?", "Re_ a_b_"},
        NameRow{"all_seventeen", "\\/:*?\"<>|=+&^%$#@", "_________________"},
        NameRow{"inner_spaces_kept", "  two  words  ", "two  words"},
        NameRow{"spaces_only", "   ", "(no_subject)"},
        NameRow{"empty", "", "(no_subject)"},
        NameRow{"only_controls", "\t\r\n", "(no_subject)"},
        NameRow{"big5_trail_backslash_kept", "\xB3\\\xA5\\", "\xB3\\\xA5\\"},
        NameRow{"big5_trail_bar_kept", "\xA6|x|", "\xA6|x_"},
        NameRow{"big5_trail_at_kept", "\xA5@@", "\xA5@_"},
        NameRow{"inner_nul_replaced", "a\0b"s, "a_b"},
        NameRow{"inner_control_replaced", "a\x01\x7f" "b", "a__b"},
        NameRow{"slash_after_stray_lead_byte", "\xB3/../x", "\xB3_.._x"},
        NameRow{"dot", ".", "_"},
        NameRow{"dot_dot", "..", "_."},
        NameRow{"hidden", ".profile", "_profile"},
        NameRow{"dot_after_trim", "  .x", "_x"},
        NameRow{"trailing_lead_byte", "ab\xA4", "ab\xA4"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(MessageFileBaseName, TooLongFallsBackToTheNumber) {
  // 255 bytes per path component, ".eml" included.
  EXPECT_EQ(MessageFileBaseName(std::string(251, 'a'), "7"), std::string(251, 'a'));
  EXPECT_EQ(MessageFileBaseName(std::string(252, 'a'), "7"), "7");
  // A Big5 character is two bytes here but three in UTF-8.
  std::string chinese;
  for (int i = 0; i < 83; ++i) chinese += "\xA4\xA4";
  EXPECT_EQ(MessageFileBaseName(chinese, "3"), chinese);
  chinese += "\xA4\xA4";
  EXPECT_EQ(MessageFileBaseName(chinese, "3"), "3");
}

struct FolderRow {
  const char* name;
  std::string label;
  std::string folder;
};
void PrintTo(const FolderRow& r, std::ostream* os) { *os << r.name; }

class DownloadFolderTest : public ::testing::TestWithParam<FolderRow> {};

TEST_P(DownloadFolderTest, StaysInTheProgramFolder) {
  EXPECT_EQ(DownloadFolder("/opt/brevan/", GetParam().label), "/opt/brevan/" + GetParam().folder);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, DownloadFolderTest,
    ::testing::Values(FolderRow{"ordinary", "ann@example.com(pop.example.com)", "ann@example.com(pop.example.com)"},
                      FolderRow{"slash_in_user", "a/../../etc(x)", "a_.._.._etc(x)"},
                      FolderRow{"leading_dots", "..(x)", "_.(x)"},
                      FolderRow{"control_bytes", "a\nb\0(x)"s, "a_b_(x)"},
                      // The label is code-page text; on disk the folder is named in UTF-8.
                      FolderRow{"big5_label_in_utf8", "\xA4\xA4\xA4\xE5(x)", "\xE4\xB8\xAD\xE6\x96\x87(x)"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(DownloadFolder, ProgramFolderKeepsItsBytes) {
  // "é" has no place in the code page: the program folder never passes
  // through it, only the label does.
  EXPECT_EQ(DownloadFolder("/home/jos\xC3\xA9/", "\xA4\xA4(x)"), "/home/jos\xC3\xA9/\xE4\xB8\xAD(x)");
}

TEST(MessageFilePath, FolderSlashNameEml) {
  EXPECT_EQ(MessageFilePath("/p/u(s)", "Re_ a_b_"), "/p/u(s)/Re_ a_b_.eml");
  // The folder is file-system bytes, the name code-page text.
  EXPECT_EQ(MessageFilePath("/p/jos\xC3\xA9", "\xA4\xA4\xA4\xE5"), "/p/jos\xC3\xA9/\xE4\xB8\xAD\xE6\x96\x87.eml");
}

}  // namespace
}  // namespace brevan

#include "common/file_io.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

namespace brevan {
namespace {

namespace fs = std::filesystem;

class FileIoTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/brevan-fileio-XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    dir_ = tmpl;
  }
  void TearDown() override { fs::remove_all(dir_); }
  std::string dir_;
};

TEST_F(FileIoTest, WriteThenReadBackAnyBytes) {
  std::string path = dir_ + "/a.bin";
  std::string bytes("x\0y\r\n\xA4\xA4", 7);
  ASSERT_TRUE(WriteFileAtomic(path, bytes));
  std::string back;
  ASSERT_TRUE(ReadWholeFile(path, back));
  EXPECT_EQ(back, bytes);
  EXPECT_TRUE(FileExists(path));
  EXPECT_FALSE(DirectoryExists(path));
}

TEST_F(FileIoTest, ReplacingLeavesNoTemporaryFilesBehind) {
  std::string path = dir_ + "/rules.cfg";
  ASSERT_TRUE(WriteFileAtomic(path, "old\r\n"));
  ASSERT_TRUE(WriteFileAtomic(path, "new\r\n"));
  std::string back;
  ASSERT_TRUE(ReadWholeFile(path, back));
  EXPECT_EQ(back, "new\r\n");
  EXPECT_EQ(std::distance(fs::directory_iterator(dir_), fs::directory_iterator{}), 1);
}

TEST_F(FileIoTest, NewFileGetsTheModeAndAReplacedOneNeverLoosens) {
  std::string path = dir_ + "/brevan.ini";
  ASSERT_TRUE(WriteFileAtomic(path, "a\r\n", 0600));
  struct stat st{};
  ASSERT_EQ(stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  ASSERT_TRUE(WriteFileAtomic(path, "b\r\n", 0644));
  ASSERT_EQ(stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
}

TEST_F(FileIoTest, FailedWriteKeepsTheOldFile) {
  std::string path = dir_ + "/keep.txt";
  ASSERT_TRUE(WriteFileAtomic(path, "precious"));
  EXPECT_FALSE(WriteFileAtomic(dir_ + "/missing/folder/x.txt", "data"));
  // A directory in the way of the target cannot be replaced.
  fs::create_directory(dir_ + "/adir");
  EXPECT_FALSE(WriteFileAtomic(dir_ + "/adir", "data"));
  std::string back;
  ASSERT_TRUE(ReadWholeFile(path, back));
  EXPECT_EQ(back, "precious");
}

TEST_F(FileIoTest, ForceDirectoriesMakesEveryMissingParent) {
  std::string deep = dir_ + "/a/b/c";
  ASSERT_TRUE(ForceDirectories(deep));
  EXPECT_TRUE(DirectoryExists(deep));
  EXPECT_TRUE(ForceDirectories(deep));  // already there
  std::string out;
  EXPECT_FALSE(ReadWholeFile(deep, out));  // a folder is not a file
  EXPECT_FALSE(ReadWholeFile(dir_ + "/none", out));
}

// Paths are the file system's own bytes: whatever a folder or file is named,
// the name reaches the system unchanged, and only ShownPath turns it into
// code-page text.
struct NameRow {
  const char* name;
  std::string component;  // UTF-8, as the system names it
  std::string shown;      // ShownPath of the component
};
void PrintTo(const NameRow& row, std::ostream* os) { *os << row.name; }

class FileIoNames : public FileIoTest, public ::testing::WithParamInterface<NameRow> {};

TEST_P(FileIoNames, FolderAndFileKeepTheirBytes) {
  const std::string folder = dir_ + "/" + GetParam().component;
  ASSERT_TRUE(ForceDirectories(folder + "/sub"));
  const std::string path = folder + "/" + GetParam().component + ".eml";
  ASSERT_TRUE(WriteFileAtomic(path, "m"));
  // The system holds exactly the name given, nothing converted.
  EXPECT_TRUE(fs::is_regular_file(fs::path(path)));
  EXPECT_TRUE(FileExists(path));
  EXPECT_TRUE(DirectoryExists(folder));
  std::string back;
  ASSERT_TRUE(ReadWholeFile(path, back));
  EXPECT_EQ(back, "m");
  EXPECT_EQ(ShownPath(GetParam().component), GetParam().shown);
}

INSTANTIATE_TEST_SUITE_P(
    Names, FileIoNames,
    ::testing::Values(NameRow{"ascii", "plain", "plain"},
                      NameRow{"accented_latin", "jos\xC3\xA9", "jos?"},
                      NameRow{"chinese", "\xE4\xB8\xAD\xE6\x96\x87", "\xA4\xA4\xA4\xE5"},
                      NameRow{"cyrillic", "\xD0\x9F\xD0\xB0\xD0\xBF\xD0\xBA\xD0\xB0", "?????"},
                      NameRow{"blank", "my mail", "my mail"},
                      NameRow{"quotes", "it's \"x\"", "it's \"x\""},
                      // Bytes the code page would read as one double-byte
                      // character ending in a backslash stay two UTF-8 bytes.
                      NameRow{"latin1_bytes_not_utf8", "a\xA4\\b", "a?\\b"}),
    [](const ::testing::TestParamInfo<NameRow>& info) { return std::string(info.param.name); });

// Every name the file system takes (255 bytes) is written under that name:
// the temporary file beside it has a short name of its own.
struct NameLengthRow {
  const char* name;
  size_t bytes;  // of the name, ".eml" included
};
void PrintTo(const NameLengthRow& r, std::ostream* os) { *os << r.name; }

class LongNameWriteTest : public FileIoTest, public ::testing::WithParamInterface<NameLengthRow> {};

TEST_P(LongNameWriteTest, WrittenUnderItsOwnName) {
  const std::string name = std::string(GetParam().bytes - 4, 'n') + ".eml";
  ASSERT_TRUE(WriteFileAtomic(dir_ + "/" + name, "m"));
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(dir_)) names.push_back(entry.path().filename().string());
  EXPECT_EQ(names, std::vector<std::string>{name});
}

INSTANTIATE_TEST_SUITE_P(Rows, LongNameWriteTest,
                         ::testing::Values(NameLengthRow{"bytes_244", 244}, NameLengthRow{"bytes_246", 246},
                                           NameLengthRow{"bytes_250", 250}, NameLengthRow{"bytes_255", 255}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(FileIoTest, TooLongANameFailsAndLeavesNothing) {
  EXPECT_FALSE(WriteFileAtomic(dir_ + "/" + std::string(256, 'n'), "m"));
  EXPECT_TRUE(fs::is_empty(dir_));
}

TEST_F(FileIoTest, TemporaryFileIsPrivateUntilPlaced) {
  TemporaryFile file;
  ASSERT_TRUE(file.Create(dir_));
  ASSERT_TRUE(file.Write("half a mess"));
  struct stat st{};
  ASSERT_EQ(stat(file.TemporaryPath().c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  ASSERT_TRUE(file.Write("age"));
  ASSERT_TRUE(file.Sync());
  ASSERT_TRUE(file.PlaceAs(dir_ + "/m.eml"));
  EXPECT_FALSE(file.IsOpen());
  ASSERT_EQ(stat((dir_ + "/m.eml").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0644u);
  std::string back;
  ASSERT_TRUE(ReadWholeFile(dir_ + "/m.eml", back));
  EXPECT_EQ(back, "half a message");
  EXPECT_FALSE(file.Write("more")) << "a placed file takes no more";
}

// A name that cannot take the file leaves it for the next name to try.
TEST_F(FileIoTest, TemporaryFileTriesAnotherNameAfterAFailedOne) {
  fs::create_directory(dir_ + "/taken.eml");
  TemporaryFile file;
  ASSERT_TRUE(file.Create(dir_));
  ASSERT_TRUE(file.Write("m"));
  EXPECT_FALSE(file.PlaceAs(dir_ + "/taken.eml"));
  EXPECT_FALSE(file.PlaceAs(dir_ + "/missing/1.eml"));
  ASSERT_TRUE(file.PlaceAs(dir_ + "/1.eml"));
  std::string back;
  ASSERT_TRUE(ReadWholeFile(dir_ + "/1.eml", back));
  EXPECT_EQ(back, "m");
  EXPECT_TRUE(fs::is_directory(dir_ + "/taken.eml"));
}

TEST_F(FileIoTest, TemporaryFileNotPlacedIsGone) {
  {
    TemporaryFile file;
    ASSERT_TRUE(file.Create(dir_));
    ASSERT_TRUE(file.Write("m"));
  }
  EXPECT_TRUE(fs::is_empty(dir_));
  TemporaryFile removed;
  ASSERT_TRUE(removed.Create(dir_));
  removed.Remove();
  EXPECT_TRUE(fs::is_empty(dir_));
  EXPECT_FALSE(removed.Write("m"));
  EXPECT_FALSE(removed.PlaceAs(dir_ + "/m.eml"));
  EXPECT_FALSE(TemporaryFile().Create(dir_ + "/missing"));
}

TEST_F(FileIoTest, RemoveEmptyFolderKeepsAFolderWithFiles) {
  ASSERT_TRUE(ForceDirectories(dir_ + "/full"));
  ASSERT_TRUE(WriteFileAtomic(dir_ + "/full/m.eml", "m"));
  EXPECT_FALSE(RemoveEmptyFolder(dir_ + "/full"));
  EXPECT_TRUE(FileExists(dir_ + "/full/m.eml"));
  ASSERT_TRUE(ForceDirectories(dir_ + "/empty"));
  EXPECT_TRUE(RemoveEmptyFolder(dir_ + "/empty"));
  EXPECT_FALSE(DirectoryExists(dir_ + "/empty"));
}

}  // namespace
}  // namespace brevan

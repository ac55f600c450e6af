#include "common/file_io.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>

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

TEST_F(FileIoTest, CodePagePathsReachTheFileSystemAsUtf8) {
  std::string big5Name = dir_ + "/\xA4\xA4\xA4\xE5.eml";  // two Chinese characters
  ASSERT_TRUE(WriteFileAtomic(big5Name, "m"));
  EXPECT_TRUE(fs::exists(fs::u8path(dir_ + "/\xE4\xB8\xAD\xE6\x96\x87.eml")));
  EXPECT_TRUE(FileExists(big5Name));
}

}  // namespace
}  // namespace brevan

#include "common/app_path.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "tests/support/named_rows.h"

namespace brevan {
namespace {

namespace fs = std::filesystem;

struct UserFolderRow {
  const char* name;
  std::string xdgDataHome, home;
  std::string expected;
};
void PrintTo(const UserFolderRow& row, std::ostream* os) { *os << row.name; }

class UserDataFolderTest : public ::testing::TestWithParam<UserFolderRow> {};

TEST_P(UserDataFolderTest, FollowsTheBaseDirectoryRules) {
  EXPECT_EQ(UserDataFolder(GetParam().xdgDataHome, GetParam().home), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, UserDataFolderTest,
    ::testing::Values(UserFolderRow{"xdg_set", "/x/data", "/home/a", "/x/data/brevan/"},
                      UserFolderRow{"xdg_with_slash", "/x/data/", "/home/a", "/x/data/brevan/"},
                      UserFolderRow{"xdg_empty_uses_home", "", "/home/a", "/home/a/.local/share/brevan/"},
                      UserFolderRow{"xdg_relative_is_ignored", "data", "/home/a", "/home/a/.local/share/brevan/"},
                      UserFolderRow{"home_with_slash", "", "/home/a/", "/home/a/.local/share/brevan/"},
                      UserFolderRow{"utf8_kept_as_bytes", "/d\xC3\xA9j\xC3\xA0", "", "/d\xC3\xA9j\xC3\xA0/brevan/"},
                      UserFolderRow{"nothing_absolute", "rel", "also/rel", ""},
                      UserFolderRow{"nothing_at_all", "", "", ""}),
    RowName<UserFolderRow>);

struct ChoiceRow {
  const char* name;
  std::string program;
  bool writable;
  std::string user;
  std::string expected;
};
void PrintTo(const ChoiceRow& row, std::ostream* os) { *os << row.name; }

class ChooseAppPathTest : public ::testing::TestWithParam<ChoiceRow> {};

TEST_P(ChooseAppPathTest, WritableProgramFolderKeepsTheFiles) {
  EXPECT_EQ(ChooseAppPath(GetParam().program, GetParam().writable, GetParam().user), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, ChooseAppPathTest,
    ::testing::Values(ChoiceRow{"portable_copy", "/opt/b/", true, "/h/.local/share/brevan/", "/opt/b/"},
                      ChoiceRow{"installed_copy", "/usr/bin/", false, "/h/.local/share/brevan/",
                                "/h/.local/share/brevan/"},
                      ChoiceRow{"installed_without_user_folder", "/usr/bin/", false, "", "/usr/bin/"},
                      ChoiceRow{"slash_added", "/opt/b", true, "", "/opt/b/"}),
    RowName<ChoiceRow>);

struct SystemRow {
  const char* name;
  std::string folder;
  bool system;
};
void PrintTo(const SystemRow& row, std::ostream* os) { *os << row.name; }

class SystemProgramFolderTest : public ::testing::TestWithParam<SystemRow> {};

TEST_P(SystemProgramFolderTest, InstalledPlacesAreNeverTheFilesHome) {
  EXPECT_EQ(SystemProgramFolder(GetParam().folder), GetParam().system);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, SystemProgramFolderTest,
    ::testing::Values(SystemRow{"usr_bin", "/usr/bin/", true}, SystemRow{"usr_local_bin", "/usr/local/bin/", true},
                      SystemRow{"bin", "/bin/", true}, SystemRow{"sbin_without_slash", "/sbin", true},
                      SystemRow{"home", "/home/ann/brevan/", false}, SystemRow{"opt", "/opt/brevan/", false},
                      // Only whole folder names count.
                      SystemRow{"usr_lookalike", "/usrdata/brevan/", false},
                      SystemRow{"binaries_lookalike", "/binaries/", false},
                      SystemRow{"build_folder", "/work/brevan/build/", false}),
    RowName<SystemRow>);

class AppPathFolders : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/brevan-apppath-XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    dir_ = tmpl;
  }
  void TearDown() override {
    std::error_code ignored;
    fs::permissions(dir_ + "/ro", fs::perms::owner_all, ignored);
    fs::remove_all(dir_, ignored);
  }
  std::string dir_;
};

TEST_F(AppPathFolders, PrivateFolderIsMadeWithEveryParentForTheUserAlone) {
  const std::string folder = dir_ + "/a/b/brevan/";
  ASSERT_TRUE(MakePrivateFolder(folder));
  for (const std::string& made : {dir_ + "/a", dir_ + "/a/b", dir_ + "/a/b/brevan"}) {
    struct stat st{};
    ASSERT_EQ(::stat(made.c_str(), &st), 0) << made;
    EXPECT_EQ(st.st_mode & 0777, 0700u) << made;
  }
  EXPECT_TRUE(MakePrivateFolder(folder));  // already there
  // An existing folder keeps the mode its owner gave it.
  ASSERT_EQ(::chmod((dir_ + "/a").c_str(), 0755), 0);
  ASSERT_TRUE(MakePrivateFolder(dir_ + "/a/c"));
  struct stat st{};
  ASSERT_EQ(::stat((dir_ + "/a").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0755u);
}

TEST_F(AppPathFolders, PrivateFolderFailsWhereAFileStands) {
  ASSERT_TRUE(fs::create_directory(dir_ + "/x"));
  { std::FILE* f = std::fopen((dir_ + "/file").c_str(), "w"); ASSERT_NE(f, nullptr); std::fclose(f); }
  EXPECT_FALSE(MakePrivateFolder(dir_ + "/file"));
  EXPECT_FALSE(MakePrivateFolder(dir_ + "/file/brevan"));
  EXPECT_FALSE(MakePrivateFolder(""));
}

TEST_F(AppPathFolders, ReadOnlyFolderIsNotWritable) {
  EXPECT_TRUE(FolderWritable(dir_));
  EXPECT_FALSE(FolderWritable(dir_ + "/missing"));
  EXPECT_FALSE(FolderWritable(""));
  if (::geteuid() == 0) GTEST_SKIP() << "root writes into any folder";
  ASSERT_TRUE(fs::create_directory(dir_ + "/ro"));
  fs::permissions(dir_ + "/ro", fs::perms::owner_read | fs::perms::owner_exec);
  EXPECT_FALSE(FolderWritable(dir_ + "/ro"));
}

TEST(ExecutableFolder, IsTheFolderOfThisTestProgram) {
  const std::string folder = ExecutableFolder();
  ASSERT_FALSE(folder.empty());
  EXPECT_EQ(folder.back(), '/');
  EXPECT_TRUE(fs::exists(fs::path(folder) / "common_tests"));
}

}  // namespace
}  // namespace brevan

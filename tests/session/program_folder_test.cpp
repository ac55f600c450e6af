// Where the session window keeps its files: beside the program whatever the
// program folder is named, and in the user's own folder when the program
// folder cannot be written (an installed copy). In both places an account is
// found and saved, the rule file loaded and written, and a download written
// and found again by the read command.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include "program_folder_fixture.h"

namespace brevan {
namespace {

using testing_support::ProgramFolderTest;
using testing_support::ScopedEnv;

// ---- a writable program folder keeps the files, whatever its name ----

struct FolderNameRow {
  const char* name;
  std::string folder;  // UTF-8, as the file system names it
};
void PrintTo(const FolderNameRow& row, std::ostream* os) { *os << row.name; }

class ProgramFolderNames : public ProgramFolderTest, public ::testing::WithParamInterface<FolderNameRow> {};

TEST_P(ProgramFolderNames, EveryFileLivesBesideTheProgram) {
  const std::string program = AppPath() + GetParam().folder + "/";
  Seed(program);
  SetProgramFolderOverride(program, true);
  Reopen();
  UseEveryFile(program);
}

INSTANTIATE_TEST_SUITE_P(
    Names, ProgramFolderNames,
    ::testing::Values(FolderNameRow{"accented_latin", "jos\xC3\xA9"},
                      FolderNameRow{"chinese", "\xE4\xB8\xAD\xE6\x96\x87"},
                      FolderNameRow{"cyrillic", "\xD0\x9F\xD0\xBE\xD1\x87\xD1\x82\xD0\xB0"},
                      FolderNameRow{"blank", "my programs"},
                      FolderNameRow{"quote", "it's \"here\""},
                      FolderNameRow{"backslash", "back\\slash"}),
    [](const ::testing::TestParamInfo<FolderNameRow>& info) { return std::string(info.param.name); });

// ---- an unwritable program folder sends the files to the user's folder ----

struct UserFolderRow {
  const char* name;
  std::optional<std::string> xdgDataHome;  // "{base}" stands for the test folder; nullopt: unset
  std::string files;                       // below the test folder
};
void PrintTo(const UserFolderRow& row, std::ostream* os) { *os << row.name; }

class UserFolder : public ProgramFolderTest, public ::testing::WithParamInterface<UserFolderRow> {};

TEST_P(UserFolder, EveryFileLivesInTheUsersFolder) {
  const UserFolderRow& row = GetParam();
  const std::string base = AppPath();
  const std::string program = base + "usr/bin/";
  ASSERT_TRUE(ForceDirectories(program));
  ScopedEnv home("HOME", base + "home");
  std::optional<std::string> xdgValue = row.xdgDataHome;
  if (xdgValue && xdgValue->rfind("{base}", 0) == 0) xdgValue = base + xdgValue->substr(6);
  ScopedEnv xdg("XDG_DATA_HOME", xdgValue);
  SetProgramFolderOverride(program, false);
  Reopen();

  // Created at start, private to the user, and empty.
  const std::string files = base + row.files;
  ASSERT_EQ(Program().AppPath, files);
  struct stat st{};
  ASSERT_EQ(::stat(files.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0700u);
  EXPECT_EQ(form->ComboBox1->count(), 0);

  Seed(files);
  Reopen();
  UseEveryFile(files);
  EXPECT_FALSE(FileExists(program + "brevan.ini"));
  EXPECT_FALSE(FileExists(program + "subjectfilter.cfg"));
  EXPECT_FALSE(DirectoryExists(program + "ann(127.0.0.1)"));
}

INSTANTIATE_TEST_SUITE_P(
    Env, UserFolder,
    ::testing::Values(UserFolderRow{"xdg_data_home", std::string("{base}data"), "data/brevan/"},
                      UserFolderRow{"xdg_data_home_with_slash", std::string("{base}data/"), "data/brevan/"},
                      UserFolderRow{"xdg_data_home_unset", std::nullopt, "home/.local/share/brevan/"},
                      UserFolderRow{"xdg_data_home_empty", std::string(""), "home/.local/share/brevan/"},
                      // Only an absolute folder counts; a relative one is ignored.
                      UserFolderRow{"xdg_data_home_relative", std::string("data"), "home/.local/share/brevan/"},
                      UserFolderRow{"xdg_data_home_non_ascii", std::string("{base}d\xC3\xA9j\xC3\xA0"),
                                    "d\xC3\xA9j\xC3\xA0/brevan/"}),
    [](const ::testing::TestParamInfo<UserFolderRow>& info) { return std::string(info.param.name); });

// ---- a path in an error box is code-page text ----

struct ShownRow {
  const char* name;
  std::string folder;  // UTF-8 on disk
  std::string shown;   // in the box, code page
};
void PrintTo(const ShownRow& row, std::ostream* os) { *os << row.name; }

class ShownPathInErrors : public ProgramFolderTest, public ::testing::WithParamInterface<ShownRow> {};

TEST_P(ShownPathInErrors, EditorSaveIntoAMissingFolder) {
  Program().AppPath = AppPath() + GetParam().folder + "/";
  Form3->Memo1->setPlainText(QStringLiteral("rule"));
  Form3->BitBtn1Click();
  ASSERT_EQ(dialogs.errors.size(), 1u);
  EXPECT_EQ(dialogs.errors[0], "Cannot create file " + AppPath() + GetParam().shown + "/subjectfilter.cfg.");
}

TEST_P(ShownPathInErrors, AccountSaveIntoAMissingFolder) {
  SetAppPathOverride(AppPath() + GetParam().folder);
  form = std::make_unique<TForm1>();
  form->ComboBox1->setEditText(QStringLiteral("pop.example.com"));
  form->Button1->click();
  ASSERT_EQ(dialogs.errors.size(), 1u);
  EXPECT_EQ(dialogs.errors[0], "Cannot create file \"" + AppPath() + GetParam().shown + "/brevan.ini\".");
}

INSTANTIATE_TEST_SUITE_P(
    Names, ShownPathInErrors,
    ::testing::Values(ShownRow{"chinese", "\xE4\xB8\xAD\xE6\x96\x87", "\xA4\xA4\xA4\xE5"},
                      ShownRow{"accented_latin", "jos\xC3\xA9", "jos?"},
                      ShownRow{"blank_and_quote", "my \"mail\"", "my \"mail\""}),
    [](const ::testing::TestParamInfo<ShownRow>& info) { return std::string(info.param.name); });

TEST_F(ProgramFolderTest, UserFolderThatCannotBeMadeLeavesTheProgramFolder) {
  const std::string base = AppPath();
  const std::string program = base + "bin/";
  ASSERT_TRUE(ForceDirectories(program));
  ASSERT_TRUE(WriteFileAtomic(base + "file", "x"));  // a file where a folder would go
  ScopedEnv xdg("XDG_DATA_HOME", base + "file/data");
  SetProgramFolderOverride(program, false);
  Reopen();
  EXPECT_EQ(Program().AppPath, program);
}

}  // namespace
}  // namespace brevan

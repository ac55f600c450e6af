// The file folder of an installed copy, decided with nothing overridden: the
// dist.drive check runs this program from a copy in a folder it cannot write,
// with a HOME and XDG_DATA_HOME of its own, as an installed program runs.
// Started any other way (the test suite's own discovery never registers it)
// it skips.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstdlib>

#include "common/app_path.h"
#include "program_folder_fixture.h"

namespace brevan {
namespace {

using testing_support::ProgramFolderTest;

TEST_F(ProgramFolderTest, InstalledCopyKeepsEveryFileInTheUsersFolder) {
  const char* data = std::getenv("XDG_DATA_HOME");
  if (!std::getenv("BREVAN_INSTALLED_RUN") || !data) GTEST_SKIP() << "run by the dist.drive check only";
  const std::string program = ExecutableFolder();
  ASSERT_FALSE(FolderWritable(program)) << program;

  Reopen();
  const std::string files = std::string(data) + "/brevan/";
  ASSERT_EQ(Program().AppPath, files);
  struct stat st{};
  ASSERT_EQ(::stat(files.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0700u);

  Seed(files);
  Reopen();
  UseEveryFile(files);
  EXPECT_FALSE(FileExists(program + "brevan.ini"));
  EXPECT_FALSE(FileExists(program + "subjectfilter.cfg"));
}

}  // namespace
}  // namespace brevan

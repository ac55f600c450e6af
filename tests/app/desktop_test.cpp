// The real desktop actions against stand-in programs on PATH: whether a
// program could be started for a file is told truly, and the file reaches it.
#include <sys/stat.h>
#include <unistd.h>

#include <QByteArray>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <map>
#include <ostream>
#include <string>

#include "../session/session_lifecycle_support.h"
#include "app/dialogs.h"
#include "common/file_io.h"

namespace brevan::testing {
namespace {

// Shell bodies of the stand-ins; each records its argument in <name>.ran.
const char* const kOpens = "exit 0";
const char* const kNothingToOpenWith = "exit 3";  // xdg-open: no method available
const char* const kStaysRunning = "exec /bin/sleep 4";       // a program that keeps the file open
const std::string kNotExecutable = "noexec";

struct DesktopRow {
  const char* name;
  std::map<std::string, std::string> programs;  // on PATH: name -> body
  bool documentOpened;
  bool editorStarted;
  const char* editorRan;  // the stand-in that got the file from LaunchTextEditor
};
void PrintTo(const DesktopRow& r, std::ostream* os) { *os << r.name; }

class RealDesktop : public WindowTest, public ::testing::WithParamInterface<DesktopRow> {
 protected:
  void SetUp() override {
    WindowTest::SetUp();
    SetDesktop(nullptr);  // the real one
    const char* path = std::getenv("PATH");
    savedPath_ = path ? path : "";
    bin_ = folder_ + "/bin";
    ASSERT_EQ(::mkdir(bin_.c_str(), 0700), 0);
    ::setenv("PATH", bin_.c_str(), 1);
  }
  void TearDown() override {
    ::setenv("PATH", savedPath_.c_str(), 1);
    WindowTest::TearDown();
  }
  void Install(const std::string& name, const std::string& body) {
    const std::string file = bin_ + "/" + name;
    std::ofstream out(file);
    out << "#!/bin/sh\nprintf '%s' \"$1\" > '" << bin_ << "/" << name << ".ran'\n" << body << "\n";
    out.close();
    // "noexec": present but not executable, so it is no program.
    ASSERT_EQ(::chmod(file.c_str(), body == kNotExecutable ? 0600 : 0700), 0);
  }
  // The argument the stand-in got, or "" when it did not run.
  std::string Ran(const std::string& name) {
    std::string text;
    return ReadWholeFile(Utf8ToAnsi(bin_ + "/" + name + ".ran"), text) ? text : std::string();
  }
  void Forget(const std::string& name) { ::unlink((bin_ + "/" + name + ".ran").c_str()); }

  std::string savedPath_, bin_;
};

TEST_P(RealDesktop, TellsWhetherAProgramStarted) {
  const DesktopRow& row = GetParam();
  for (const auto& [name, body] : row.programs) Install(name, body);
  const std::string message = Utf8ToAnsi(File("Hello.eml"));

  EXPECT_EQ(Desktop().OpenDocument(message, Utf8ToAnsi(folder_)), row.documentOpened);
  if (row.programs.count("xdg-open")) EXPECT_EQ(Ran("xdg-open"), File("Hello.eml"));
  Forget("xdg-open");

  EXPECT_EQ(Desktop().LaunchTextEditor(message, Utf8ToAnsi(folder_)), row.editorStarted);
  if (*row.editorRan) EXPECT_EQ(Ran(row.editorRan), File("Hello.eml"));
}

INSTANTIATE_TEST_SUITE_P(
    Rows, RealDesktop,
    ::testing::Values(
        DesktopRow{"nothing_on_path", {}, false, false, ""},
        DesktopRow{"opener_opens", {{"xdg-open", kOpens}}, true, true, "xdg-open"},
        DesktopRow{"opener_has_nothing_to_open_with", {{"xdg-open", kNothingToOpenWith}}, false, false, "xdg-open"},
        DesktopRow{"opener_stays_running_counts_as_started", {{"xdg-open", kStaysRunning}}, true, true, "xdg-open"},
        DesktopRow{"editor_found_first", {{"mousepad", kOpens}, {"xdg-open", kNothingToOpenWith}}, false, true,
                   "mousepad"},
        DesktopRow{"failing_editor_then_the_next", {{"gedit", "exit 1"}, {"kate", kOpens}}, false, true, "kate"},
        DesktopRow{"editor_that_cannot_be_executed", {{"gedit", kNotExecutable}, {"xdg-open", kOpens}}, true, true,
                   "xdg-open"}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace brevan::testing

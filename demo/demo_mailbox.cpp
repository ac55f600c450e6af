#include "demo/demo_mailbox.h"

#include "common/text_lines.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <system_error>

namespace brevan {

bool LoadDemoMessages(const std::string& folder, std::vector<std::string>& messages) {
  messages.clear();
  std::error_code ec;
  std::vector<std::filesystem::path> files;
  for (std::filesystem::directory_iterator it(folder, ec), end; !ec && it != end;
       it.increment(ec)) {
    if (it->path().extension() == ".eml" && it->is_regular_file(ec)) files.push_back(it->path());
  }
  if (ec || files.empty()) return false;
  std::sort(files.begin(), files.end());
  for (const auto& file : files) {
    // The folder comes from the command line: an operating-system path, not
    // a code-page text, so it is opened as it is.
    std::ifstream in(file, std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (!in.good() && !in.eof()) return false;
    messages.push_back(JoinLinesCrLf(SplitTextLines(bytes)));
  }
  return true;
}

}  // namespace brevan

#pragma once
// The demo messages: invented mail kept as .eml files in demo/messages.
#include <string>
#include <vector>

namespace brevan {

// Every *.eml file of folder, in file-name order, with its line ends made
// CR LF (a checkout may have turned them into bare LF). False when the folder
// cannot be read or holds no message.
bool LoadDemoMessages(const std::string& folder, std::vector<std::string>& messages);

}  // namespace brevan

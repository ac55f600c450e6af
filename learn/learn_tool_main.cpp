// brevan-learn: see learn/learn_tool.h and its manual page.
#include <iostream>
#include <string>
#include <vector>

#include "common/app_path.h"
#include "learn/learn_tool.h"
#include "learn/learned_store.h"

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  // The store the window uses: the program's folder beside this program.
  const std::string folder = brevan::AppFolder();
  const std::string defaultDb = folder.empty() ? std::string() : folder + brevan::kLearnedStoreName;
  return brevan::RunLearnTool(args, defaultDb, std::cout, std::cerr);
}

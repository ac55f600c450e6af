#pragma once
#include <string>

namespace brevan {

// The folder of the running executable, in the code page, ending in "/".
// Tests may point it elsewhere with SetAppPathOverride.
std::string ExecutableFolder();
void SetAppPathOverride(const std::string& folder);

}  // namespace brevan

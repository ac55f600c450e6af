#pragma once
// The demo mailbox's own line in brevan.ini: kept current by the demo server
// at start-up, so the user can pick it in the server list at once.
#include <string>
#include <vector>

namespace brevan {

inline constexpr const char kDemoServer[] = "127.0.0.1";
inline constexpr const char kDemoUser[] = "demo";
inline constexpr const char kDemoPassword[] = "demo";
inline constexpr int kDemoFirstPort = 11110;
inline constexpr int kDemoLastPort = 11119;

// A line written for the demo: server 127.0.0.1, user "demo" and a port of
// the demo range. Anything else is the user's own and is never touched.
bool IsDemoAccountLine(const std::string& line);

// Makes the first demo line point at port (appending one when there is
// none) and drops any further demo lines. True when the lines changed.
bool UpdateDemoAccountLine(std::vector<std::string>& lines, int port);

// Loads the account file, updates the demo line and saves the file (owner
// only, replaced atomically) when it changed. False on a read or write error;
// the file is then left as it was.
bool UpdateDemoAccountFile(const std::string& path, int port);

}  // namespace brevan

#pragma once
// The demo POP3 server behind ./run.

namespace brevan {

// Options:
//   --messages <folder>   the .eml files to serve (default: demo/messages of
//                         the source tree)
//   --accounts <file>     brevan.ini whose demo line is kept current
//   --ports <first>-<last>  where to listen (default 11110-11119; 0-0 takes
//                         any free port)
// Listens on 127.0.0.1 only, on the first free port of the range, and serves
// the messages to user "demo" with password "demo", to any number of sessions
// at once: each sees the messages that were there when it logged in, and its
// deletions apply at its QUIT and last as long as the server runs (the files
// are never touched). Once it listens it prints the
// port on stdout; it ends on SIGTERM, SIGINT or SIGHUP and when its parent
// process ends, and then ends the process itself (status 0). Returns the
// exit status when it cannot start.
int RunDemoServer(int argc, char** argv);

}  // namespace brevan

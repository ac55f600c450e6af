// Leaks the leak checker should not report: caches that system libraries
// under the window toolkit keep for the life of the process.
extern "C" const char* __lsan_default_suppressions() {
  return "leak:libfontconfig\n"
         "leak:libdbus\n";
}

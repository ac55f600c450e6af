#include "learn/session_learning.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <memory>

#include "common/codepage.h"
#include "learn/header_tokens.h"

namespace brevan {

namespace {

struct SessionStore {
  std::string folder;
  std::unique_ptr<LearnedStore> store;
  bool problemTold = false;
};

SessionStore& Shared() {
  static SessionStore shared;
  return shared;
}

}  // namespace

LearnedStore& SessionLearnedStore(const std::string& appFolder) {
  SessionStore& shared = Shared();
  if (!shared.store || shared.folder != appFolder) {
    shared.store.reset();
    shared.store = std::make_unique<LearnedStore>(appFolder + kLearnedStoreName);
    shared.folder = appFolder;
    shared.problemTold = false;
  }
  return *shared.store;
}

LearnedStore* SessionJudgingStore(const std::string& appFolder) {
  SessionStore& shared = Shared();
  if (shared.store && shared.folder == appFolder) return shared.store.get();
  struct stat info {};
  if (::stat((appFolder + kLearnedStoreName).c_str(), &info) != 0) return nullptr;
  return &SessionLearnedStore(appFolder);
}

void CloseSessionLearnedStore() {
  Shared().store.reset();
  Shared().folder.clear();
}

std::string TakeLearnedStoreProblem(LearnedStore& store) {
  SessionStore& shared = Shared();
  if (shared.store.get() == &store) {
    if (shared.problemTold) return {};
    shared.problemTold = true;
  }
  return Utf8ToAnsi(store.Problem());
}

std::string ListedHeaderBlock(const std::vector<std::string>& lines) {
  std::string block;
  for (const std::string& line : lines) {
    if (line.empty()) break;
    std::string_view text = line;
    if (text.size() >= 2 && text[0] == '.' && text[1] == '.') text.remove_prefix(1);
    if (block.size() + text.size() + 2 > kMaxHeaderBytes) break;
    block.append(text);
    block += "\r\n";
  }
  return block;
}

RowMark MarkListedRow(LearnedStore* store, const std::vector<std::string>& rules, std::string_view subject,
                      const JunkVerdict& subjectVerdict, std::string_view headerBlock) {
  const bool on = store && !headerBlock.empty() && store->VerdictOn();
  LearnedJudgement learned;
  JunkVerdict ruleVerdict;
  if (on) {
    learned = store->Judge(headerBlock);
    if (subjectVerdict.What == JunkVerdict::Kind::DisguisedWord && learned.Verdict == LearnedVerdict::Good) {
      const int hit = FirstFilterRuleHit(rules, CodePageForms(subject));
      if (hit >= 0) {
        ruleVerdict.What = JunkVerdict::Kind::Rule;
        ruleVerdict.Rule = rules[static_cast<size_t>(hit)];
        ruleVerdict.Line = hit + 1;
      }
    }
  }
  return DecideRowMark(subjectVerdict, ruleVerdict, on, learned);
}

namespace {

std::vector<LearnedStore::Lesson> Lessons(const std::vector<std::string>& headerBlocks) {
  std::vector<LearnedStore::Lesson> lessons;
  for (const std::string& block : headerBlocks) {
    if (block.empty()) continue;
    lessons.push_back({MessageKey({}, block), block});
  }
  return lessons;
}

}  // namespace

int LearnHeaderBlocks(LearnedStore& store, const std::vector<std::string>& headerBlocks, bool junk) {
  return store.Learn(Lessons(headerBlocks), junk);
}

int ForgetHeaderBlocks(LearnedStore& store, const std::vector<std::string>& headerBlocks, bool junk) {
  return store.Forget(Lessons(headerBlocks), junk);
}

bool ReadHeaderBlock(const std::string& path, std::string& headerBlock) {
  headerBlock.clear();
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  std::string bytes;
  char chunk[16384];
  bool ok = true;
  // Read until the empty line shows up (or the cap): never the whole of a
  // large file. A little more than the cap is read so that a header block
  // of exactly the cap still finds its end.
  while (bytes.size() < kMaxHeaderBytes + 8) {
    const ssize_t n = ::read(fd, chunk, sizeof chunk);
    if (n < 0) {
      if (errno == EINTR) continue;
      ok = false;
      break;
    }
    if (n == 0) break;
    const size_t before = bytes.size();
    bytes.append(chunk, static_cast<size_t>(n));
    // Look for the end from a little before the new bytes: it may straddle.
    const size_t from = before > 4 ? before - 4 : 0;
    const std::string_view tail = std::string_view(bytes).substr(from);
    if (tail.find("\n\n") != std::string_view::npos || tail.find("\r\n\r\n") != std::string_view::npos ||
        tail.find("\r\r") != std::string_view::npos) {
      break;
    }
  }
  ::close(fd);
  if (!ok) return false;
  headerBlock.assign(HeaderBlockOf(bytes).substr(0, kMaxHeaderBytes));
  return true;
}

int LearnMessageFolder(LearnedStore& store, const std::string& folder, bool junk) {
  if (!store.CanLearn()) return -1;
  DIR* dir = ::opendir(folder.c_str());
  if (!dir) return -1;
  std::vector<std::string> names;
  while (const dirent* entry = ::readdir(dir)) {
    const std::string name = entry->d_name;
    if (name.size() > 4 && name.compare(name.size() - 4, 4, ".eml") == 0) names.push_back(name);
  }
  ::closedir(dir);
  std::sort(names.begin(), names.end());
  std::vector<std::string> blocks;
  const std::string base = folder.empty() || folder.back() == '/' ? folder : folder + "/";
  for (const std::string& name : names) {
    std::string block;
    if (ReadHeaderBlock(base + name, block)) blocks.push_back(std::move(block));
  }
  if (LearnHeaderBlocks(store, blocks, junk) < 0) return -1;
  return static_cast<int>(blocks.size());
}

}  // namespace brevan

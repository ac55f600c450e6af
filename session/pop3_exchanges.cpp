#include "session/pop3_exchanges.h"

#include <algorithm>
#include <chrono>

#include "common/codepage.h"
#include "common/split_token.h"
#include "common/trim.h"
#include "decode/unicode_header.h"
#include "filter/filter_rules.h"
#include "filter/obfuscated.h"
#include "net/tcp_client.h"

namespace brevan {

namespace {

constexpr std::string_view kTerminator = "\r\n.\r\n";
constexpr std::string_view kLoneTerminator = ".\r\n";

// The header prefixes and where their values start (0-based): the prefix and
// exactly one more character are skipped.
struct HeaderPrefix {
  std::string_view Name;
  HeaderField Field;
};
constexpr HeaderPrefix kHeaderPrefixes[] = {
    {"from:", HeaderField::From},
    {"subject:", HeaderField::Subject},
    {"date:", HeaderField::Date},
};

bool StartsWithAsciiCaseless(std::string_view line, std::string_view lowerPrefix) {
  if (line.size() < lowerPrefix.size()) return false;
  return AsciiLower(line.substr(0, lowerPrefix.size())) == lowerPrefix;
}

}  // namespace

std::string ListLineSize(const std::string& line) {
  std::string rest = line;
  SplitToken(rest, " ", true);  // the server's message number
  return SplitToken(rest, " ", true);
}

HeaderField RecognizeHeaderLine(std::string_view line, std::string* value) {
  for (const HeaderPrefix& prefix : kHeaderPrefixes) {
    if (!StartsWithAsciiCaseless(line, prefix.Name)) continue;
    if (value) {
      const size_t start = prefix.Name.size() + 1;
      *value = start < line.size() ? std::string(line.substr(start)) : std::string();
    }
    return prefix.Field;
  }
  return HeaderField::None;
}

bool IsJunk(const std::vector<std::string>& rules, std::string_view subject) {
  if (IsObfuscatedSubject(subject)) return true;
  return !MatchFilterRules(rules, subject).empty();
}

std::string JunkReasonText(const JunkVerdict& verdict) {
  switch (verdict.What) {
    case JunkVerdict::Kind::DisguisedWord:
      return Utf8ToAnsi("原因: 偽裝字 ") + verdict.Word;
    case JunkVerdict::Kind::Rule:
      return Utf8ToAnsi("原因: 規則 ") + verdict.Rule + Utf8ToAnsi(" (第 ") + std::to_string(verdict.Line) +
             Utf8ToAnsi(" 行)");
    case JunkVerdict::Kind::None:
      break;
  }
  return {};
}

HeaderField TakeHeaderLine(std::string_view line, const std::vector<std::string>& rules,
                           ListedHeaders& headers) {
  std::string value;
  const HeaderField field = RecognizeHeaderLine(line, &value);
  switch (field) {
    case HeaderField::From:
      headers.Sender = DecodeHeaderUnicode(value);
      break;
    case HeaderField::Subject:
      headers.Subject = CleanSubjectUnicode(DecodeHeaderUnicode(value));
      if (!headers.Junk) {
        // The verdict with its reason comes from the same tests as IsJunk,
        // on what the code page can hold of the subject.
        JunkVerdict verdict = JudgeSubject(rules, CodePageForms(headers.Subject));
        if (verdict.IsJunk()) {
          headers.Junk = true;
          headers.Reason = std::move(verdict);
        }
      }
      break;
    case HeaderField::Date:
      headers.Date = value;
      break;
    case HeaderField::None:
      break;
  }
  return field;
}

int ConnectionReplySource::WaitForData(int timeoutMs) { return connection_.WaitForData(timeoutMs); }
int ConnectionReplySource::BufferedByteCount() { return connection_.BufferedByteCount(); }
std::string ConnectionReplySource::TakeBytes(int n) { return connection_.TakeBytes(n); }
void ConnectionReplySource::Unread(std::string_view bytes) { connection_.Unread(bytes); }
bool ConnectionReplySource::IsOpen() { return connection_.IsOpen(); }
void ConnectionReplySource::Close() { connection_.Close(); }

// ---- the terminating line, piece by piece ----

namespace {

// The length of the longest end of text that is a proper prefix of the
// terminator: where a terminator split by the next receive may begin.
size_t TerminatorPrefixAtEnd(std::string_view text) {
  for (size_t n = std::min(text.size(), kTerminator.size() - 1); n > 0; --n) {
    if (text.substr(text.size() - n) == kTerminator.substr(0, n)) return n;
  }
  return 0;
}

bool IsTerminatorPrefix(std::string_view text) {
  return text.size() <= kTerminator.size() && kTerminator.substr(0, text.size()) == text;
}

}  // namespace

void ReplyTerminatorFilter::Take(std::string_view bytes, const Output& output) {
  received_ += bytes.size();
  if (bytes.size() >= 10) {
    tail_.assign(bytes.substr(bytes.size() - 10));
  } else {
    tail_.append(bytes);
    if (tail_.size() > 10) tail_.erase(0, tail_.size() - 10);
  }
  if (atStart_) {
    // A reply that is ".\r\n" alone is an empty body: nothing of it may go
    // out until it is clear that the reply is more than that.
    if (received_ <= kLoneTerminator.size() && start_.size() + bytes.size() <= kLoneTerminator.size()) {
      start_.append(bytes);
      if (kLoneTerminator.substr(0, start_.size()) == start_) return;
      atStart_ = false;
      std::string start = std::move(start_);
      start_.clear();
      Pass(start, output);
      return;
    }
    atStart_ = false;
    std::string start = std::move(start_);
    start_.clear();
    Pass(start, output);
  }
  Pass(bytes, output);
}

void ReplyTerminatorFilter::Pass(std::string_view bytes, const Output& output) {
  // First settle what the last piece held back, a byte at a time: a
  // terminator begins there, or the first held byte is plain text.
  size_t i = 0;
  while (!held_.empty() && i < bytes.size()) {
    held_ += bytes[i++];
    if (held_ == kTerminator) {
      held_.clear();
      break;
    }
    while (!held_.empty() && !IsTerminatorPrefix(held_)) {
      output(std::string_view(held_).substr(0, 1));
      held_.erase(0, 1);
    }
  }
  if (!held_.empty()) return;  // all of bytes went into the held prefix
  std::string_view rest = bytes.substr(i);
  size_t from = 0;
  for (;;) {
    const size_t hit = rest.find(kTerminator, from);
    if (hit == std::string_view::npos) break;
    if (hit > from) output(rest.substr(from, hit - from));
    from = hit + kTerminator.size();
  }
  rest.remove_prefix(from);
  const size_t keep = TerminatorPrefixAtEnd(rest);
  if (rest.size() > keep) output(rest.substr(0, rest.size() - keep));
  held_.assign(rest.substr(rest.size() - keep));
}

void ReplyTerminatorFilter::Flush(const Output& output) {
  if (atStart_) {
    atStart_ = false;
    // The lone terminating line leaves nothing; any other start is text.
    if (start_ != kLoneTerminator) Pass(start_, output);
    start_.clear();
  }
  if (!held_.empty()) output(held_);
  held_.clear();
}

bool ReplyTerminatorFilter::Ended() const {
  if (received_ == kLoneTerminator.size() && tail_ == kLoneTerminator) return true;
  return tail_.find(kTerminator) != std::string::npos;
}

// ---- the raw reply read ----

RawReplyEnd ReadRawReply(RawReplySource& source, ReplyTerminatorFilter& filter,
                         const ReplyTerminatorFilter::Output& output, const RawReplyEvents& events) {
  int wait = kRawReplyWait;
  int failures = 0;
  // The connection services the window after every wait slice already; this
  // loop adds a round of its own only when the last one is older than
  // kRawReplyEventsMs, so a fast transfer is not held up by the event loop.
  using Clock = std::chrono::steady_clock;
  Clock::time_point lastEvents{};
  bool eventsRun = false;
  auto processEvents = [&] {
    if (!events.ProcessEvents) return;
    const Clock::time_point now = Clock::now();
    if (eventsRun && now - lastEvents < std::chrono::milliseconds(kRawReplyEventsMs)) return;
    events.ProcessEvents();
    lastEvents = Clock::now();
    eventsRun = true;
  };
  auto stopped = [&] { return events.Stop && events.Stop(); };
  for (;;) {
    // Take what is buffered first: the status line's read has often brought
    // the whole reply along already.
    const int buffered = source.BufferedByteCount();
    if (buffered > 0) {
      const int take = std::min(buffered, kRawReplyChunk);
      filter.Take(source.TakeBytes(take), output);
      wait = take == kRawReplyChunk ? kRawReplyBusyWait : kRawReplyWait;
      if (events.Received) events.Received(filter.Received());
    }
    if (filter.Ended()) {
      filter.Flush(output);
      return RawReplyEnd::Complete;
    }
    if (stopped()) return RawReplyEnd::Stopped;
    if (buffered > kRawReplyChunk) {  // more is waiting: no need to wait for it
      processEvents();
      if (stopped()) return RawReplyEnd::Stopped;
      continue;
    }
    // Only once everything buffered is taken: the end may be in it even when
    // the peer has closed meanwhile.
    if (!source.IsOpen()) return RawReplyEnd::Closed;

    if (events.Activity) events.Activity();
    bool waitFailed = false;
    try {
      source.WaitForData(wait);
      failures = 0;
    } catch (...) {
      // A failed wait goes no further than this count.
      waitFailed = true;
    }
    // The wait serviced the window: whatever ran there may have ended this
    // read (a close, a disconnect that took the rest of the reply).
    if (stopped()) return RawReplyEnd::Stopped;
    if (waitFailed && ++failures > kRawReplyMaxFailures) {
      try {
        source.Close();
      } catch (...) {
      }
    }
    processEvents();
    if (stopped()) return RawReplyEnd::Stopped;
  }
}

RawReplyEnd ReadRawReply(RawReplySource& source, std::string& received, const RawReplyEvents& events) {
  received.clear();
  ReplyTerminatorFilter filter;
  return ReadRawReply(source, filter, [&received](std::string_view bytes) { received.append(bytes); }, events);
}

}  // namespace brevan

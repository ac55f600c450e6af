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

bool CapabilitiesOffer(const std::vector<std::string>& capabilityLines, std::string_view tag) {
  for (const std::string& line : capabilityLines) {
    const std::string_view trimmed = TrimBlankView(line);
    if (AsciiLower(trimmed.substr(0, trimmed.find_first_of(" \t"))) == AsciiLower(tag)) return true;
  }
  return false;
}

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

char ReplyTerminatorFilter::Back(std::string_view reply, size_t i) const {
  if (i <= reply.size()) return reply[reply.size() - i];
  i -= reply.size();
  return i <= held_.size() ? held_[held_.size() - i] : '\0';
}

void ReplyTerminatorFilter::Emit(std::string_view reply, size_t keep, const Output& output) {
  const size_t give = held_.size() + reply.size() - keep;
  std::string kept;  // at most four bytes
  if (keep > reply.size()) {
    kept.assign(held_, held_.size() - (keep - reply.size()), std::string::npos);
    kept.append(reply);
  } else {
    kept.assign(reply.substr(reply.size() - keep));
  }
  if (give <= held_.size()) {
    if (give > 0) output(std::string_view(held_).substr(0, give));
  } else {
    if (!held_.empty()) output(held_);
    output(reply.substr(0, give - held_.size()));
  }
  held_ = std::move(kept);
}

size_t ReplyTerminatorFilter::Take(std::string_view bytes, const Output& output) {
  if (end_.Ended()) return 0;
  const size_t taken = end_.Take(bytes);
  const std::string_view reply = bytes.substr(0, taken);
  received_ += taken;
  if (end_.Ended()) {
    // The terminating line goes, and the line end in front of it unless it
    // is the reply's first line.
    size_t drop = Back(reply, 2) == '.' ? 2 : 3;
    if (!end_.AtFirstLine()) {
      ++drop;
      if (Back(reply, drop + 1) == '\r') ++drop;
    }
    Emit(reply, drop, output);
    held_.clear();
    return taken;
  }
  // Held back: what may still turn out to be the line end in front of the
  // terminating line and the start of that line.
  size_t keep = 0;
  if (end_.OpenLineMayEnd()) {
    keep = end_.OpenLineLength();
    if (!end_.AtFirstLine()) {
      ++keep;
      if (Back(reply, keep + 1) == '\r') ++keep;
    }
  } else if (Back(reply, 1) == '\r') {
    keep = 1;
  }
  Emit(reply, keep, output);
  return taken;
}

void ReplyTerminatorFilter::Flush(const Output& output) {
  if (!held_.empty()) output(held_);
  held_.clear();
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
      const std::string bytes = source.TakeBytes(take);
      const size_t used = filter.Take(bytes, output);
      // Bytes past the end are the next reply's.
      if (used < bytes.size()) source.Unread(std::string_view(bytes).substr(used));
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

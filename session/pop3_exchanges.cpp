#include "session/pop3_exchanges.h"

#include <algorithm>
#include <chrono>

#include "common/codepage.h"
#include "common/split_token.h"
#include "common/trim.h"
#include "decode/header_decoder.h"
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
      headers.Sender = DecodeHeaderText(value);
      break;
    case HeaderField::Subject:
      headers.Subject = CleanSubjectText(DecodeHeaderText(value));
      if (!headers.Junk) {
        // The verdict with its reason comes from the same tests as IsJunk.
        JunkVerdict verdict = JudgeSubject(rules, headers.Subject);
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
bool ConnectionReplySource::IsOpen() { return connection_.IsOpen(); }
void ConnectionReplySource::Close() { connection_.Close(); }

bool RawReplyEnded(std::string_view received) {
  if (received == kLoneTerminator) return true;
  const std::string_view tail = received.size() > 10 ? received.substr(received.size() - 10) : received;
  return tail.find(kTerminator) != std::string_view::npos;
}

void RemoveReplyTerminator(std::string& received) {
  if (received == kLoneTerminator) {
    received.clear();
    return;
  }
  // In place, so a large message is never copied.
  size_t out = 0;
  size_t in = 0;
  for (;;) {
    const size_t hit = received.find(kTerminator, in);
    const size_t end = hit == std::string::npos ? received.size() : hit;
    if (out != in) std::copy(received.begin() + static_cast<std::ptrdiff_t>(in),
                             received.begin() + static_cast<std::ptrdiff_t>(end),
                             received.begin() + static_cast<std::ptrdiff_t>(out));
    out += end - in;
    if (hit == std::string::npos) break;
    in = hit + kTerminator.size();
  }
  received.resize(out);
}

RawReplyEnd ReadRawReply(RawReplySource& source, std::string& received, const RawReplyEvents& events) {
  received.clear();
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
  for (;;) {
    // Take what is buffered first: the status line's read has often brought
    // the whole reply along already.
    const int buffered = source.BufferedByteCount();
    if (buffered > 0) {
      const int take = std::min(buffered, kRawReplyChunk);
      received += source.TakeBytes(take);
      wait = take == kRawReplyChunk ? kRawReplyBusyWait : kRawReplyWait;
      if (events.Received) events.Received(received.size());
    }
    if (RawReplyEnded(received)) {
      RemoveReplyTerminator(received);
      return RawReplyEnd::Complete;
    }
    if (events.Stop && events.Stop()) return RawReplyEnd::Stopped;
    if (buffered > kRawReplyChunk) {  // more is waiting: no need to wait for it
      processEvents();
      continue;
    }
    // Only once everything buffered is taken: the end may be in it even when
    // the peer has closed meanwhile.
    if (!source.IsOpen()) return RawReplyEnd::Closed;

    if (events.Activity) events.Activity();
    try {
      source.WaitForData(wait);
      failures = 0;
    } catch (...) {
      // A failed wait goes no further than this count.
      if (++failures > kRawReplyMaxFailures) {
        try {
          source.Close();
        } catch (...) {
        }
      }
    }
    processEvents();
    if (events.Stop && events.Stop()) return RawReplyEnd::Stopped;
  }
}

}  // namespace brevan

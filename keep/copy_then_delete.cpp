#include "keep/copy_then_delete.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <exception>
#include <system_error>

#include "common/app_path.h"
#include "common/codepage.h"
#include "common/file_io.h"
#include "common/trim.h"
#include "keep/kept_copies.h"
#include "net/tcp_client.h"
#include "session/message_writer.h"
#include "session/reply_drain.h"

namespace brevan {

namespace {

using Clock = std::chrono::steady_clock;

// The window's events run after this long at most while the exchange works
// or waits, as in the listing.
constexpr int kServiceMs = 30;
// How often finished flushes are looked for while the server has nothing.
constexpr int kSyncPollMs = 1;
// How often the window is serviced while a flush is waited for.
constexpr std::chrono::milliseconds kSyncServiceInterval{5};

StayReason ReasonOfFileError(int error) {
  switch (error) {
    case ENOSPC:
    case EDQUOT:
    case EFBIG:
      return StayReason::DiskFull;
    case EACCES:
    case EPERM:
    case EROFS:
    case ENOENT:
    case ENOTDIR:
      return StayReason::FolderNotWritable;
    default:
      return StayReason::CopyFailed;
  }
}

int MillisecondsSince(Clock::time_point then) {
  return static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - then).count());
}

}  // namespace

std::vector<int> CopyThenDeleteResult::Deleted() const {
  std::vector<int> numbers;
  for (const MessageOutcome& message : messages)
    if (message.reason == StayReason::None) numbers.push_back(message.number);
  return numbers;
}

CopyThenDelete::CopyThenDelete(TIdTCPConnection& connection, bool pipelining, std::string keptFolder,
                               std::vector<MarkedMessage> marked, CopySteps steps)
    : connection_(connection), pipelining_(pipelining), folder_(std::move(keptFolder)), steps_(std::move(steps)) {
  for (MarkedMessage& message : marked) {
    MessageOutcome outcome;
    outcome.number = message.number;
    outcome.subject = std::move(message.subject);
    result_.messages.push_back(std::move(outcome));
  }
}

CopyThenDelete::~CopyThenDelete() = default;

void CopyThenDelete::Settle(size_t index, StayReason reason) {
  MessageOutcome& message = result_.messages[index];
  if (settledFlags_[index]) return;
  settledFlags_[index] = true;
  message.reason = reason;
  // A copy stays wherever the message may be gone from the server: its
  // "dele" went out (a refusal is not trusted to mean it stayed). One whose
  // "dele" never went out is certainly still there; its copy would only be
  // a second one.
  if (reason != StayReason::None && !deleSent_[index] && !message.copyPath.empty()) {
    ::unlink(message.copyPath.c_str());
    message.copyPath.clear();
  }
  ++settled_;
  if (!copyCounted_[index]) {
    copyCounted_[index] = true;
    ++copiesDone_;
  }
  ReportProgress();
}

void CopyThenDelete::CopyStepDone(size_t index) {
  if (copyCounted_[index]) return;
  copyCounted_[index] = true;
  ++copiesDone_;
  ReportProgress();
}

void CopyThenDelete::ReportProgress() {
  if (!steps_.Progress) return;
  const int count = static_cast<int>(result_.messages.size());
  steps_.Progress(settled_ + (folder_.empty() ? 0 : copiesDone_), folder_.empty() ? count : 2 * count);
}

void CopyThenDelete::Queue(Kind kind, size_t index) {
  const MessageOutcome& message = result_.messages[index];
  std::string text = (kind == Kind::Retr ? "retr " : "dele ") + std::to_string(message.number) + "\r\n";
  out_ += text;
  if (kind == Kind::Retr) ++retrOwed_;
  commands_.push_back({kind, index, std::move(text)});
}

void CopyThenDelete::QueueCommands() {
  if (!stopping_ && steps_.Stop && steps_.Stop()) StopSending();
  if (stopping_) return;
  if (!pipelining_) {
    // One command at a time: a kept copy's "dele" before the next "retr".
    if (!NothingOwed() || !out_.empty() || !syncing_.empty() || !placed_.empty()) return;
    if (!deleQueue_.empty()) {
      Queue(Kind::Dele, deleQueue_.front());
      deleQueue_.erase(deleQueue_.begin());
    } else if (nextRetr_ < result_.messages.size()) {
      Queue(Kind::Retr, nextRetr_++);
    }
    return;
  }
  for (size_t index : deleQueue_) Queue(Kind::Dele, index);
  deleQueue_.clear();
  while (nextRetr_ < result_.messages.size() && retrOwed_ < kKeepPipelineDepth) Queue(Kind::Retr, nextRetr_++);
}

void CopyThenDelete::Pump(int waitMs) {
  const size_t sent = connection_.SendSomeAndReceive(out_, waitMs);
  if (connection_.BufferedByteCount() > 0) lastBytes_ = Clock::now();
  if (sent == 0) return;
  lastBytes_ = Clock::now();
  out_.erase(0, sent);
  size_t left = sent;
  while (left > 0 && unsentFrom_ < commands_.size()) {
    const Command& command = commands_[unsentFrom_];
    const size_t rest = command.text.size() - partSent_;
    if (left < rest) {
      partSent_ += left;
      break;
    }
    left -= rest;
    partSent_ = 0;
    if (command.kind == Kind::Dele) deleSent_[command.index] = true;
    ++unsentFrom_;
  }
  if (steps_.CommandsSent) steps_.CommandsSent();
}

void CopyThenDelete::StopSending() {
  if (stopping_) return;
  stopping_ = true;
  // Commands not begun are never sent; one cut short in the socket must be
  // completed, or the next command would run into it on the same line.
  const size_t begun = unsentFrom_ + (partSent_ > 0 ? 1 : 0);
  if (partSent_ > 0 && commands_[unsentFrom_].kind == Kind::Dele) deleSent_[commands_[unsentFrom_].index] = true;
  commands_.resize(std::max(begun, nextReply_));
  out_ = partSent_ > 0 ? commands_[unsentFrom_].text.substr(partSent_) : std::string();
  deleQueue_.clear();
  // The copy being written goes; its reply is still read to its end.
  if (writer_) writer_->Drop();
}

void CopyThenDelete::Service() {
  lastService_ = Clock::now();
  if (steps_.ProcessEvents) steps_.ProcessEvents();
  if (steps_.Stop && steps_.Stop()) StopSending();
  lastService_ = Clock::now();
}

void CopyThenDelete::TakeReplies() {
  const int buffered = connection_.BufferedByteCount();
  if (buffered > 0) pending_ += connection_.TakeBytes(buffered);
  while (nextReply_ < commands_.size()) {
    if (!(inBody_ ? TakeBody() : TakeStatusLine())) break;
  }
  // Keep only what is not taken, so the buffer never grows with the mailbox.
  pending_.erase(0, pendingAt_);
  pendingAt_ = 0;
}

// A status line is read as ReplyDrain::StatusLine reads one: blank lines before it are
// skipped, and the line is trimmed.
bool CopyThenDelete::TakeStatusLine() {
  const size_t lf = pending_.find('\n', pendingAt_);
  if (lf == std::string::npos) return false;
  const std::string_view status = TrimBlankView(std::string_view(pending_).substr(pendingAt_, lf - pendingAt_));
  pendingAt_ = lf + 1;
  if (status.empty()) return true;
  const Command command = commands_[nextReply_];
  const bool positive = IsPositiveStatus(status);
  if (command.kind == Kind::Retr && positive) {
    inBody_ = true;
    writer_ = std::make_unique<MessageWriter>();
    if (!stopping_) writer_->Open(folder_);
    return true;
  }
  ++nextReply_;
  if (command.kind == Kind::Retr) {
    --retrOwed_;
    Settle(command.index, StayReason::RetrRefused);
  } else {
    Settle(command.index, positive ? StayReason::None : StayReason::DeleRefused);
  }
  QueueCommands();
  return true;
}

bool CopyThenDelete::TakeBody() {
  // The writer's filter ends the body where every reader ends one; what
  // follows it is the next reply's.
  const std::string_view rest = std::string_view(pending_).substr(pendingAt_);
  pendingAt_ += writer_->Filter().Take(rest, writer_->Output());
  if (!writer_->Filter().Ended()) return false;
  BodyEnded();
  return true;
}

void CopyThenDelete::Stayed(size_t index, StayReason reason) {
  Settle(index, reason);
  QueueCommands();
}

void CopyThenDelete::BodyEnded() {
  const size_t index = commands_[nextReply_].index;
  std::unique_ptr<MessageWriter> writer = std::move(writer_);
  inBody_ = false;
  ++nextReply_;
  --retrOwed_;
  if (stopping_) {
    writer->Drop();
    return Stayed(index, StayReason::Stopped);
  }
  writer->End();
  if (!writer->Written()) return Stayed(index, ReasonOfFileError(writer->Error()));
  Syncing entry{index, std::move(writer), {}};
  MessageWriter* file = entry.writer.get();
  try {
    entry.synced = std::async(std::launch::async, [file] { return file->File().Sync(); });
  } catch (const std::system_error&) {
    // No thread to be had: the flush runs here.
    std::promise<bool> done;
    done.set_value(file->File().Sync());
    entry.synced = done.get_future();
  }
  syncing_.push_back(std::move(entry));
  QueueCommands();
}

void CopyThenDelete::PlaceSynced(bool wait) {
  while (!syncing_.empty()) {
    Syncing& front = syncing_.front();
    if (!wait && front.synced.wait_for(std::chrono::seconds(0)) != std::future_status::ready) break;
    // However slow the disk, the window stays alive (and may cancel).
    while (front.synced.wait_for(kSyncServiceInterval) != std::future_status::ready) Service();
    const bool synced = front.synced.get();
    const size_t index = front.index;
    std::unique_ptr<MessageWriter> writer = std::move(front.writer);
    syncing_.pop_front();
    MessageOutcome& message = result_.messages[index];
    if (!synced) {
      Settle(index, ReasonOfFileError(writer->Error()));
      continue;
    }
    if (stopping_) {
      Settle(index, StayReason::Stopped);
      continue;
    }
    const std::time_t now = steps_.Now ? steps_.Now() : std::time(nullptr);
    std::string path;
    if (!PlaceKeptCopy(writer->File(), folder_, message.subject, std::to_string(message.number), now, &path)) {
      Settle(index, ReasonOfFileError(errno));
      continue;
    }
    message.copyPath = path;
    placed_.push_back(index);
  }
  if (placed_.empty() || (!syncing_.empty() && !wait)) {
    // More copies are about to be named: one flush of the folder for all.
    if (placed_.empty()) QueueCommands();
    return;
  }
  // The names must be on the disk too before the messages may go.
  const bool durable = SyncFolder(folder_);
  for (size_t index : placed_) {
    if (!durable || stopping_) {
      Settle(index, durable ? StayReason::Stopped : StayReason::CopyFailed);
    } else {
      deleQueue_.push_back(index);
      CopyStepDone(index);
    }
  }
  placed_.clear();
  QueueCommands();
}

void CopyThenDelete::Fail(StayReason reason) {
  result_.connectionUsable = false;
  if (writer_) writer_->Drop();
  // Copies on their way to the disk become whole copies all the same: the
  // flushes are waited for, and the files go with their writers.
  syncing_.clear();
  for (size_t index = 0; index < result_.messages.size(); ++index) {
    // RFC 1939 section 6: a session that ends without "quit" deletes
    // nothing, so a confirmed "dele" counts for nothing now. Its copy stays.
    if (settledFlags_[index] && result_.messages[index].reason == StayReason::None)
      result_.messages[index].reason = reason;
    Settle(index, reason);
  }
}

CopyThenDeleteResult CopyThenDelete::Run() {
  const size_t count = result_.messages.size();
  settledFlags_.assign(count, false);
  copyCounted_.assign(count, folder_.empty());
  deleSent_.assign(count, false);
  if (count == 0) return result_;
  if (folder_.empty()) {
    // Copies turned off: every message straight to its "dele".
    for (size_t index = 0; index < count; ++index) deleQueue_.push_back(index);
    nextRetr_ = count;
  } else if (!MakePrivateFolder(folder_) || !FolderWritable(folder_)) {
    // Nothing is asked of the server when no copy could be kept.
    for (size_t index = 0; index < count; ++index) Settle(index, StayReason::FolderNotWritable);
    return result_;
  }
  lastBytes_ = lastService_ = Clock::now();
  try {
    if (steps_.Stop && steps_.Stop()) StopSending();
    QueueCommands();
    for (;;) {
      TakeReplies();
      PlaceSynced(false);
      if (NothingOwed() && out_.empty()) {
        // Nothing more will come from the server until the copies are kept.
        PlaceSynced(true);
        if (NothingOwed() && out_.empty()) break;
      }
      if (MillisecondsSince(lastBytes_) > replyBound_.count()) {
        Fail(StayReason::NoReply);
        break;
      }
      int wait = std::clamp(kServiceMs - MillisecondsSince(lastService_), 0, kServiceMs);
      // A flush that ends lets a "dele" go: look again soon.
      if (!syncing_.empty()) wait = std::min(wait, kSyncPollMs);
      Pump(wait);
      if (MillisecondsSince(lastService_) >= kServiceMs) Service();
    }
  } catch (const std::exception& e) {
    result_.error = e.what();
    Fail(StayReason::ConnectionLost);
  }
  writer_.reset();
  syncing_.clear();
  // Left unsettled only by a cancel: never sent, or sent no further.
  for (size_t index = 0; index < count; ++index) Settle(index, StayReason::Stopped);
  return result_;
}

// ---- the message at the end ----

namespace {

// A text of this file (UTF-8 source) in the code page.
std::string Cp(const char* utf8) { return Utf8ToAnsi(utf8); }

std::string ReasonText(StayReason reason) {
  switch (reason) {
    case StayReason::None:
      return {};
    case StayReason::RetrRefused:
      return Cp("伺服器拒絕讀取這封信, 無法先保留副本");
    case StayReason::ConnectionLost:
      return Cp("連線中斷, 副本沒有完成");
    case StayReason::DiskFull:
      return Cp("磁碟空間不足, 無法保留副本");
    case StayReason::FolderNotWritable:
      return Cp("無法寫入保留副本的資料夾");
    case StayReason::CopyFailed:
      return Cp("副本無法寫入磁碟");
    case StayReason::Stopped:
      return Cp("刪除已取消");
    case StayReason::DeleRefused:
      return Cp("伺服器拒絕刪除");
    case StayReason::NoReply:
      return Cp("伺服器沒有回應");
    case StayReason::NoUniqueId:
      return Cp("伺服器沒有提供信件的唯一代碼 (UIDL), 重新連線後無法確認是同一封信");
    case StayReason::NotReopened:
      return Cp("無法重新連線到伺服器");
    case StayReason::Gone:
      return Cp("重新連線後, 伺服器上已經沒有這封信");
  }
  return {};
}

// The subject as a short line of the message: at most kShownSubject bytes,
// never cut inside a double-byte character.
constexpr size_t kShownSubject = 60;
constexpr size_t kShownMessages = 20;

std::string ShortSubject(const std::string& subject) {
  if (subject.size() <= kShownSubject) return subject;
  size_t cut = 0;
  while (cut < subject.size()) {
    const size_t next = cut + (IsLeadByte(static_cast<unsigned char>(subject[cut])) ? 2 : 1);
    if (next > kShownSubject) break;
    cut = next;
  }
  return subject.substr(0, cut) + "...";
}

}  // namespace

std::string StayedOnServerText(const CopyThenDeleteResult& result, bool committed) {
  std::vector<const MessageOutcome*> stayed;
  for (const MessageOutcome& message : result.messages)
    if (message.reason != StayReason::None || !committed) stayed.push_back(&message);
  if (stayed.empty()) return {};
  std::string text;
  if (!committed) {
    // RFC 1939 section 6: without "quit" the server deletes nothing.
    text = Cp("連線在刪除生效前就中斷了, 標記的信全部都還留在伺服器上.");
    return text;
  }
  text = Cp("以下標記的信沒有刪除, 仍留在伺服器上:");
  size_t shown = 0;
  for (const MessageOutcome* message : stayed) {
    if (shown++ == kShownMessages) {
      text += "\r\n" + Cp("另有 ") + std::to_string(stayed.size() - kShownMessages) + Cp(" 封.");
      break;
    }
    text += "\r\n" + Cp("第 ") + std::to_string(message->number) + Cp(" 封 「") + ShortSubject(message->subject) +
            Cp("」: ") + ReasonText(message->reason);
  }
  return text;
}

}  // namespace brevan

#pragma once
// The one end test of a multi-line reply (RFC 1939 section 3), on the bytes
// as they arrive, however they are split: every reader of a multi-line body
// (the drain, the line reader, the download and the kept copy) stops where
// this says, so that none of them takes another reply's bytes for its own or
// leaves bytes of its own behind for the next.
#include <cstddef>
#include <string_view>

namespace brevan {

// The terminating line (its LF taken off) is "." alone, with or without its
// CR: the CR is optional here, as every line's is.
bool IsTerminatingLine(std::string_view line);

class ReplyEnd {
 public:
  // Takes the next bytes of the reply and returns how many of them belong to
  // it: all of them until the terminating line, then up to and including that
  // line's LF; 0 once the reply has ended. A lone "." as the very first line
  // ends the reply as well (an empty body).
  size_t Take(std::string_view bytes);
  bool Ended() const { return ended_; }

  // The bytes of the current, unfinished line so far.
  size_t OpenLineLength() const { return lineLength_; }
  // True while the unfinished line may still turn out to be the terminating
  // line ("", "." or ".\r" so far).
  bool OpenLineMayEnd() const;
  // True until the first LF: the unfinished line is the reply's first.
  bool AtFirstLine() const { return firstLine_; }
  // The unfinished line goes back to the reader and is taken again from its
  // start.
  void RestartLine() { lineLength_ = 0; }

 private:
  size_t lineLength_ = 0;
  char head_[2] = {0, 0};  // the first two bytes of the unfinished line
  bool firstLine_ = true;
  bool ended_ = false;
};

}  // namespace brevan

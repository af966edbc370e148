// One request head as the collector reads it off a connection: the request
// line, given the encoded form (NormalizeRequestLine, so that the raw form of
// older senders reads too), and the few header fields it acts on, within the
// bounds a public server keeps on every head.
#pragma once

#include <cstddef>
#include <optional>
#include <string>

#include "tools/collector/refusal.h"

namespace collector {

struct HeadLimits {
  size_t max_bytes = 16 * 1024;      // the whole head, up to and with its empty line
  size_t max_line_bytes = 8 * 1024;  // the request line as received (before encoding)
  size_t max_lines = 100;            // header lines
};

struct RequestHead {
  std::string method;
  std::string target;      // in the encoded form
  bool keep_alive = true;  // HTTP/1.1 unless "Connection: close"; 1.0 only with keep-alive
};

// Reads a head that begins at the start of a buffer which grows at its end
// between calls; each call looks only at the bytes the last one had not seen.
class HeadReader {
 public:
  enum class State { kPartial, kComplete, kRefused };

  explicit HeadReader(const HeadLimits& limits) : limits_(limits) {}

  State Read(const std::string& buffer);
  // After kComplete: the head, and how many bytes of the buffer it took.
  const RequestHead& head() const { return head_; }
  size_t head_bytes() const { return line_start_; }
  // After kRefused.
  Refusal refusal() const { return refusal_; }
  // For the next head, which the caller has moved to the buffer's start.
  void Reset();

 private:
  State Refuse(Refusal refusal);
  // One whole line (its CR LF or LF taken off).
  std::optional<State> TakeLine(const std::string& line);
  std::optional<State> TakeField(const std::string& line);

  HeadLimits limits_;
  RequestHead head_;
  size_t line_start_ = 0;  // where the line being read begins
  size_t scanned_ = 0;     // bytes already searched for a line end
  size_t lines_ = 0;       // header lines so far
  bool have_request_line_ = false;
  bool http10_ = false;
  bool asked_keep_alive_ = false;
  bool asked_close_ = false;
  Refusal refusal_ = Refusal::kUnreadableHead;
};

}  // namespace collector

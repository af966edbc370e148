#include "tools/collector/request_head.h"

#include "tools/collector/report_parser.h"

namespace collector {

namespace {

std::string Lower(std::string text) {
  for (char& c : text) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return text;
}

std::string Trimmed(const std::string& text) {
  size_t begin = 0, end = text.size();
  while (begin < end && (text[begin] == ' ' || text[begin] == '\t')) ++begin;
  while (end > begin && (text[end - 1] == ' ' || text[end - 1] == '\t')) --end;
  return text.substr(begin, end - begin);
}

bool HasToken(const std::string& list, const std::string& token) {
  size_t start = 0;
  while (start <= list.size()) {
    size_t comma = list.find(',', start);
    if (comma == std::string::npos) comma = list.size();
    if (Trimmed(list.substr(start, comma - start)) == token) return true;
    start = comma + 1;
  }
  return false;
}

}  // namespace

void HeadReader::Reset() { *this = HeadReader(limits_); }

HeadReader::State HeadReader::Refuse(Refusal refusal) {
  refusal_ = refusal;
  return State::kRefused;
}

HeadReader::State HeadReader::Read(const std::string& buffer) {
  for (;;) {
    const size_t newline = buffer.find('\n', scanned_);
    if (newline == std::string::npos) {
      scanned_ = buffer.size();
      // Past a bound there is no need to wait for the line's end (a CR at
      // the end may be the line end's first half).
      const size_t partial = buffer.size() - line_start_ -
                             (buffer.size() > line_start_ && buffer.back() == '\r' ? 1 : 0);
      if (!have_request_line_ && partial > limits_.max_line_bytes) {
        return Refuse(Refusal::kRequestLineTooLong);
      }
      if (buffer.size() > limits_.max_bytes) return Refuse(Refusal::kHeadTooLarge);
      return State::kPartial;
    }
    size_t end = newline;
    if (end > line_start_ && buffer[end - 1] == '\r') --end;
    const std::string line = buffer.substr(line_start_, end - line_start_);
    line_start_ = scanned_ = newline + 1;
    if (!have_request_line_ && line.size() > limits_.max_line_bytes) {
      return Refuse(Refusal::kRequestLineTooLong);
    }
    if (line_start_ > limits_.max_bytes) return Refuse(Refusal::kHeadTooLarge);
    if (std::optional<State> decided = TakeLine(line)) return *decided;
  }
}

std::optional<HeadReader::State> HeadReader::TakeLine(const std::string& line) {
  if (!have_request_line_) {
    // Empty lines before a request line are skipped, as HTTP allows.
    if (line.empty()) return std::nullopt;
    const std::string normal = NormalizeRequestLine(line);
    if (!IsRequestLine(normal)) return Refuse(Refusal::kUnreadableHead);
    const size_t first = normal.find(' ');
    const size_t last = normal.rfind(' ');
    head_.method = normal.substr(0, first);
    head_.target = normal.substr(first + 1, last - first - 1);
    if (head_.target.empty()) return Refuse(Refusal::kUnreadableHead);  // "GET  HTTP/1.1"
    http10_ = normal.compare(last + 1, std::string::npos, "HTTP/1.0") == 0;
    have_request_line_ = true;
    return std::nullopt;
  }
  if (line.empty()) {
    head_.keep_alive = !asked_close_ && (!http10_ || asked_keep_alive_);
    return State::kComplete;
  }
  if (++lines_ > limits_.max_lines) return Refuse(Refusal::kTooManyHeaderLines);
  return TakeField(line);
}

std::optional<HeadReader::State> HeadReader::TakeField(const std::string& line) {
  const size_t colon = line.find(':');
  // A blank before the colon (a folded line among them) is refused, as HTTP
  // asks: a field name read two ways is how requests are smuggled.
  if (colon == std::string::npos || colon == 0 || line.find_first_of(" \t") < colon) {
    return Refuse(Refusal::kUnreadableHead);
  }
  const std::string name = Lower(line.substr(0, colon));
  const std::string value = Trimmed(line.substr(colon + 1));
  if (name == "transfer-encoding") return Refuse(Refusal::kBody);
  if (name == "content-length") {
    if (value.empty() || value.size() > 18 ||
        value.find_first_not_of("0123456789") != std::string::npos) {
      return Refuse(Refusal::kUnreadableHead);
    }
    // No report has a body, and one left unread would be taken for the
    // next request.
    if (value.find_first_not_of('0') != std::string::npos) return Refuse(Refusal::kBody);
  } else if (name == "connection") {
    const std::string tokens = Lower(value);
    asked_close_ = asked_close_ || HasToken(tokens, "close");
    asked_keep_alive_ = asked_keep_alive_ || HasToken(tokens, "keep-alive");
  }
  return std::nullopt;
}

}  // namespace collector

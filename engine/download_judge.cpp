#include "engine/download_judge.h"

#include <cstdlib>

#include "platform/ascii.h"
#include "platform/md5.h"

namespace {

// A Content-Length of more than 9 characters is not read (the Windows client
// asks for it in a buffer of 10 bytes).
constexpr size_t kLongestLength = 9;
constexpr size_t kLongestTitle = 60;

}  // namespace

DownloadJudge::DownloadJudge(const DownloadRules& rules) : rules_(rules) {
  if (!rules_.md5.empty() || rules_.digestWanted) md5_.reset(new platform::Md5);
}

DownloadJudge::~DownloadJudge() = default;

DownloadVerdict DownloadJudge::JudgeHead(int status, bool hasLength, const std::string& length,
                                         uint32_t now) {
  windowStart_ = now;
  if (status != 200) return DownloadVerdict::kNotOk;
  if (!hasLength || length.size() > kLongestLength) return DownloadVerdict::kNoLength;
  total_ = std::strtoul(length.c_str(), nullptr, 10);
  return DownloadVerdict::kAccepted;
}

size_t DownloadJudge::Fits(size_t size) const {
  const uint64_t left = total_ > received_ ? total_ - received_ : 0;
  return size > left ? static_cast<size_t>(left) : size;
}

bool DownloadJudge::Add(const char* data, size_t size, uint32_t now) {
  if (lead_.size() < kLeadBytes) {
    lead_.append(data, size < kLeadBytes - lead_.size() ? size : kLeadBytes - lead_.size());
  }
  if (md5_) md5_->Update(data, size);
  received_ += size;
  if (whole()) return false;
  if (now - windowStart_ >= rules_.stallLimitMs) {  // unsigned: a wrap does no harm
    if (received_ - windowFrom_ < kLeastBytesPerStallLimit) {
      trickled_ = true;
      return false;
    }
    windowStart_ = now;
    windowFrom_ = received_;
  }
  return true;
}

DownloadVerdict DownloadJudge::JudgeBody() {
  if (trickled_) return DownloadVerdict::kTrickled;
  if (!whole()) return DownloadVerdict::kEndedEarly;
  if (md5_ && md5Hex_.empty()) md5Hex_ = md5_->HexDigest();
  // A provider that cannot hash gives no digest, which matches nothing.
  if (!rules_.md5.empty() && md5Hex_ != rules_.md5) return DownloadVerdict::kDigestMismatch;
  if (lead_.compare(0, rules_.leadingBytes.size(), rules_.leadingBytes) != 0) {
    return DownloadVerdict::kNotTheInstaller;
  }
  return DownloadVerdict::kAccepted;
}

bool LooksLikeHtml(const std::string& lead, const std::string& contentType, std::string* title) {
  title->clear();
  const std::string text = platform::AsciiLower(lead);
  size_t start = text.compare(0, 3, "\xef\xbb\xbf") == 0 ? 3 : 0;  // a UTF-8 byte order mark
  start = text.find_first_not_of(" \t\r\n", start);
  if (start == std::string::npos || text[start] != '<') return false;
  bool html = platform::AsciiLower(contentType).compare(0, 9, "text/html") == 0;
  for (const char* tag : {"<!doctype html", "<html", "<head", "<body", "<title"}) {
    if (text.find(tag, start) != std::string::npos) html = true;
  }
  if (!html) return false;
  const size_t open = text.find("<title");
  const size_t from = open == std::string::npos ? open : text.find('>', open);
  const size_t to = from == std::string::npos ? from : text.find("</title", from);
  if (to != std::string::npos) {
    for (size_t i = from + 1; i < to && title->size() < kLongestTitle; ++i) {
      const char c = lead[i];
      const bool blank = c == ' ' || c == '\t' || c == '\r' || c == '\n';
      if (blank && (title->empty() || title->back() == ' ')) continue;
      if (static_cast<unsigned char>(c) >= 0x20 || blank) title->push_back(blank ? ' ' : c);
    }
    while (!title->empty() && title->back() == ' ') title->pop_back();
  }
  return true;
}

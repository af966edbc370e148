#include "engine/download_judge.h"

#include <cstdlib>

#include "platform/digest.h"

namespace engine {

namespace {

// "bytes FIRST-LAST/SIZE", digits only.
bool ParseContentRange(const std::string& text, uint64_t* first, uint64_t* last, uint64_t* size) {
  const char* p = text.c_str();
  if (text.compare(0, 6, "bytes ") != 0) return false;
  p += 6;
  uint64_t* fields[] = {first, last, size};
  const char kAfter[] = {'-', '/', '\0'};
  for (int i = 0; i < 3; ++i) {
    const char* start = p;
    *fields[i] = 0;
    while (*p >= '0' && *p <= '9' && p - start < 18) *fields[i] = *fields[i] * 10 + (*p++ - '0');
    if (p == start || *p != kAfter[i]) return false;
    if (i < 2) ++p;
  }
  return true;
}

}  // namespace

bool ContinuesFrom(const std::string& content_range, uint64_t from, uint64_t total) {
  uint64_t first = 0, last = 0, size = 0;
  return ParseContentRange(content_range, &first, &last, &size) && first == from && size == total &&
         last + 1 == total;
}

DownloadRules RulesFor(const std::string& md5, const std::string& sha256,
                       const std::string& leading_bytes, uint32_t stall_limit_ms) {
  DownloadRules rules;
  rules.md5 = md5;
  rules.sha256 = sha256;
  rules.leading_bytes = leading_bytes;
  rules.stall_limit_ms = stall_limit_ms;
  return rules;
}

std::string ResumeValidator(const std::string& etag, const std::string& last_modified) {
  // A client may send a date only when it has no entity tag (RFC 9110, If-Range).
  if (!etag.empty()) {
    return etag.compare(0, 2, "W/") != 0 && platform::IsPlainHeaderValue(etag) ? etag : "";
  }
  return platform::IsPlainHeaderValue(last_modified) ? last_modified : "";
}

DownloadJudge::DownloadJudge(const DownloadRules& rules) : rules_(rules) { StartDigests(); }

void DownloadJudge::StartDigests() {
  md5_.reset();
  sha256_.reset();
  if (!rules_.md5.empty() || rules_.digest_wanted) {
    md5_.reset(new platform::Digest(platform::DigestAlgorithm::kMd5));
  }
  if (!rules_.sha256.empty()) {
    sha256_.reset(new platform::Digest(platform::DigestAlgorithm::kSha256));
  }
}

DownloadJudge::~DownloadJudge() = default;

bool DownloadJudge::can_verify() const { return !sha256_ || sha256_->ok(); }

DownloadVerdict DownloadJudge::JudgeHead(int status, bool has_length, const std::string& length,
                                         uint32_t now) {
  window_start_ = now;
  if (status != 200) return DownloadVerdict::kNotOk;
  if (!has_length || length.size() > kLongestLength) return DownloadVerdict::kNoLength;
  total_ = std::strtoul(length.c_str(), nullptr, 10);
  return DownloadVerdict::kAccepted;
}

bool ContinuesVersion(const platform::HttpHead& part, const std::string& etag,
                      const std::string& last_modified, uint64_t from, uint64_t total) {
  const bool other_version = (!part.etag.empty() && part.etag != etag) ||
                             (!part.last_modified.empty() && part.last_modified != last_modified);
  return !other_version && ContinuesFrom(part.content_range, from, total) &&
         (!part.has_length || std::strtoull(part.length.c_str(), nullptr, 10) == total - from);
}

DownloadVerdict DownloadJudge::JudgeHead(const platform::HttpHead& head, uint32_t now) {
  etag_ = head.etag;
  last_modified_ = head.last_modified;
  validator_ = ResumeValidator(etag_, last_modified_);
  return JudgeHead(head.status, head.has_length, head.length, now);
}

DownloadVerdict DownloadJudge::JudgeResumedHead(const platform::HttpHead& head, uint32_t now) {
  if (head.status == 200) {
    received_ = 0;
    window_from_ = 0;
    lead_.clear();
    StartDigests();
    const DownloadVerdict verdict = JudgeHead(head, now);
    return verdict == DownloadVerdict::kAccepted ? DownloadVerdict::kRestarted : verdict;
  }
  window_start_ = now;
  window_from_ = received_;
  if (head.status != 206) return DownloadVerdict::kNotOk;
  return ContinuesVersion(head, etag_, last_modified_, received_, total_)
             ? DownloadVerdict::kAccepted
             : DownloadVerdict::kWrongRange;
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
  if (sha256_) sha256_->Update(data, size);
  received_ += size;
  if (whole()) return false;
  if (now - window_start_ >= rules_.stall_limit_ms) {  // unsigned: a wrap does no harm
    if (received_ - window_from_ < kLeastBytesPerStallLimit) {
      trickled_ = true;
      return false;
    }
    window_start_ = now;
    window_from_ = received_;
  }
  return true;
}

DownloadVerdict DownloadJudge::JudgeBody() {
  if (trickled_) return DownloadVerdict::kTrickled;
  if (!whole()) return DownloadVerdict::kEndedEarly;
  if (md5_ && md5_hex_.empty()) md5_hex_ = md5_->HexDigest();
  if (sha256_ && sha256_hex_.empty()) sha256_hex_ = sha256_->HexDigest();
  // A provider that cannot hash gives no digest, which matches nothing.
  if (!rules_.md5.empty() && md5_hex_ != rules_.md5) return DownloadVerdict::kDigestMismatch;
  if (sha256_ && sha256_hex_ != rules_.sha256) return DownloadVerdict::kSha256Mismatch;
  if (lead_.compare(0, rules_.leading_bytes.size(), rules_.leading_bytes) != 0) {
    return DownloadVerdict::kNotTheInstaller;
  }
  return DownloadVerdict::kAccepted;
}

}  // namespace engine

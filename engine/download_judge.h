// What the bootstrapper accepts as a download, judged from the answer's head
// and then its body as it arrives. The downloader and `bootpack check` both
// ask it, so the check sees a server exactly as a player's machine does.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "platform/http.h"

namespace platform {
class Digest;
}  // namespace platform

namespace engine {

// A server that keeps the transfer alive with a byte now and then never
// leaves it waiting a whole stall limit, yet would hold the download for days:
// each stall limit must bring at least this much, or the server has stalled.
constexpr uint64_t kLeastBytesPerStallLimit = 1024;

// The first bytes of a body that are kept to look at.
constexpr size_t kLeadBytes = 4096;

// A Content-Length of more characters is not read (the Windows client asks
// for it in a buffer of 10 bytes).
constexpr size_t kLongestLength = 9;

struct DownloadRules {
  std::string md5;            // the digest the file must have; empty: not compared
  std::string sha256;         // the same in lower case, for a SHA-256 digest
  std::string leading_bytes;  // what the file must begin with; empty: anything
  uint32_t stall_limit_ms = 60000;
  bool digest_wanted = false;  // compute the MD5 even without one to compare
};

// The rules of a file that must have `md5` and `sha256` (empty: not compared)
// and begin with `leading_bytes`, its server waited for at most
// `stall_limit_ms`: the downloader and bootpack check both build them here.
DownloadRules RulesFor(const std::string& md5, const std::string& sha256,
                       const std::string& leading_bytes, uint32_t stall_limit_ms);

enum class DownloadVerdict {
  kAccepted,         // the head: read the body; the body: the file is the installer
  kNotOk,            // the head: a status other than 200
  kNoLength,         // the head: no Content-Length of at most 9 characters
  kEndedEarly,       // the body: fewer bytes than announced
  kTrickled,         // the body: a stall limit brought less than 1 KiB
  kDigestMismatch,   // the body: its MD5 is not the configured one
  kSha256Mismatch,   // the body: its SHA-256 is not the configured one
  kNotTheInstaller,  // the body: it does not begin as the installer must
  kRestarted,        // a resumed head: a 200, the whole file again (the judge starts over)
  kWrongRange,       // a resumed head: a 206 of another part, or of another version
};

// At least this much of a body must have arrived before a broken transfer is
// resumed rather than started again, and at most this many resumes per address.
constexpr uint64_t kLeastResumedBytes = 64 * 1024;
constexpr int kMostResumes = 3;

// Whether a partial answer's Content-Range ("bytes FIRST-LAST/SIZE") holds
// the rest of a file of `total` bytes from `from` on, as a resume needs.
bool ContinuesFrom(const std::string& content_range, uint64_t from, uint64_t total);

// What an If-Range may carry to name the version an answer holds: its strong
// ETag, else (when it has no ETag) its Last-Modified. Empty when neither can
// go in a header, or the ETag is weak: a range then could splice two versions.
std::string ResumeValidator(const std::string& etag, const std::string& last_modified);

// Whether a 206 holds the rest of the version the first answer named (its
// `etag`, its `last_modified`), from `from` on of `total` bytes: the same
// ETag or Last-Modified where it names one (a server that ignores If-Range
// but honours Range sends another version's; one that names none went by
// the If-Range), that Content-Range and that Content-Length where it gives one.
bool ContinuesVersion(const platform::HttpHead& part, const std::string& etag,
                      const std::string& last_modified, uint64_t from, uint64_t total);

class DownloadJudge {
 public:
  explicit DownloadJudge(const DownloadRules& rules);
  ~DownloadJudge();
  DownloadJudge(const DownloadJudge&) = delete;
  DownloadJudge& operator=(const DownloadJudge&) = delete;

  // False when a configured digest cannot be computed here: the download
  // would fail whatever arrives, so it is not asked for.
  bool can_verify() const;

  // The final answer's head, which came at `now` (a platform::TickCount): its
  // status (0 when it had none) and its Content-Length as sent. kAccepted
  // when the body is to be read.
  DownloadVerdict JudgeHead(int status, bool has_length, const std::string& length, uint32_t now);
  // The same, and the version the head names is kept for a resume (validator()).
  DownloadVerdict JudgeHead(const platform::HttpHead& head, uint32_t now);

  // The head of a request for the rest of the file, from received() on: a
  // 206 whose Content-Range goes on from there to the announced end, and
  // that names no other version (ETag, Last-Modified) than the first head,
  // continues the file (kAccepted, and the digests go on); a 200 starts it
  // over (kRestarted, judged as a first head); another 206 is kWrongRange,
  // any other status kNotOk.
  DownloadVerdict JudgeResumedHead(const platform::HttpHead& head, uint32_t now);

  // How many of `size` more bytes belong to the file: none past the announced
  // length (Wine's WinINet may hand them on when the server sends more).
  size_t Fits(size_t size) const;
  // Takes bytes of the file (at most what Fits allowed) that came at `now`.
  // False once the body must not be waited for any longer: it is whole, or
  // it trickles.
  bool Add(const char* data, size_t size, uint32_t now);

  // Once the body has ended, or Add said to stop.
  DownloadVerdict JudgeBody();

  uint64_t total() const { return total_; }
  uint64_t received() const { return received_; }
  bool whole() const { return received_ >= total_; }
  // The body ended before the announced length without trickling: a reset,
  // a short body or a stall, worth asking for the rest of.
  bool broke_off() const { return !whole() && !trickled_; }
  // The body's first bytes (up to kLeadBytes).
  const std::string& lead() const { return lead_; }
  // The digests of the bytes taken, once JudgeBody has run; empty when not computed.
  const std::string& md5() const { return md5_hex_; }
  const std::string& sha256() const { return sha256_hex_; }
  // What a request for the rest asks for in its If-Range (ResumeValidator of
  // the head the file began with); empty: the file cannot be resumed.
  const std::string& validator() const { return validator_; }

 private:
  void StartDigests();

  const DownloadRules rules_;
  uint64_t total_ = 0;
  uint64_t received_ = 0;
  uint32_t window_start_ = 0;
  uint64_t window_from_ = 0;  // received_ when the window began
  bool trickled_ = false;
  std::string lead_;
  std::unique_ptr<platform::Digest> md5_;     // when a digest is compared or wanted
  std::unique_ptr<platform::Digest> sha256_;  // when one is configured
  std::string md5_hex_;
  std::string sha256_hex_;
  // The version the file's first head named (its 200's, of a start over too).
  std::string etag_;
  std::string last_modified_;
  std::string validator_;
};

}  // namespace engine

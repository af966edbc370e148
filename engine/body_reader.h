// A download's body read round by round (QueryAvailable, then Read) as a
// DownloadJudge takes it: the downloader and bootpack check both read so.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>

namespace platform {
class Clock;
class HttpDownload;
}  // namespace platform

namespace engine {

class DownloadJudge;

enum class BodyEnd {
  kTaken,    // the judge wants no more (whole, or a trickle), or `limit` bytes came
  kEnded,    // the body ended, or the connection closed before its end
  kBroken,   // the transfer failed, stalled or was cancelled
  kRefused,  // `keep` said to stop
};

// Reads until the judge has `limit` bytes of the file at most; each piece it
// takes goes on to `keep`, which returns false to stop. `clock` times the
// pieces for the judge's stall limit.
BodyEnd ReadBody(platform::HttpDownload& download, DownloadJudge& judge, platform::Clock& clock,
                 uint64_t limit, const std::function<bool(const char* data, size_t size)>& keep);

}  // namespace engine

#include "engine/body_reader.h"

#include <vector>

#include "engine/download_judge.h"
#include "platform/clock.h"
#include "platform/http.h"

namespace engine {

BodyEnd ReadBody(platform::HttpDownload& download, DownloadJudge& judge, platform::Clock& clock,
                 uint64_t limit, const std::function<bool(const char* data, size_t size)>& keep) {
  std::vector<char> buffer;
  while (!judge.whole() && judge.received() < limit) {
    uint32_t available = 0;
    if (!download.QueryAvailable(&available)) return BodyEnd::kBroken;
    if (available == 0) return BodyEnd::kEnded;
    const uint64_t left = limit - judge.received();
    const uint32_t wanted = available < left ? available : static_cast<uint32_t>(left);
    buffer.resize(wanted);
    uint32_t got = 0;
    if (!download.Read(buffer.data(), wanted, &got)) return BodyEnd::kBroken;
    if (got == 0) continue;
    const size_t kept = judge.Fits(got);
    const bool more = judge.Add(buffer.data(), kept, clock.TickCount());
    if (!keep(buffer.data(), kept)) return BodyEnd::kRefused;
    if (!more) break;
  }
  return BodyEnd::kTaken;
}

}  // namespace engine

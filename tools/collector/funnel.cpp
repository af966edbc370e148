#include "tools/collector/funnel.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include "tools/collector/store.h"

namespace collector {

namespace {

// A store in memory that no one else reads, for records summed up apart
// from any store's own aggregates.
std::unique_ptr<Store> SideStore() {
  std::string error;
  std::unique_ptr<Store> store = OpenStore(":memory:", &error);
  if (!store) {
    std::fprintf(stderr, "kestrel-collector: no store in memory: %s\n", error.c_str());
    std::abort();
  }
  return store;
}

}  // namespace

std::string RunLabel(const std::string& token) {
  return token.substr(0, std::min<size_t>(8, token.size() / 2)) + "...";
}

std::optional<FunnelReport> BuildFunnelReport(Store& store, const FunnelFilter& filter,
                                              std::string* error) {
  if (filter.since_ms <= 0) return store.Funnel(filter.watermark, error);
  std::unique_ptr<Store> side = SideStore();
  std::vector<ReportRecord> chunk;
  bool appended = true;
  auto flush = [&] {
    appended = appended && side->Append(chunk, error);
    chunk.clear();
  };
  if (!store.ForEach(
          filter.since_ms,
          [&](const ReportRecord& r) {
            chunk.push_back(r);
            if (chunk.size() == 10000) flush();
          },
          error)) {
    return std::nullopt;
  }
  flush();
  if (!appended) return std::nullopt;
  return side->Funnel(filter.watermark, error);
}

FunnelReport SummarizeRecords(const std::vector<ReportRecord>& records,
                              const FunnelFilter& filter) {
  std::unique_ptr<Store> side = SideStore();
  std::vector<ReportRecord> taken;
  for (const ReportRecord& r : records) {
    if (r.received_ms >= filter.since_ms) taken.push_back(r);
  }
  std::string error;
  std::optional<FunnelReport> report;
  if (!side->Append(taken, &error) || !(report = side->Funnel(filter.watermark, &error))) {
    std::fprintf(stderr, "kestrel-collector: summing up in memory: %s\n", error.c_str());
    std::abort();
  }
  return *report;
}

}  // namespace collector

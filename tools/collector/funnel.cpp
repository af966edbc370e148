#include "tools/collector/funnel.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

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

// The records `store` received within the range, counted into `side`'s
// aggregates. `side` keeps the aggregates only, its copies of the records go
// after each chunk: what a range costs in memory is its runs, not its
// records; and a range of more than kMostRangeRecords is refused.
bool SumUpRange(Store& store, const FunnelFilter& range, Store& side, std::string* error) {
  const int64_t until_ms = range.until_ms.value_or(INT64_MAX);
  const std::optional<uint64_t> count = store.CountReceived(range.since_ms, until_ms, error);
  if (!count) return false;
  if (*count > kMostRangeRecords) {
    *error = "the range holds " + std::to_string(*count) + " records, more than the " +
             std::to_string(kMostRangeRecords) +
             " a range may; a shorter one, or none (the whole store's funnel is kept as it goes)";
    return false;
  }
  std::vector<ReportRecord> chunk;
  bool appended = true;
  auto flush = [&] {
    appended = appended && side.Append(chunk, error) && side.Prune(INT64_MAX, error).has_value();
    chunk.clear();
  };
  if (!store.ForEach(
          range.since_ms,
          [&](const ReportRecord& r) {
            chunk.push_back(r);
            if (chunk.size() == 10000) flush();
          },
          error, until_ms)) {
    return false;
  }
  flush();
  return appended;
}

}  // namespace

std::string RunLabel(const std::string& token) {
  return token.substr(0, std::min<size_t>(8, token.size() / 2)) + "...";
}

std::optional<int64_t> ParseReceivedTime(const std::string& text) {
  const std::string zero = "1970-01-01 00:00:00.000";
  // A day, a minute, a second or a millisecond: never half a field.
  if (text.size() != 10 && text.size() != 16 && text.size() != 19 && text.size() != 23)
    return std::nullopt;
  return diagnostics::TimestampMs(text + zero.substr(text.size()));
}

const char* SetTimeRange(const std::optional<std::string>& since,
                         const std::optional<std::string>& until, FunnelFilter* filter) {
  std::optional<int64_t> ms;
  if (since) {
    if (!(ms = ParseReceivedTime(*since))) return "since";
    filter->since_ms = *ms;
  }
  if (until) {
    if (!(ms = ParseReceivedTime(*until))) return "until";
    filter->until_ms = *ms;
  }
  return nullptr;
}

std::optional<std::vector<FunnelReport>> BuildFunnelReports(
    Store& store, const FunnelFilter& range, const std::vector<std::optional<std::string>>& builds,
    std::string* error) {
  std::vector<FunnelReport> reports;
  std::unique_ptr<Store> side;
  if (range.since_ms > 0 || range.until_ms) {
    side = SideStore();
    if (!SumUpRange(store, range, *side, error)) return std::nullopt;
  }
  for (const std::optional<std::string>& build : builds) {
    std::optional<FunnelReport> report = (side ? *side : store).Funnel(build, error);
    if (!report) return std::nullopt;
    reports.push_back(std::move(*report));
  }
  return reports;
}

std::optional<FunnelReport> BuildFunnelReport(Store& store, const FunnelFilter& filter,
                                              std::string* error) {
  std::optional<std::vector<FunnelReport>> reports =
      BuildFunnelReports(store, filter, {filter.watermark}, error);
  if (!reports) return std::nullopt;
  return std::move(reports->front());
}

FunnelReport SummarizeRecords(const std::vector<ReportRecord>& records,
                              const FunnelFilter& filter) {
  std::unique_ptr<Store> side = SideStore();
  std::vector<ReportRecord> taken;
  for (const ReportRecord& r : records) {
    if (r.received_ms >= filter.since_ms && r.received_ms < filter.until_ms.value_or(INT64_MAX))
      taken.push_back(r);
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

#include "tools/collector/refusal.h"

namespace collector {

namespace {

// In the order of the enumeration.
constexpr RefusalInfo kRefusals[kRefusalCount] = {
    {"unreadable_head", 400},
    {"request_line_too_long", 414},
    {"head_too_large", 400},
    {"too_many_header_lines", 400},
    {"body", 400},
    {"head_deadline", 0},
    {"answer_deadline", 0},
    {"connections", 0},
    {"connections_per_address", 0},
    {"rate", 0},
    {"store_full", 503},
    {"store_failed", 503},
    {"admin_busy", 503},
};

}  // namespace

const RefusalInfo& DescribeRefusal(Refusal refusal) { return kRefusals[static_cast<int>(refusal)]; }

}  // namespace collector

// Why the collector refused a request or a connection: the name it is counted
// under in /metrics and the answer it gets. A refusal without an answer closes
// the connection unanswered, so that the sender keeps the record and sends it
// again on its next pass (it takes any answer for a delivery).
#pragma once

namespace collector {

enum class Refusal {
  kUnreadableHead,  // no request line, a header line without a colon, a bad length
  kRequestLineTooLong,
  kHeadTooLarge,
  kTooManyHeaderLines,
  kBody,            // a Content-Length above 0 or any Transfer-Encoding
  kHeadDeadline,    // the head was not whole within its deadline
  kAnswerDeadline,  // the peer did not take its answer within the deadline
  kConnections,     // every connection the server keeps is taken
  kConnectionsPerAddress,
  kRate,         // the address has spent its request budget
  kStoreFull,    // the store is past the operator's size cap
  kStoreFailed,  // the store refused the commit or did not answer in time
  kAdminBusy,    // report pages already waiting
};
constexpr int kRefusalCount = static_cast<int>(Refusal::kAdminBusy) + 1;

struct RefusalInfo {
  const char* label;  // the metric's reason="..."
  int status;         // the answer's status; 0: none, the connection is closed
};

const RefusalInfo& DescribeRefusal(Refusal refusal);

}  // namespace collector

#include "tools/bootpack/check_http.h"

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <vector>

#include "platform/http.h"

// From the C runtime (msvcrt); declared here so that no Windows header is needed.
extern "C" int _isatty(int descriptor);

namespace bootpack {
namespace {

TransferEnd EndFor(uint32_t error) {
  switch (error) {
    case 12007:  // ERROR_INTERNET_NAME_NOT_RESOLVED
      return TransferEnd::kNotResolved;
    case 12029:  // ERROR_INTERNET_CANNOT_CONNECT
      return TransferEnd::kNotConnected;
    case 12002:  // ERROR_INTERNET_TIMEOUT
    case 10060:  // WSAETIMEDOUT, as Wine reports it
      return TransferEnd::kTimedOut;
    case 12030:  // ERROR_INTERNET_CONNECTION_ABORTED
    case 12031:  // ERROR_INTERNET_CONNECTION_RESET
    case 12152:  // ERROR_HTTP_INVALID_SERVER_RESPONSE
      return TransferEnd::kBroken;
    default:
      return TransferEnd::kFailed;
  }
}

TransferResult Fetch(const CheckRequest& request, CheckObserver* observer) {
  TransferResult result;
  std::unique_ptr<platform::HttpSession> session =
      platform::HttpSession::Open(request.user_agent, request.session_flags);
  if (!session) {
    result.detail = "the internet session could not be opened";
    return result;
  }
  std::unique_ptr<platform::HttpDownload> download = platform::HttpDownload::Start(
      *session, request.url, request.request_flags, request.timeout_ms);
  uint32_t error = 0;
  std::string response_text;
  if (!download->WaitForHead(&error, &response_text)) {
    result.end = download->stalled() ? TransferEnd::kTimedOut : EndFor(error);
    result.detail = "WinINet error " + std::to_string(error);
    if (!response_text.empty()) result.detail += ": " + response_text;
    return result;
  }
  CheckResponseHead head;
  std::string status;
  if (download->QueryStatus(&status)) head.status = std::atoi(status.c_str());
  head.has_length = download->QueryContentLength(&head.length_digits);
  observer->OnHead(head);
  std::vector<char> buffer;
  for (;;) {
    uint32_t available = 0;
    if (!download->QueryAvailable(&available)) break;
    if (available == 0) {
      result.end = TransferEnd::kComplete;
      return result;
    }
    buffer.resize(available);
    uint32_t got = 0;
    if (!download->Read(buffer.data(), available, &got)) break;
    if (got > 0 && !observer->OnBody(buffer.data(), got)) {
      result.end = TransferEnd::kStopped;
      return result;
    }
  }
  result.end = download->stalled() ? TransferEnd::kTimedOut : TransferEnd::kBroken;
  return result;
}

}  // namespace

TransferResult CheckTransfer(const CheckRequest& request, CheckObserver* observer) {
  // A player's first run finds nothing cached for the address; neither may
  // the check, or it would judge an earlier answer instead of the server's.
  platform::DropCachedCopy(request.url);
  TransferResult result = Fetch(request, observer);
  // Nor does the check leave a copy behind for the next one.
  platform::DropCachedCopy(request.url);
  return result;
}

bool StderrIsTerminal() { return _isatty(_fileno(stderr)) != 0; }

}  // namespace bootpack

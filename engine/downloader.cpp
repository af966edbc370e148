#include "engine/downloader.h"

#include <cstdio>
#include <cstdlib>
#include <vector>

#include "diagnostics/error_texts.h"
#include "diagnostics/event_catalog.h"
#include "diagnostics/event_logger.h"
#include "engine/file_md5.h"
#include "engine/install_step.h"
#include "engine/pipeline_signals.h"
#include "platform/clock.h"
#include "platform/files.h"
#include "platform/http.h"
#include "platform/system.h"

namespace {

int Fail(EventId id) {
  PostEvent(id);
  return id;
}

int FailWithText(const std::string& text) {
  PostErrorEvent(kHttpError, text);
  return kHttpError;
}

std::string ByteCounts(double received, double total) {
  return std::to_string(static_cast<unsigned long long>(received)) + " of " +
         std::to_string(static_cast<unsigned long long>(total)) + " bytes arrived.";
}

std::string ShortBodyText(double received, double total) {
  return "The download ended early: " + ByteCounts(received, total);
}

constexpr char kNotTheInstallerText[] = "The server sent something other than the installer.";

// Whether the file at `path` begins with `lead`.
bool FileBegins(const std::string& path, const std::string& lead) {
  platform::UniqueFile file = platform::OpenFile(path, "rb");
  if (!file) return false;
  std::string head(lead.size(), '\0');
  return std::fread(&head[0], 1, head.size(), file.get()) == head.size() && head == lead;
}

constexpr char kNoAnswerText[] = "The server stopped sending before its answer began.";
constexpr char kRefusedRedirectText[] =
    "The server redirected the download to an address that is not a plain http or https "
    "address.";

std::string StalledText(double received, double total) {
  return "The server stopped sending: " + ByteCounts(received, total);
}

// Lets AbortInstallation reach the download while it waits for the server.
class TransferRegistration {
 public:
  TransferRegistration(PipelineSignals& signals, platform::HttpDownload& download)
      : signals_(signals) {
    platform::LockGuard guard(signals_.transferLock);
    signals_.transfer = &download;
    // A cancel that came before the registration found nothing to end.
    if (signals_.abortFlag.load()) download.Cancel();
  }
  ~TransferRegistration() {
    platform::LockGuard guard(signals_.transferLock);
    signals_.transfer = nullptr;
  }
  TransferRegistration(const TransferRegistration&) = delete;
  TransferRegistration& operator=(const TransferRegistration&) = delete;

 private:
  PipelineSignals& signals_;
};

// The transfer once the request is out: its head, then the body into the file.
// `finalUrl` is where the answer came from, once its head is in.
int Receive(InstallStep& step, platform::HttpDownload& download, std::string* finalUrl) {
  PipelineSignals& signals = step.signals();
  uint32_t error = 0;
  std::string response;
  if (!download.WaitForHead(&error, &response)) {
    if (signals.abortFlag.load()) return Fail(kDownloadTerminated);
    if (step.url.empty()) return FailWithText("URL is blank.");
    if (download.stalled()) return FailWithText(kNoAnswerText);
    if (download.redirect_refused()) return FailWithText(kRefusedRedirectText);
    return FailWithText(!response.empty() ? response : DescribeHttpStatus(static_cast<int>(error)));
  }
  *finalUrl = download.final_url();

  std::string digits;
  const int status = download.QueryStatus(&digits) ? std::atoi(digits.c_str()) : 0;
  if (status != 200) return FailWithText(DescribeHttpStatus(status));
  if (!download.QueryContentLength(&digits)) {
    return FailWithText("Failed to retrieve file size, possibly due to an invalid URL.");
  }
  const double total = static_cast<double>(std::strtoul(digits.c_str(), nullptr, 10));
  step.bytesTotal.store(total);

  platform::UniqueFile file = platform::OpenFile(step.localPath, "wb");
  if (!file) return Fail(kFileCreationFailed);

  std::vector<char> buffer;
  bool writeFailed = false;
  bool trickled = false;
  const uint32_t stallLimitMs = step.downloadTiming.stallLimitMs;
  uint32_t windowStart = platform::TickCount();
  double windowFrom = 0.0;  // bytesReceived when the window began
  for (;;) {
    uint32_t available = 0;
    if (!download.QueryAvailable(&available) || signals.abortFlag.load() || available == 0) {
      break;
    }
    buffer.resize(available);
    uint32_t got = 0;
    if (!download.Read(buffer.data(), available, &got)) break;
    if (got == 0) continue;
    // Bytes past the announced length are not the file: Wine's WinINet may
    // hand them on when the server sends more.
    const double left = total - step.bytesReceived.load();
    if (got > left) got = static_cast<uint32_t>(left);
    if (std::fwrite(buffer.data(), 1, got, file.get()) != got) {
      writeFailed = true;
      break;
    }
    step.bytesReceived.store(step.bytesReceived.load() + got);
    InstallStep::RaiseFraction(step.downloadFraction, step.bytesReceived.load() / total);
    step.NotifyProgress();
    if (step.bytesReceived.load() >= total) break;  // the whole file is in
    const uint32_t now = platform::TickCount();
    if (now - windowStart >= stallLimitMs) {  // unsigned: a wrap does no harm
      if (step.bytesReceived.load() - windowFrom < kLeastBytesPerStallLimit) {
        trickled = true;
        break;
      }
      windowStart = now;
      windowFrom = step.bytesReceived.load();
    }
  }
  // A full disk may show only when the buffered tail is written.
  if (std::fclose(file.release()) != 0) writeFailed = true;

  if (signals.abortFlag.load()) return Fail(kDownloadTerminated);  // the partial file stays
  if (writeFailed) {
    platform::RemoveFile(step.localPath);
    return Fail(kFileCreationFailed);
  }
  if (download.stalled() || trickled) {
    platform::RemoveFile(step.localPath);
    return FailWithText(StalledText(step.bytesReceived.load(), total));
  }
  if (step.bytesReceived.load() < total) {
    // The connection ended before the announced length: never hand on a short file.
    platform::RemoveFile(step.localPath);
    return FailWithText(ShortBodyText(step.bytesReceived.load(), total));
  }
  return 1;
}

int Transfer(InstallStep& step) {
  // Each address is an attempt of its own: bytes of an earlier, broken one
  // must not make a short body look whole.
  step.bytesReceived.store(0.0);
  step.bytesTotal.store(0.0);
  std::unique_ptr<platform::HttpSession> session =
      platform::HttpSession::Open(kDownloadUserAgent, kDownloadSessionFlags);
  if (!session) return Fail(kInternetSessionFailed);
  int result;
  std::string finalUrl = step.url;
  {
    std::unique_ptr<platform::HttpDownload> download = platform::HttpDownload::Start(
        *session, step.url, kDownloadRequestFlags, step.downloadTiming.stallLimitMs);
    TransferRegistration registration(step.signals(), *download);
    result = Receive(step, *download, &finalUrl);
  }
  if (result != 1) return result;
  if (step.verifyDigest && Md5Differs(step.localPath, step.md5)) {
    platform::RemoveFile(step.localPath);
    // The system's cache keeps the answer under the address it came from too.
    platform::DropCachedCopy(step.url);
    if (finalUrl != step.url) platform::DropCachedCopy(finalUrl);
    return Fail(kMd5CheckFailed);
  }
  if (!step.leadingBytes.empty() && !FileBegins(step.localPath, step.leadingBytes)) {
    platform::RemoveFile(step.localPath);
    return FailWithText(kNotTheInstallerText);
  }
  step.downloadDone.Release();
  return 1;
}

}  // namespace

int DownloadFile(InstallStep& step) {
  step.phase = 1;
  if (step.signals().abortFlag.load()) return Fail(kDownloadTerminated);
  if (step.availableLocally) {
    step.downloadDone.Release();
    PostEvent(kLocalInstallerFound);
    return 1;
  }
  try {
    return Transfer(step);
  } catch (...) {
    return FailWithText(DescribeHttpStatus(static_cast<int>(platform::LastErrorCode())));
  }
}

// Download and MD5 under Wine: the product's DownloadFile with its digest
// check, against the same transfer written as the plainest WinINet loop with
// a CryptoAPI MD5 afterwards, from the same server in the same prefix.
// Under Wine the platform itself is slow (about 75 MB/s for WinINet), so the
// question is what the product adds to what the platform costs.
#include <windows.h>
// After windows.h, which they need.
#include <wincrypt.h>
#include <wininet.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "bench/bench_fakes.h"
#include "bench/win32/bench_common.h"
#include "diagnostics/event_sink.h"
#include "engine/downloader.h"
#include "engine/file_digest.h"
#include "engine/install_manager.h"
#include "engine/install_step.h"
#include "engine/process_runner.h"
#include "engine/run_context.h"
#include "platform/clock.h"
#include "platform/files.h"
#include "platform/http.h"
#include "platform/message_box.h"
#include "platform/msi.h"
#include "platform/registry.h"
#include "platform/signature.h"

namespace wine_bench {
namespace {

// The product's session and request flags, so both sides ask WinINet for the
// same work (its URL cache included).
constexpr DWORD kSessionFlags = 0x00080200;
constexpr DWORD kRequestFlags = 0x28400800;

using bench::CountingView;
using bench::NoBoxes;

// Receives the body into `path`; the byte count, or -1 on failure.
long long BareDownload(const std::string& url, const std::string& path) {
  HINTERNET internet =
      InternetOpenA("bench", INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, kSessionFlags);
  if (!internet) return -1;
  HINTERNET request = InternetOpenUrlA(internet, url.c_str(), nullptr, 0, kRequestFlags, 0);
  HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  long long total = request && file != INVALID_HANDLE_VALUE ? 0 : -1;
  std::vector<char> buffer(64 * 1024);
  DWORD available = 0;
  while (total >= 0 && InternetQueryDataAvailable(request, &available, 0, 0) && available > 0) {
    if (available > buffer.size()) available = static_cast<DWORD>(buffer.size());
    DWORD got = 0, written = 0;
    if (!InternetReadFile(request, buffer.data(), available, &got)) total = -1;
    if (got > 0 && (!WriteFile(file, buffer.data(), got, &written, nullptr) || written != got)) {
      total = -1;
    }
    if (total >= 0) total += got;
  }
  if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
  if (request) InternetCloseHandle(request);
  InternetCloseHandle(internet);
  return total;
}

// The transfers alone, into memory: the bare loop, and the product's
// HttpDownload (a transfer thread and a ring the owner reads from) with the
// same flags. The byte count, or -1 on failure.
long long BareTransfer(const std::string& url) {
  HINTERNET internet =
      InternetOpenA("bench", INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, kSessionFlags);
  if (!internet) return -1;
  HINTERNET request = InternetOpenUrlA(internet, url.c_str(), nullptr, 0, kRequestFlags, 0);
  long long total = request ? 0 : -1;
  std::vector<char> buffer(64 * 1024);
  DWORD available = 0;
  while (total >= 0 && InternetQueryDataAvailable(request, &available, 0, 0) && available > 0) {
    if (available > buffer.size()) available = static_cast<DWORD>(buffer.size());
    DWORD got = 0;
    if (!InternetReadFile(request, buffer.data(), available, &got)) total = -1;
    if (total >= 0) total += got;
  }
  if (request) InternetCloseHandle(request);
  InternetCloseHandle(internet);
  return total;
}

long long ProductTransfer(const std::string& url) {
  std::unique_ptr<platform::HttpSession> session =
      platform::HttpSession::Open("bench", engine::kDownloadSession);
  if (!session) return -1;
  std::unique_ptr<platform::HttpDownload> download =
      platform::HttpDownload::Start(*session, url, engine::kDownloadRequest, 60000);
  uint32_t error = 0;
  std::string response;
  if (!download->WaitForHead(&error, &response)) return -1;
  std::vector<char> buffer;
  long long total = 0;
  uint32_t available = 0;
  while (download->QueryAvailable(&available) && available > 0) {
    buffer.resize(available);
    uint32_t got = 0;
    if (!download->Read(buffer.data(), available, &got)) return -1;
    total += got;
  }
  return total;
}

// CALG_SHA_256, which the headers name only for Windows XP SP3 and later.
constexpr ALG_ID kSha256 = ALG_CLASS_HASH | ALG_TYPE_ANY | 12;

// The file's digest by CryptoAPI in 64 KiB reads (MD5, or SHA-256 from the
// AES provider); empty on failure.
std::string BareDigest(const std::string& path, ALG_ID algorithm = CALG_MD5) {
  HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                            FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
  if (file == INVALID_HANDLE_VALUE) return std::string();
  HCRYPTPROV provider = 0;
  HCRYPTHASH hash = 0;
  std::string text;
  const DWORD kind = algorithm == CALG_MD5 ? PROV_RSA_FULL : PROV_RSA_AES;
  if (CryptAcquireContextA(&provider, nullptr, nullptr, kind, CRYPT_VERIFYCONTEXT) &&
      CryptCreateHash(provider, algorithm, 0, 0, &hash)) {
    std::vector<BYTE> buffer(64 * 1024);
    DWORD got = 0;
    bool ok = true;
    while (ok && ReadFile(file, buffer.data(), static_cast<DWORD>(buffer.size()), &got, nullptr) &&
           got > 0) {
      ok = CryptHashData(hash, buffer.data(), got, 0) != 0;
    }
    BYTE digest[32];
    DWORD length = sizeof digest;
    if (ok && CryptGetHashParam(hash, HP_HASHVAL, digest, &length, 0)) {
      static const char kHex[] = "0123456789abcdef";
      for (DWORD i = 0; i < length; ++i) {
        text += kHex[digest[i] >> 4];
        text += kHex[digest[i] & 0x0F];
      }
    }
  }
  if (hash) CryptDestroyHash(hash);
  if (provider) CryptReleaseContext(provider, 0);
  CloseHandle(file);
  return text;
}

// The benchmark keeps no log.
class DroppedEvents : public diagnostics::EventSink {
 public:
  void Post(diagnostics::EventId) override {}
};

// One DownloadFile of a .NET step (its digest is checked), as the
// DownloadThread runs it; true on success.
bool ProductDownload(const std::string& url, const std::string& folder, const std::string& md5,
                     const std::string& sha256 = std::string(),
                     const std::string& signer = std::string()) {
  engine::PipelineSignals signals;
  NoBoxes boxes;
  CountingView view;
  signals.progressWindow = &view;
  // The product's own workers; the registry and the Installer are not asked.
  engine::PipelineThreads threads;
  engine::HttpDownloader downloader;
  engine::ProcessInstallerRunner installers;
  DroppedEvents events;
  const engine::RunContext context{events,
                                   signals,
                                   threads,
                                   boxes,
                                   platform::SystemRegistry(),
                                   platform::SystemWindowsInstaller(),
                                   platform::SystemClock(),
                                   downloader,
                                   installers};
  engine::InstallManager manager(context);
  engine::StepPlan plan =
      engine::DownloadedInstaller(nullptr, url, folder, "product.bin", md5, sha256, signer);
  plan.verify_digest = true;
  manager.AddStep(std::make_unique<engine::InstallStep>(plan));
  return manager.steps()[0]->Download() == 1;
}

}  // namespace

int DownloadMain(int argc, char** argv) {
  if (argc != 2 && argc != 3) return 2;
  const std::string url = argv[0];
  const int runs = std::max(1, std::atoi(argv[1]));
  const std::string folder = TempFolder() + "kestrel-bench";
  CreateDirectoryA(folder.c_str(), nullptr);
  const std::string bare_path = folder + "\\bare.bin";
  const std::string product_path = folder + "\\product.bin";

  std::vector<double> bare_total, bare_md5, product_total, product_md5, bare_transfer,
      product_transfer;
  std::string digest;
  long long size = 0;
  // Taken in turns, so a change in the machine's load hits both alike.
  for (int run = 0; run < runs; ++run) {
    DeleteFileA(bare_path.c_str());
    const double bare_start = Now();
    size = BareDownload(url, bare_path);
    const double bare_middle = Now();
    digest = BareDigest(bare_path);
    const double bare_end = Now();
    if (size <= 0 || digest.empty()) {
      std::printf("download: the bare loop failed in run %d\n", run + 1);
      return 1;
    }
    // The product's own file must not be there: a matching one would be
    // taken as a local copy.
    DeleteFileA(product_path.c_str());
    const double product_start = Now();
    const bool ok = ProductDownload(url, folder, digest);
    const double product_end = Now();
    if (!ok || platform::FileSize(product_path) != size) {
      std::printf("download: DownloadFile failed in run %d\n", run + 1);
      return 1;
    }
    // The digest check alone, on the file in the cache, against CryptoAPI alone.
    const double md5_start = Now();
    const bool differs = engine::Md5Differs(product_path, digest);
    const double md5_end = Now();
    if (differs) {
      std::printf("download: the digests differ\n");
      return 1;
    }
    // Where a difference lies: the transfers alone, without the file.
    const double transfer_start = Now();
    const long long bare_bytes = BareTransfer(url);
    const double transfer_middle = Now();
    const long long product_bytes = ProductTransfer(url);
    const double transfer_end = Now();
    if (bare_bytes != size || product_bytes != size) {
      std::printf("download: a transfer into memory failed in run %d\n", run + 1);
      return 1;
    }
    bare_transfer.push_back(transfer_middle - transfer_start);
    product_transfer.push_back(transfer_end - transfer_middle);
    bare_total.push_back(bare_end - bare_start);
    bare_md5.push_back(bare_end - bare_middle);
    product_total.push_back(product_end - product_start);
    product_md5.push_back(md5_end - md5_start);
    std::printf(
        "run %d: DownloadFile + Md5Differs %.2f s (Md5Differs alone %.2f s)   bare WinINet "
        "loop + CryptoAPI MD5 %.2f s (MD5 %.2f s)   into memory: HttpDownload %.2f s, bare "
        "loop %.2f s\n",
        run + 1, product_total.back(), product_md5.back(), bare_total.back(), bare_md5.back(),
        product_transfer.back(), bare_transfer.back());
  }
  std::printf("download: %lld bytes, MD5 %s\n", size, digest.c_str());
  const double mib = size / 1048576.0;
  PrintFigure("Wine: download + MD5 of " + std::to_string(static_cast<int>(mib)) +
                  " MiB (DownloadFile with its digest check)",
              Median(product_total), "s", "bare WinINet loop + CryptoAPI MD5", Median(bare_total),
              1.15);
  // Each run's pair was taken back to back: their ratio is the one a drift
  // in the machine's load disturbs least.
  std::vector<double> ratios;
  for (size_t i = 0; i < bare_total.size(); ++i) ratios.push_back(product_total[i] / bare_total[i]);
  std::printf("download: median of the %zu runs' own ratios %.2f\n", ratios.size(), Median(ratios));
  PrintFigure("Wine: download + MD5, median of each run's own ratio", Median(ratios), "x",
              "1.00 (the bare loop's own)", 1.0, 1.15);
  // The host's own tools on the same server, timed by bench/run.sh.
  if (argc == 3) {
    PrintFigure("Wine: download + MD5, against the host's tools (reference)", Median(product_total),
                "s", "curl + md5sum on the host", std::strtod(argv[2], nullptr), 0);
  }
  PrintFigure("Wine: the transfer alone into memory (platform::HttpDownload)",
              Median(product_transfer), "s", "bare WinINet loop into memory", Median(bare_transfer),
              0);
  PrintFigure("Wine: MD5 of the downloaded file (Md5Differs)", Median(product_md5), "s",
              "CryptoAPI MD5, 64 KiB reads", Median(bare_md5), 0);
  DeleteFileA(bare_path.c_str());
  DeleteFileA(product_path.c_str());
  RemoveDirectoryA(folder.c_str());
  return 0;
}

// The whole download of a signed FILE served at `url`, MD5, SHA-256 and
// signer configured, against the bare loop doing the same work; in turns.
int TrustedDownloads(const std::string& url, int runs, const std::string& file,
                     const std::string& signer) {
  const std::string md5 = BareDigest(file), sha256 = BareDigest(file, kSha256);
  const std::string folder = TempFolder() + "kestrel-bench";
  CreateDirectoryA(folder.c_str(), nullptr);
  const std::string bare_path = folder + "\\bare.bin", product_path = folder + "\\product.bin";
  std::vector<double> product, bare;
  for (int run = 0; run < runs; ++run) {
    DeleteFileA(bare_path.c_str());
    const double bare_start = Now();
    const bool bare_ok =
        BareDownload(url, bare_path) == platform::FileSize(file) && BareDigest(bare_path) == md5 &&
        BareDigest(bare_path, kSha256) == sha256 &&
        platform::CheckSignature(bare_path, signer, 60000) == platform::SignatureVerdict::kSignedBy;
    const double bare_end = Now();
    DeleteFileA(product_path.c_str());
    const double product_start = Now();
    const bool product_ok = ProductDownload(url, folder, md5, sha256, signer);
    const double product_end = Now();
    if (!bare_ok || !product_ok) {
      std::printf("verify: the trusted download failed in run %d (bare %d, product %d)\n", run + 1,
                  bare_ok, product_ok);
      return 1;
    }
    bare.push_back(bare_end - bare_start);
    product.push_back(product_end - product_start);
    std::printf(
        "run %d: DownloadFile with MD5, SHA-256 and signer %.2f s   bare loop with the "
        "same checks %.2f s\n",
        run + 1, product.back(), bare.back());
  }
  PrintFigure("Wine: download + MD5 + SHA-256 + signature of " +
                  std::to_string(platform::FileSize(file) >> 20) + " MiB (DownloadFile)",
              Median(product), "s", "bare WinINet loop + CryptoAPI MD5 and SHA-256 + signature",
              Median(bare), 1.15);
  DeleteFileA(bare_path.c_str());
  DeleteFileA(product_path.c_str());
  RemoveDirectoryA(folder.c_str());
  return 0;
}

// The checks a configured SHA-256 and signer add to a download, on a signed
// FILE in the cache, against the product's transfer of as many bytes from URL;
// with TRUSTED_URL (serving FILE itself), the whole download with its MD5,
// SHA-256 and signer checked against the bare WinINet loop, CryptoAPI's two
// digests and the signature check of the same file.
int VerifyMain(int argc, char** argv) {
  if (argc != 5 && argc != 6) return 2;
  const std::string url = argv[0];
  const int runs = std::max(1, std::atoi(argv[1]));
  const std::string file = argv[2], authority = argv[3], signer = argv[4];
  // The test root, in this run's own prefix.
  std::string der;
  if (platform::UniqueFile in = platform::OpenFile(authority, "rb")) {
    char chunk[4096];
    size_t got;
    while ((got = std::fread(chunk, 1, sizeof chunk, in.get())) > 0) der.append(chunk, got);
  }
  HCERTSTORE store =
      CertOpenStore(CERT_STORE_PROV_SYSTEM_A, 0, 0, CERT_SYSTEM_STORE_LOCAL_MACHINE, "ROOT");
  if (!store || !CertAddEncodedCertificateToStore(
                    store, X509_ASN_ENCODING, reinterpret_cast<const BYTE*>(der.data()),
                    static_cast<DWORD>(der.size()), CERT_STORE_ADD_REPLACE_EXISTING, nullptr)) {
    std::printf("verify: the test root could not be trusted\n");
    return 1;
  }
  CertCloseStore(store, 0);
  engine::FileDigest(file, platform::DigestAlgorithm::kSha256);  // into the cache
  std::vector<double> checks, sha256, signature, transfer;
  for (int run = 0; run < runs; ++run) {
    const double start = Now();
    const std::string digest = engine::FileDigest(file, platform::DigestAlgorithm::kSha256);
    const double middle = Now();
    const platform::SignatureVerdict verdict = platform::CheckSignature(file, signer, 60000);
    const double end = Now();
    const long long bytes = ProductTransfer(url);
    const double transferred = Now();
    if (digest.size() != 64 || verdict != platform::SignatureVerdict::kSignedBy || bytes <= 0) {
      std::printf("verify: run %d failed (digest %s, verdict %d, %lld bytes)\n", run + 1,
                  digest.c_str(), static_cast<int>(verdict), bytes);
      return 1;
    }
    sha256.push_back(middle - start);
    signature.push_back(end - middle);
    checks.push_back(end - start);
    transfer.push_back(transferred - end);
    std::printf("run %d: SHA-256 %.2f s, signature %.2f s, the download %.2f s\n", run + 1,
                sha256.back(), signature.back(), transfer.back());
  }
  const std::string mib = std::to_string(platform::FileSize(file) >> 20);
  PrintFigure("Wine: SHA-256 + signature check of a " + mib + " MiB signed file", Median(checks),
              "s", "the product's download of as many bytes (into memory)", Median(transfer), 0);
  PrintFigure("Wine: SHA-256 alone", Median(sha256), "s", "the same download", Median(transfer), 0);
  PrintFigure("Wine: signature check alone", Median(signature), "s", "the same download",
              Median(transfer), 0);
  if (argc == 6) return TrustedDownloads(argv[5], runs, file, signer);
  return 0;
}

}  // namespace wine_bench

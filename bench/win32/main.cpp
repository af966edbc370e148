// Benchmarks of the Windows build, run under Wine by bench/run.sh:
//   wine_bench download URL RUNS [S]   DownloadFile + Md5Differs against a
//                                      bare WinINet loop + CryptoAPI MD5 (and
//                                      against S, the host's curl + md5sum;
//                                      and both transfers alone, into memory)
//   wine_bench tail POLLS              bytes read per poll of a growing
//                                      launcher output file
//   wine_bench watch RUNS EXE BYTES [CONTROL]
//                                      start-up of the packed EXE (a payload
//                                      of BYTES): time to event 3019 and peak
//                                      working set, against reading EXE once
//                                      (and CONTROL, the stub without it)
//   wine_bench read FILE               reads FILE once (the peer of start-up)
//   wine_bench verify URL RUNS FILE DER SIGNER
//                                      SHA-256 + the signature check of a signed
//                                      FILE (from the root DER) against the
//                                      download of as many bytes from URL
// Figures go to standard output as FIGURE lines among the readable ones.
#include <cstdio>
#include <cstring>

#include "bench/win32/bench_common.h"

int main(int argc, char** argv) {
  if (argc >= 2) {
    const char* command = argv[1];
    if (std::strcmp(command, "download") == 0) return wine_bench::DownloadMain(argc - 2, argv + 2);
    if (std::strcmp(command, "tail") == 0) return wine_bench::TailMain(argc - 2, argv + 2);
    if (std::strcmp(command, "watch") == 0) return wine_bench::WatchMain(argc - 2, argv + 2);
    if (std::strcmp(command, "read") == 0) return wine_bench::ReadMain(argc - 2, argv + 2);
    if (std::strcmp(command, "verify") == 0) return wine_bench::VerifyMain(argc - 2, argv + 2);
  }
  std::fprintf(
      stderr,
      "usage: wine_bench download URL RUNS [S] | tail POLLS | watch RUNS EXE BYTES [CONTROL] | "
      "read FILE | verify URL RUNS FILE DER SIGNER\n");
  return 2;
}

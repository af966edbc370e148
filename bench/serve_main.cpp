// The loopback server for the Windows benchmarks, run on the host: Wine
// reaches the host's 127.0.0.1, and a server outside the prefix takes no
// time from the wineserver the measured program talks to.
//   bench_server SIZE_BYTES | --file PATH
// Prints the port once it listens; serves the generated body of SIZE_BYTES
// (or the bytes of PATH) to every request until its standard input closes.
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>

#include "tests/servers/loopback_http_server.h"

int main(int argc, char** argv) {
  const bool from_file = argc == 3 && std::string(argv[1]) == "--file";
  if (argc != 2 && !from_file) {
    std::fprintf(stderr, "usage: bench_server SIZE_BYTES | --file PATH\n");
    return 2;
  }
  std::string body;
  if (from_file) {
    std::ifstream in(argv[2], std::ios::binary);
    body.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    if (body.empty()) {
      std::fprintf(stderr, "bench_server: nothing to serve in %s\n", argv[2]);
      return 1;
    }
  }
  testing_servers::LoopbackHttpServer server;
  if (server.Start(0) != testing_servers::LoopbackHttpServer::StartResult::kOk) {
    std::fprintf(stderr, "bench_server: the server did not start\n");
    return 1;
  }
  server.SetDefaultResponse(
      from_file ? testing_servers::ResponsePlan::Status(200, body)
                : testing_servers::ResponsePlan::Generated(std::strtoull(argv[1], nullptr, 10)));
  std::printf("%d\n", server.port());
  std::fflush(stdout);
  while (std::getchar() != EOF) {
  }
  return 0;
}

// The loopback server for the Windows benchmarks, run on the host: Wine
// reaches the host's 127.0.0.1, and a server outside the prefix takes no
// time from the wineserver the measured program talks to.
//   bench_server SIZE_BYTES
// Prints the port once it listens; serves the generated body of SIZE_BYTES
// to every request until its standard input closes.
#include <cstdio>
#include <cstdlib>

#include "tests/servers/loopback_http_server.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: bench_server SIZE_BYTES\n");
    return 2;
  }
  testing_servers::LoopbackHttpServer server;
  if (server.Start(0) != testing_servers::LoopbackHttpServer::StartResult::kOk) {
    std::fprintf(stderr, "bench_server: the server did not start\n");
    return 1;
  }
  server.SetDefaultResponse(
      testing_servers::ResponsePlan::Generated(std::strtoull(argv[1], nullptr, 10)));
  std::printf("%d\n", server.port());
  std::fflush(stdout);
  while (std::getchar() != EOF) {
  }
  return 0;
}

// A collector killed under load keeps every report it answered.
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <map>
#include <mutex>
#include <thread>

#include "tools/collector/collector_test_support.h"
#include "tools/collector/store.h"

extern char** environ;

namespace {

// Starts `kestrel-collector serve` on a free loopback port; the port, or 0.
int StartCollector(const std::string& db, pid_t* pid) {
  int out[2];
  if (pipe(out) != 0) return 0;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, out[1], 1);
  posix_spawn_file_actions_addclose(&actions, out[0]);
  std::string program = KESTREL_COLLECTOR;
  std::vector<std::string> args = {program,          "serve",       "--listen", "127.0.0.1:0",
                                   "--admin-listen", "127.0.0.1:0", "--db",     db};
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(&a[0]);
  argv.push_back(nullptr);
  const int rc = posix_spawn(pid, program.c_str(), &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  close(out[1]);
  if (rc != 0) {
    close(out[0]);
    return 0;
  }
  std::string line;
  char c;
  while (read(out[0], &c, 1) == 1 && c != '\n') line += c;
  close(out[0]);
  const size_t colon = line.rfind(':');
  return colon == std::string::npos ? 0 : std::atoi(line.c_str() + colon + 1);
}

TEST(CollectorCrashTest, AKillDuringLoadLosesNoAnsweredReport) {
  collector_test::TempFolder folder;
  const std::string db = folder.path() + "/reports.db";
  pid_t pid = 0;
  const int port = StartCollector(db, &pid);
  ASSERT_GT(port, 0);

  std::mutex lock;
  std::vector<std::string> answered;
  std::atomic<bool> dead{false};
  std::vector<std::thread> clients;
  for (int c = 0; c < 8; ++c) {
    clients.emplace_back([&, c] {
      // An address each, so that no client spends another's request budget.
      collector_test::RawClient client(port, "127.0.0." + std::to_string(10 + c));
      for (int i = 0; !dead; ++i) {
        const std::string token = "run-" + std::to_string(c) + "-" + std::to_string(i);
        const int status = client.Send(
            collector_test::ReportLine(token, 3000, "2026-12-07 22:56:28.094", i % 2 == 1));
        // The server is gone, or this address's budget is spent.
        if (status == 0) return;
        ASSERT_EQ(status, 200);
        std::lock_guard<std::mutex> guard(lock);
        answered.push_back(token);
      }
    });
  }
  // Kill it once a good number of reports were answered, mid-stream.
  const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  for (;;) {
    {
      std::lock_guard<std::mutex> guard(lock);
      if (answered.size() >= 400) break;
    }
    ASSERT_LT(std::chrono::steady_clock::now(), give_up) << "the collector answered too few";
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  kill(pid, SIGKILL);
  int status = 0;
  waitpid(pid, &status, 0);
  dead = true;
  for (std::thread& t : clients) t.join();

  std::string error;
  std::unique_ptr<Store> store = OpenStore(db, &error);
  ASSERT_TRUE(store) << error;
  std::map<std::string, int> stored;
  ASSERT_TRUE(store->ForEach(
      0, [&stored](const ReportRecord& r) { ++stored[r.token]; }, &error));
  for (const std::string& token : answered) EXPECT_EQ(stored[token], 1) << token;
  for (const auto& [token, count] : stored) EXPECT_EQ(count, 1) << token;
  EXPECT_GE(stored.size(), answered.size());
}

}  // namespace

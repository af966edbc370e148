#include "tools/collector/report_page.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <thread>

#include "tools/collector/collector_server.h"
#include "tests/collector/test_support.h"
#include "tools/collector/funnel_tally.h"

namespace collector {

namespace {

constexpr int kShotHeight = 1250;

std::vector<ReportRecord> RoadsAndAHostileText() {
  std::vector<ReportRecord> records = collector_test::RecordedRoads();
  ReportRecord hostile = records.back();
  hostile.event_id = 9058;
  hostile.description = "HTTP ERROR: <script>alert('x')</script> & \x01";
  records.push_back(hostile);
  ReportRecord build = hostile;
  build.token = "run-odd-build";
  build.event_id = diagnostics::kWatermarkReported;
  build.watermark = "a&b c+\"";
  records.push_back(build);
  return records;
}

TEST(ReportPageTest, TheFunnelAsBarsAndTheTextsEscaped) {
  const std::string page = RenderReportPage(SummarizeRecords(RoadsAndAHostileText(), {}));
  size_t bars = 0;
  for (size_t at = page.find("<rect"); at != std::string::npos; at = page.find("<rect", at + 1)) {
    ++bars;
  }
  EXPECT_EQ(bars, SummarizeRecords({}, {}).all.steps.size());
  EXPECT_EQ(page.find("<script"), std::string::npos);
  EXPECT_NE(page.find("HTTP ERROR: &lt;script&gt;alert(&#39;x&#39;)&lt;/script&gt; &amp;  "),
            std::string::npos);
  EXPECT_NE(page.find("<a href=\"/report?watermark=wm-A\">wm-A</a>"), std::string::npos);
  EXPECT_NE(page.find("<a href=\"/report?watermark=a%26b%20c%2B%22\">a&amp;b c+&quot;</a>"),
            std::string::npos);
}

// However much the store holds, the page shows a bounded number of rows,
// each text cut, and no run's token.
TEST(ReportPageTest, BoundedWhateverTheStoreHolds) {
  std::vector<ReportRecord> records;
  for (int i = 0; i < 300; ++i) {
    ReportRecord r = collector_test::RecordedRoads().front();
    r.token = "0f8fad5b-d9cb-469f-a165-" + std::to_string(100000000000 + i);
    r.event_id = i % 2 ? diagnostics::kWatermarkReported : diagnostics::kHttpError;
    r.watermark = "build-" + std::to_string(i);
    r.description = std::string(2000, 'd') + std::to_string(i);
    records.push_back(r);
  }
  const std::string page = RenderReportPage(SummarizeRecords(records, {}));
  EXPECT_LT(page.size(), 100000u);
  EXPECT_NE(page.find("Builds with fewer runs are not listed"), std::string::npos);
  EXPECT_EQ(page.find(std::string(kAggregateTextBytes, 'd')), std::string::npos);
  EXPECT_EQ(page.find("0f8fad5b-d9cb"), std::string::npos);
  EXPECT_NE(page.find("<td>0f8fad5b...</td>"), std::string::npos);
}

// Width and height of a PNG file from its header, or {0, 0}.
std::pair<int, int> PngSize(const std::string& bytes) {
  if (bytes.size() < 24 || bytes.compare(0, 8, "\x89PNG\r\n\x1a\n") != 0 ||
      bytes.compare(12, 4, "IHDR") != 0) {
    return {0, 0};
  }
  auto big_endian = [&bytes](size_t at) {
    int value = 0;
    for (size_t i = at; i < at + 4; ++i) value = value * 256 + static_cast<unsigned char>(bytes[i]);
    return value;
  };
  return {big_endian(16), big_endian(20)};
}

// The page as a browser draws it, served by a real collector. With
// KESTREL_COLLECTOR_SCREENSHOT=path the picture is kept there (the README's).
TEST(ReportPageTest, HeadlessChromiumDrawsIt) {
  if (access("/usr/bin/chromium", X_OK) != 0) GTEST_SKIP() << "no /usr/bin/chromium here";
  collector_test::TempFolder folder;
  std::string error;
  std::unique_ptr<Store> store = OpenStore(folder.path() + "/reports.db", &error);
  ASSERT_TRUE(store) << error;
  ASSERT_TRUE(store->Append(collector_test::RecordedRoads(), &error)) << error;
  ServerOptions options;
  options.host = "127.0.0.1";
  options.port = 0;
  options.admin_port = 0;
  options.threads = 4;
  CollectorServer server(*store, options);
  ASSERT_GT(server.Bind(), 0);
  const int port = server.admin_port();
  std::thread serving([&server] { server.Run(); });

  const std::string shot = folder.path() + "/report.png";
  const std::string command =
      "timeout 60 /usr/bin/chromium --headless --no-sandbox --disable-gpu --hide-scrollbars"
      " --user-data-dir=" +
      folder.path() + "/profile --window-size=" + std::to_string(kPageWidth) + "," +
      std::to_string(kShotHeight) + " --screenshot=" + shot +
      " http://127.0.0.1:" + std::to_string(port) + "/report >" + folder.path() +
      "/chromium.log 2>&1";
  const int rc = std::system(command.c_str());
  server.Stop();
  serving.join();
  ASSERT_EQ(rc, 0) << command;

  std::string bytes;
  if (std::FILE* file = std::fopen(shot.c_str(), "rb")) {
    char chunk[65536];
    size_t n;
    while ((n = std::fread(chunk, 1, sizeof chunk, file)) > 0) bytes.append(chunk, n);
    std::fclose(file);
  }
  EXPECT_EQ(PngSize(bytes), std::make_pair(kPageWidth, kShotHeight));
  // A blank page compresses to a few kilobytes; bars, labels and tables do not.
  EXPECT_GT(bytes.size(), 20000u);
  if (const char* keep = std::getenv("KESTREL_COLLECTOR_SCREENSHOT")) {
    std::system(("cp " + shot + " " + keep).c_str());
  }
}

}  // namespace

}  // namespace collector

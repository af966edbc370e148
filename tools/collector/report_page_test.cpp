#include "tools/collector/report_page.h"

#include <gtest/gtest.h>
#include <unistd.h>
#include <zlib.h>

#include <cstdio>
#include <cstdlib>
#include <thread>
#include <vector>

#include "tests/collector/test_support.h"
#include "tools/collector/collector_server.h"
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

  // Two builds compared: each worse step marked in words, what was asked
  // for shown back escaped.
  const FunnelReport compared = SummarizeRecords(collector_test::ComparedBuilds(), {});
  FunnelComparison comparison = CompareFunnels(compared.builds[0], compared.builds[1]);
  comparison.new_build.watermark = "<i>2</i>";
  PageQuery query;
  query.compare = "build-1";
  query.with = "\"><script>";
  query.since = "2026-12-01";
  const std::string with_comparison = RenderReportPage(compared, query, comparison);
  EXPECT_EQ(with_comparison.find("<script"), std::string::npos);
  EXPECT_NE(with_comparison.find("against build &lt;i&gt;2&lt;/i&gt;"), std::string::npos);
  EXPECT_NE(with_comparison.find("value=\"&quot;&gt;&lt;script&gt;\""), std::string::npos);
  EXPECT_NE(with_comparison.find("4 steps are significantly worse"), std::string::npos);
  EXPECT_NE(with_comparison.find("<tr class=\"worse\"><td>.NET install done</td><td class=\"n\">"
                                 "200 of 200</td><td class=\"n\">100.0%</td><td class=\"n\">"
                                 "140 of 200</td><td class=\"n\">70.0%</td><td class=\"n\">"
                                 "-30.0 pts</td><td class=\"n\">&lt;0.0001</td><td>&#9660; worse"),
            std::string::npos);
  EXPECT_NE(with_comparison.find("href=\"/report?watermark=build-1&amp;since=2026-12-01\""),
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

// How many pixels of a PNG as Chromium writes it (8-bit RGB or RGBA, not
// interlaced) have exactly each of the colours (0xRRGGBB); empty when it
// cannot be read.
std::vector<size_t> PixelsOf(const std::string& bytes, const std::vector<uint32_t>& colours) {
  const auto [width, height] = PngSize(bytes);
  if (width == 0 || (bytes[25] != 2 && bytes[25] != 6) || bytes[24] != 8 || bytes[28] != 0)
    return {};
  const size_t channels = bytes[25] == 2 ? 3 : 4, stride = width * channels;
  std::string packed;
  for (size_t at = 8; at + 12 <= bytes.size();) {
    const size_t length = (static_cast<unsigned char>(bytes[at]) << 24 |
                           static_cast<unsigned char>(bytes[at + 1]) << 16 |
                           static_cast<unsigned char>(bytes[at + 2]) << 8 |
                           static_cast<unsigned char>(bytes[at + 3]));
    if (bytes.compare(at + 4, 4, "IDAT") == 0) packed += bytes.substr(at + 8, length);
    at += length + 12;
  }
  std::vector<unsigned char> rows(height * (stride + 1));
  uLongf size = rows.size();
  if (uncompress(rows.data(), &size, reinterpret_cast<const Bytef*>(packed.data()),
                 packed.size()) != Z_OK ||
      size != rows.size()) {
    return {};
  }
  std::vector<size_t> counts(colours.size());
  std::vector<unsigned char> line(stride), above(stride);
  for (int y = 0; y < height; ++y) {
    const unsigned char filter = rows[y * (stride + 1)];
    for (size_t i = 0; i < stride; ++i) {
      const int a = i >= channels ? line[i - channels] : 0, b = above[i],
                c = i >= channels ? above[i - channels] : 0;
      const int p = a + b - c, pa = std::abs(p - a), pb = std::abs(p - b), pc = std::abs(p - c);
      const int predicted[] = {0, a, b, (a + b) / 2, pa <= pb && pa <= pc ? a : (pb <= pc ? b : c)};
      line[i] = static_cast<unsigned char>(rows[y * (stride + 1) + 1 + i] + predicted[filter % 5]);
    }
    for (size_t x = 0; x < stride; x += channels) {
      const uint32_t rgb = line[x] << 16 | line[x + 1] << 8 | line[x + 2];
      for (size_t k = 0; k < colours.size(); ++k) counts[k] += rgb == colours[k];
    }
    above.swap(line);
  }
  return counts;
}

// The page as a browser draws it, served by a real collector, with two builds
// compared: the worse steps' rows and both builds' day charts are on screen.
// With KESTREL_COLLECTOR_SCREENSHOT=path the picture is kept there (the README's).
TEST(ReportPageTest, HeadlessChromiumDrawsIt) {
  if (access("/usr/bin/chromium", X_OK) != 0) GTEST_SKIP() << "no /usr/bin/chromium here";
  collector_test::TempFolder folder;
  std::string error;
  std::unique_ptr<Store> store = OpenStore(folder.path() + "/reports.db", &error);
  ASSERT_TRUE(store) << error;
  ASSERT_TRUE(store->Append(collector_test::RecordedRoads(), &error)) << error;
  ASSERT_TRUE(store->Append(collector_test::ComparedBuilds(), &error)) << error;
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
      " 'http://127.0.0.1:" + std::to_string(port) + "/report?compare=build-1&with=build-2' >" +
      folder.path() + "/chromium.log 2>&1";
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
  // The worse rows' background (four rows of the table), and the two day
  // charts' lines and points in the builds' own colours.
  const std::vector<size_t> pixels = PixelsOf(bytes, {0xF4C7C3, 0x2A7AB0, 0xD4442E});
  ASSERT_EQ(pixels.size(), 3u);
  EXPECT_GT(pixels[0], 4 * 600u);
  EXPECT_GT(pixels[1], 40u);
  EXPECT_GT(pixels[2], 40u);
  if (const char* keep = std::getenv("KESTREL_COLLECTOR_SCREENSHOT")) {
    std::system(("cp " + shot + " " + keep).c_str());
  }
}

}  // namespace

}  // namespace collector

#include "tools/bootpack/check.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <functional>
#include <map>
#include <mutex>

#include "platform/ascii.h"
#include "platform/clock.h"
#include "platform/digest.h"
#include "platform/http.h"
#include "tests/bootpack/test_support.h"
#include "tests/payload_builder.h"
#include "tests/servers/loopback_http_server.h"
#include "tests/test_paths.h"

namespace bootpack {
namespace {

using testing_servers::GeneratedBody;
using testing_servers::LoopbackHttpServer;
using testing_servers::RecordedRequest;
using testing_servers::ResponsePlan;

// Just enough JSON for reading the report back: objects, arrays, strings
// (simple escapes and \u00XX), numbers, true, false, null.
struct Json {
  std::string text;  // a string's value, or a number's or literal's spelling
  std::map<std::string, Json> members;
  std::vector<Json> items;

  const Json& operator[](const std::string& name) const {
    static const Json kAbsent;
    auto it = members.find(name);
    return it == members.end() ? kAbsent : it->second;
  }
  long Number() const { return std::strtol(text.c_str(), nullptr, 10); }
};

class JsonReader {
 public:
  explicit JsonReader(const std::string& text) : text_(text) {}
  // False when the text is not one JSON value (surrounded by blanks).
  bool Read(Json* value) { return Value(value) && (Blanks(), at_ == text_.size()); }

 private:
  void Blanks() {
    while (at_ < text_.size() && std::strchr(" \t\r\n", text_[at_])) ++at_;
  }
  bool Take(char c) {
    Blanks();
    if (at_ >= text_.size() || text_[at_] != c) return false;
    ++at_;
    return true;
  }
  bool String(std::string* out) {
    if (!Take('"')) return false;
    while (at_ < text_.size() && text_[at_] != '"') {
      char c = text_[at_++];
      if (c == '\\' && at_ < text_.size()) {
        c = text_[at_++];
        if (c == 'u' && at_ + 4 <= text_.size()) {
          c = static_cast<char>(std::strtol(text_.substr(at_, 4).c_str(), nullptr, 16));
          at_ += 4;
        }
      }
      out->push_back(c);
    }
    return Take('"');
  }
  bool Value(Json* value) {
    Blanks();
    if (at_ >= text_.size()) return false;
    if (text_[at_] == '"') return String(&value->text);
    if (Take('{')) {
      if (Take('}')) return true;
      do {
        std::string name;
        if (!String(&name) || !Take(':') || !Value(&value->members[name])) return false;
      } while (Take(','));
      return Take('}');
    }
    if (Take('[')) {
      if (Take(']')) return true;
      do {
        value->items.emplace_back();
        if (!Value(&value->items.back())) return false;
      } while (Take(','));
      return Take(']');
    }
    const size_t start = at_;
    while (at_ < text_.size() && std::strchr("-+.0123456789eEtrufalsn", text_[at_])) ++at_;
    value->text = text_.substr(start, at_ - start);
    return at_ > start;
  }

  const std::string& text_;
  size_t at_ = 0;
};

// The compound-file signature every Windows Installer package begins with.
const std::string kMsiSignature("\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1", 8);
constexpr size_t kBodySize = 300000;

std::string DotNetBody() { return "MZ" + GeneratedBody(0, kBodySize); }
std::string AgentBody() { return kMsiSignature + GeneratedBody(7, kBodySize); }
std::string Md5Of(const std::string& data) {
  return platform::DigestHex(platform::DigestAlgorithm::kMd5, data.data(), data.size());
}
std::string Sha256Of(const std::string& data) {
  return platform::DigestHex(platform::DigestAlgorithm::kSha256, data.data(), data.size());
}

const char kHtmlPage[] =
    "<!DOCTYPE html>\n<html><head><title>\n  Page not   found </title></head>"
    "<body>Sorry.</body></html>\n";

// Serves every address of a configuration from one loopback server; a test
// replaces the answer for one path.
class CheckTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(LoopbackHttpServer::StartResult::kOk, server_.Start(0));
    for (const char* path : {"/dotnet1", "/dotnet2", "/sp1", "/sp2"}) {
      plans_[path] = ResponsePlan::Status(200, DotNetBody());
    }
    plans_["/agent.msi"] = ResponsePlan::Status(200, AgentBody());
    server_.SetResponder([this](const RecordedRequest& request) {
      std::lock_guard<std::mutex> lock(plans_mutex_);
      if (request.target.compare(0, 2, "/?") == 0) return log_plan_;
      auto it = plans_.find(request.target);
      return it == plans_.end() ? ResponsePlan::Status(404) : it->second;
    });
    options_.timeout_ms = 5000;
    options_.log_server_port = server_.port();
  }

  std::string Url(const std::string& path) const {
    return "http://127.0.0.1:" + std::to_string(server_.port()) + path;
  }

  std::string Config() const {
    const std::string digest = Md5Of(DotNetBody());
    std::string text = "TorvaneIISLogServer=" + log_server_ + "\r\n";
    text += "DotNetFrameworkVersion=1.1\r\nDotNetFramework_MD5_Key=" + dotnet_key_ + "\r\n";
    text += "DotNetFramework_Primary_URL=" + Url("/dotnet1") + "\r\n";
    text += "DotNetFramework_Secondary_URL=" + Url("/dotnet2") + "\r\n";
    text += "DotNetServicePackVersion=SP1\r\nDotNetServicePack_MD5_Key=" + digest + "\r\n";
    text += "DotNetFramework_ServicePack_Primary_URL=" + Url("/sp1") + "\r\n";
    text += "DotNetFramework_ServicePack_Secondary_URL=" + Url("/sp2") + "\r\n";
    text += "TorvaneAgentGUID={0A1B2C3D-4E5F-6789-ABCD-EF0123456789}\r\n";
    text += "TorvaneAgentURL=" + Url("/agent.msi") + "\r\n";
    text += "TorvaneAgentDependency=Torvane.Services.Agent.WebServices\r\n";
    text += "DeskID=Parlor\r\nContentID=\"Parlor_Solitaire\"\r\nDisplayID=Solitaire Parlor\r\n";
    text += "FILEPATH_ON_SYSTEM_STARTUP=C:\\Program Files\\Torvane\\WF\r\n";
    text += "WFGUID=0a1b2c3d-4e5f-6789-abcd-ef0123456789\r\n";
    return text + extra_lines_;
  }

  const CheckResult& Result(const CheckReport& report, const std::string& name) {
    for (const CheckResult& result : report.results) {
      if (result.name == name) return result;
    }
    ADD_FAILURE() << "no check " << name;
    return report.results.front();
  }

  int Command(const std::vector<std::string>& args) {
    bootpack_test::Capture out, err;
    const int status = CheckCommand(args, options_, out.get(), err.get());
    out_ = out.Text();
    err_ = err.Text();
    return status;
  }

  void SetPlan(const std::string& path, const ResponsePlan& plan) {
    std::lock_guard<std::mutex> lock(plans_mutex_);
    plans_[path] = plan;
  }

  LoopbackHttpServer server_;
  std::mutex plans_mutex_;  // the server's connection threads read the plans
  std::map<std::string, ResponsePlan> plans_;
  ResponsePlan log_plan_ = ResponsePlan::Status(200);
  std::string log_server_ = "127.0.0.1";
  std::string dotnet_key_ = Md5Of(DotNetBody());
  std::string extra_lines_;  // appended to the configuration
  CheckOptions options_;
  test_paths::ScratchFolder folder_;
  std::string out_;
  std::string err_;
};

TEST_F(CheckTest, SaysWhetherABrokenTransferWouldResume) {
  const std::string body = DotNetBody();
  const size_t half = body.size() / 2;
  server_.SetResponder([&](const RecordedRequest& request) {
    // /sp1 ignores If-Range: its 206 holds another version's rest.
    if (request.target != "/dotnet1" && request.target != "/sp1") {
      std::lock_guard<std::mutex> lock(plans_mutex_);
      if (request.target.compare(0, 2, "/?") == 0) return log_plan_;
      auto it = plans_.find(request.target);
      return it == plans_.end() ? ResponsePlan::Status(404) : it->second;
    }
    if (!request.HasHeader("Range")) {
      ResponsePlan plan = ResponsePlan::Status(200, body);
      plan.headers.emplace_back("ETag", "\"v1\"");
      return plan;
    }
    ResponsePlan plan = ResponsePlan::Status(206, body.substr(half));
    plan.headers.emplace_back("Content-Range", "bytes " + std::to_string(half) + "-" +
                                                   std::to_string(body.size() - 1) + "/" +
                                                   std::to_string(body.size()));
    plan.headers.emplace_back("ETag", request.target == "/sp1" ? "\"v2\"" : "\"v1\"");
    return plan;
  });
  const CheckReport report = RunChecks(Config(), "CONFIG.TXT", options_);
  const CheckResult& resuming = Result(report, "dotnet.primary");
  EXPECT_EQ(1, resuming.resumes);
  EXPECT_NE(std::string::npos,
            resuming.reason.find("over plain http; a broken transfer resumes (a ranged request"))
      << resuming.reason;
  const CheckResult& starting_over = Result(report, "dotnet.secondary");
  EXPECT_EQ(0, starting_over.resumes);
  EXPECT_NE(std::string::npos, starting_over.reason.find("starts over (the answer names no ETag"))
      << starting_over.reason;
  const CheckResult& spliced = Result(report, "servicepack.primary");
  EXPECT_EQ(0, spliced.resumes);
  EXPECT_NE(std::string::npos, spliced.reason.find("starts over (a ranged request got the rest of"))
      << spliced.reason;
}

TEST_F(CheckTest, EachConfiguredSha256IsComparedWhateverItsCase) {
  extra_lines_ = "TorvaneAgent_SHA256_Key=" + platform::AsciiUpper(Sha256Of(AgentBody())) +
                 "\r\nDotNetFramework_SHA256_Key=" + Sha256Of("another file") +
                 "\r\nDotNetServicePack_Signer=Kestrel Test Publisher\r\n";
  const CheckReport report = RunChecks(Config(), "CONFIG.TXT", options_);
  const CheckResult& agent = Result(report, "agent");
  EXPECT_EQ(Verdict::kOk, agent.verdict) << agent.reason;
  EXPECT_NE(std::string::npos, agent.reason.find("package, SHA-256 matches")) << agent.reason;
  const CheckResult& dotnet = Result(report, "dotnet.primary");
  EXPECT_EQ(Verdict::kError, dotnet.verdict);
  EXPECT_NE(std::string::npos, dotnet.reason.find("MD5 matches; SHA-256 " + Sha256Of(DotNetBody()) +
                                                  " differs from the configured"))
      << dotnet.reason;
  // A signer is checked on the file itself, which goes afterwards.
  const CheckResult& signed_one = Result(report, "servicepack.primary");
#ifdef _WIN32
  const char* signer_note = "MD5 matches; Signature check failed. The file is not signed.";
#else
  const char* signer_note = "MD5 matches; the signer is not checked here";
#endif
  EXPECT_NE(std::string::npos, signed_one.reason.find(signer_note)) << signed_one.reason;
  EXPECT_FALSE(platform::PathExists(platform::TempFolder() + "bootpack-check-servicepack.primary"));
}

TEST_F(CheckTest, ServersThatServeRightAreAllOkAndAskedAsTheBootstrapperAsks) {
  const CheckReport report = RunChecks(Config(), "CONFIG.TXT", options_);
  for (const CheckResult& result : report.results) {
    EXPECT_EQ(Verdict::kOk, result.verdict) << result.name << ": " << result.reason;
  }
  EXPECT_EQ(0, report.ExitStatus());
  const CheckResult& dotnet = Result(report, "dotnet.primary");
  EXPECT_EQ(static_cast<int64_t>(DotNetBody().size()), dotnet.received);
  EXPECT_NE(std::string::npos, dotnet.reason.find("MD5 matches")) << dotnet.reason;
  EXPECT_NE(std::string::npos, Result(report, "agent").reason.find("Windows Installer package"));

  std::vector<RecordedRequest> requests = server_.Requests();
  ASSERT_EQ(6u, requests.size());
  for (const RecordedRequest& request : requests) {
    const bool report_request = request.target.compare(0, 2, "/?") == 0;
    EXPECT_EQ(report_request ? "TORVANE_NETWORKS_WF" : "Brindle Bootstrapper",
              request.Header("User-Agent"))
        << request.target;
    if (report_request) {
      EXPECT_EQ(0u, request.target.find("/?TOKEN='bootpack-check',")) << request.target;
    }
  }
}

struct FaultRow {
  const char* what;
  const char* path;  // the address whose answer changes
  std::function<ResponsePlan()> plan;
  const char* check;
  Verdict verdict;
  const char* reason_part;
};

TEST_F(CheckTest, EachFaultIsNamedOnItsOwnLine) {
  const std::string wrong = "MZ" + GeneratedBody(1, kBodySize);
  const FaultRow rows[] = {
      {"wrong digest", "/dotnet1", [&] { return ResponsePlan::Status(200, wrong); },
       "dotnet.primary", Verdict::kError, "differs from the configured"},
      {"404", "/sp2", [] { return ResponsePlan::Status(404, kHtmlPage); }, "servicepack.secondary",
       Verdict::kError, "status 404 with an HTML page"},
      {"HTML instead of the file", "/dotnet2", [] { return ResponsePlan::Status(200, kHtmlPage); },
       "dotnet.secondary", Verdict::kError,
       "an HTML page titled \"Page not found\", not the installer"},
      {"short body", "/sp1",
       [] { return ResponsePlan::ShortBody(DotNetBody().substr(0, 1000), kBodySize); },
       "servicepack.primary", Verdict::kError, "ended after 1000 of 300000 bytes"},
      {"no length", "/dotnet1", [] { return ResponsePlan::WithoutLength(DotNetBody()); },
       "dotnet.primary", Verdict::kError, "no Content-Length"},
      {"stalls mid-body", "/agent.msi", [] { return ResponsePlan::Stalling(5000, kBodySize); },
       "agent", Verdict::kError, "stopped sending after 5000 of 300000 bytes"},
      {"trickles", "/sp2", [] { return ResponsePlan::Trickle(kBodySize, 50); },
       "servicepack.secondary", Verdict::kError, "the server trickles"},
      {"not a package", "/agent.msi", [] { return ResponsePlan::Status(200, DotNetBody()); },
       "agent", Verdict::kError, "not a Windows Installer package"},
  };
  for (const FaultRow& row : rows) {
    SCOPED_TRACE(row.what);
    const ResponsePlan saved = plans_[row.path];
    SetPlan(row.path, row.plan());
    options_.timeout_ms = 1000;
    const CheckReport report = RunChecks(Config(), "CONFIG.TXT", options_);
    SetPlan(row.path, saved);
    const CheckResult& result = Result(report, row.check);
    EXPECT_EQ(row.verdict, result.verdict) << result.reason;
    EXPECT_NE(std::string::npos, result.reason.find(row.reason_part)) << result.reason;
    // Every other check is unaffected.
    EXPECT_EQ(1, report.Count(Verdict::kError) + report.Count(Verdict::kWarning));
    EXPECT_EQ(2, report.ExitStatus());
  }
}

// A certificate that does not verify is named as the bootstrapper's log names it.
TEST(NoAnswerReasonTest, ACertificateFailureSaysWhy) {
  namespace http_error = platform::http_error;
  for (uint32_t error : {http_error::kCertificateExpired, http_error::kCertificateWrongName,
                         http_error::kCertificateUntrusted, http_error::kCertificateErrors,
                         http_error::kCertificateRevocationFailed}) {
    EXPECT_NE(std::string::npos, NoAnswerReason(error, false, 1000).find("certificate")) << error;
  }
}

TEST_F(CheckTest, RedirectIsFollowedAndNamed) {
  SetPlan("/dotnet1", ResponsePlan::Redirect(301, Url("/dotnet2")));
  const CheckReport report = RunChecks(Config(), "CONFIG.TXT", options_);
  const CheckResult& result = Result(report, "dotnet.primary");
  EXPECT_EQ(Verdict::kOk, result.verdict) << result.reason;
#ifndef _WIN32  // WinINet follows redirects without saying so
  EXPECT_EQ(1, result.redirects);
  EXPECT_EQ(Url("/dotnet2"), result.final_url);
  EXPECT_NE(std::string::npos, result.reason.find("redirected 1 time to")) << result.reason;
#endif
}

TEST_F(CheckTest, ASilentServerIsBoundedByTheTimeout) {
  SetPlan("/dotnet1", ResponsePlan::Silent());
  {
    std::lock_guard<std::mutex> lock(plans_mutex_);
    log_plan_ = ResponsePlan::Silent();
  }
  options_.timeout_ms = 1000;
  const uint32_t start = platform::TickCount();
  const CheckReport report = RunChecks(Config(), "CONFIG.TXT", options_);
  const uint32_t elapsed = platform::TickCount() - start;
  EXPECT_EQ(Verdict::kError, Result(report, "dotnet.primary").verdict);
  EXPECT_NE(std::string::npos,
            Result(report, "dotnet.primary").reason.find("no answer within 1 s"));
  EXPECT_EQ(Verdict::kError, Result(report, "logserver").verdict);
  EXPECT_NE(std::string::npos, Result(report, "logserver").reason.find("no answer within 1 s"));
  // Two waits of a second, and the fast answers besides.
  EXPECT_GE(elapsed, 1900u);
  EXPECT_LT(elapsed, 6000u);
}

TEST_F(CheckTest, LogServerAndDigestProblems) {
  struct Row {
    const char* what;
    std::function<void()> change;
    const char* check;
    Verdict verdict;
    const char* reason_part;
  } rows[] = {
      {"closed port", [this] { options_.log_server_port = 1; }, "logserver", Verdict::kError,
       "port 1 accepts no connection"},
      {"name that does not resolve", [this] { log_server_ = "no-such-host.invalid"; }, "logserver",
       Verdict::kError, "does not resolve"},
      {"host with a scheme", [this] { log_server_ = "http://127.0.0.1"; }, "logserver",
       Verdict::kError, "not a bare host name"},
      {"no log server", [this] { log_server_.clear(); }, "logserver", Verdict::kWarning,
       "sends no reports"},
      {"no digest", [this] { dotnet_key_.clear(); }, "dotnet.primary", Verdict::kWarning,
       "not verified"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    row.change();
    const CheckReport report = RunChecks(Config(), "CONFIG.TXT", options_);
    const CheckResult& result = Result(report, row.check);
    options_.log_server_port = server_.port();
    log_server_ = "127.0.0.1";
    dotnet_key_ = Md5Of(DotNetBody());
    EXPECT_EQ(row.verdict, result.verdict) << result.reason;
    EXPECT_NE(std::string::npos, result.reason.find(row.reason_part)) << result.reason;
  }
}

TEST_F(CheckTest, NoDownloadReadsOnlyTheHeadAndTheFirstBytes) {
  SetPlan("/dotnet1", ResponsePlan::Generated(64 << 20));
  options_.download = false;
  const CheckReport report = RunChecks(Config(), "CONFIG.TXT", options_);
  const CheckResult& result = Result(report, "dotnet.primary");
  EXPECT_EQ(Verdict::kOk, result.verdict) << result.reason;
  EXPECT_EQ(64 << 20, result.length);
  EXPECT_LT(result.received, 1 << 20);
  EXPECT_TRUE(result.md5.empty());
  EXPECT_EQ(0, report.ExitStatus());
}

TEST_F(CheckTest, JsonReadsBackWithTheMeasurements) {
  const std::string config = folder_.File("CONFIG.TXT");
  ASSERT_TRUE(test_paths::WriteWholeFile(config, Config() + "Unknown=1\r\n"));
  SetPlan("/dotnet2", ResponsePlan::Status(404));
  EXPECT_EQ(2, Command({config, "--json", "--timeout", "2"})) << err_;
  Json json;
  ASSERT_TRUE(JsonReader(out_).Read(&json)) << out_;
  EXPECT_EQ(config, json["file"].text);
  ASSERT_EQ(1u, json["lint"].items.size());
  EXPECT_EQ(18, json["lint"].items[0]["line"].Number());
  const std::vector<Json>& checks = json["checks"].items;
  ASSERT_EQ(7u, checks.size());
  EXPECT_EQ("lint", checks[0]["name"].text);
  EXPECT_EQ("error", checks[0]["verdict"].text);
  EXPECT_EQ("dotnet.primary", checks[1]["name"].text);
  EXPECT_EQ("ok", checks[1]["verdict"].text);
  EXPECT_EQ(200, checks[1]["status"].Number());
  EXPECT_EQ(static_cast<long>(DotNetBody().size()), checks[1]["length"].Number());
  EXPECT_EQ(Md5Of(DotNetBody()), checks[1]["md5"].text);
  EXPECT_FALSE(checks[1]["first_byte_ms"].text.empty());
  EXPECT_FALSE(checks[1]["bytes_per_second"].text.empty());
  EXPECT_EQ(404, checks[2]["status"].Number());
  EXPECT_EQ(Url("/dotnet2"), checks[2]["target"].text);
  EXPECT_EQ("logserver", checks[6]["name"].text);
  EXPECT_EQ(5, json["summary"]["ok"].Number());
  EXPECT_EQ(2, json["summary"]["errors"].Number());
  EXPECT_EQ(2, json["summary"]["exit_status"].Number());
}

TEST_F(CheckTest, BadInputGetsAClearMessage) {
  const std::string config = Config();
  const std::string packed =
      bootpack_test::DosStub() + test_payload::Entry("CONFIG.TXT", config) + std::string(5, '\0');
  const std::string no_config =
      bootpack_test::DosStub() + test_payload::Entry("EULA.TXT", "x") + std::string(5, '\0');
  const struct {
    const char* name;
    const std::string bytes;
    int status;
    const char* message;
  } rows[] = {
      {"bare.exe", bootpack_test::DosStub(), 2, "has no payload"},
      {"noconfig.exe", no_config, 2, "has no CONFIG.TXT"},
      {"game.exe", packed, 0, ""},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    const std::string path = folder_.File(row.name);
    ASSERT_TRUE(test_paths::WriteWholeFile(path, row.bytes));
    EXPECT_EQ(row.status, Command({path})) << out_ << err_;
    EXPECT_NE(std::string::npos, err_.find(row.message)) << err_;
  }
  EXPECT_NE(std::string::npos, out_.find("game.exe:CONFIG.TXT")) << out_;
  EXPECT_NE(std::string::npos, out_.find("summary: 7 ok, 0 warnings, 0 errors")) << out_;
  EXPECT_EQ(2, Command({folder_.File("missing.txt")}));
  EXPECT_NE(std::string::npos, err_.find("cannot read")) << err_;
  EXPECT_EQ(2, Command({folder_.File("game.exe"), "--timeout", "0"}));
  EXPECT_NE(std::string::npos, err_.find("--timeout needs")) << err_;
}

}  // namespace
}  // namespace bootpack

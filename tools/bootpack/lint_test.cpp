#include "tools/bootpack/lint.h"

#include <gtest/gtest.h>

#include "tests/bootpack/test_support.h"
#include "tests/test_paths.h"

namespace bootpack {
namespace {

// A complete configuration in the shipped key order; line n is kLines[n - 1].
const std::vector<std::string> kLines = {
    "TorvaneIISLogServer=logs.example.net",
    "DotNetFrameworkVersion=1.1",
    "DotNetFramework_MD5_Key=900150983cd24fb0d6963f7d28e17f72",
    "DotNetFramework_Primary_URL=http://127.0.0.1:8080/install/dotnet1/dotnetfx.exe",
    "DotNetFramework_Secondary_URL=https://127.0.0.1/install/dotnet2/dotnetfx.exe",
    "DotNetServicePackVersion=SP1",
    "DotNetServicePack_MD5_Key=d41d8cd98f00b204e9800998ecf8427e",
    "DotNetFramework_ServicePack_Primary_URL=http://127.0.0.1:8080/install/dotnet1/sp.exe",
    "DotNetFramework_ServicePack_Secondary_URL=http://127.0.0.1:8080/install/dotnet2/sp.exe",
    "TorvaneAgentGUID={0A1B2C3D-4E5F-6789-ABCD-EF0123456789}",
    "TorvaneAgentURL=http://127.0.0.1:8080/installs/setupfiles/torvaneagent.msi",
    "TorvaneAgentDependency=Torvane.Services.Agent.WebServices",
    "TorvaneAgentDependency=Torvane.Ads.AgentAdEngine",
    "DeskInstall=1",
    "FILEPATH_ON_SYSTEM_STARTUP=C:\\Program Files\\Torvane\\WF",
    "PROGRESS_CAPTION=One.\\n\\nTwo.",
    "ClientID=Kestrel",
    "DeskID=Parlor",
    "ContentID=\"Parlor_Solitaire\"",
    "DisplayID=Solitaire Parlor",
    "CatalogID=",
    "WFGUID=0a1b2c3d-4e5f-6789-abcd-ef0123456789",
};

std::string Join(const std::vector<std::string>& lines) {
  std::string text;
  for (const std::string& line : lines) text += line + "\r\n";
  return text;
}

// The configuration with line `n` replaced by `raw` (which carries its own
// line end, or none).
std::string WithLine(int n, const std::string& raw) {
  std::string text;
  for (size_t i = 0; i < kLines.size(); ++i) {
    text += static_cast<int>(i + 1) == n ? raw : kLines[i] + "\r\n";
  }
  return text;
}

bool HasFinding(const LintReport& report, int line, Severity severity, const std::string& part) {
  for (const LintFinding& finding : report.findings) {
    if (finding.line == line && finding.severity == severity &&
        finding.message.find(part) != std::string::npos) {
      return true;
    }
  }
  return false;
}

std::string Dump(const LintReport& report) {
  std::string text;
  for (const LintFinding& f : report.findings) {
    text += std::to_string(f.line) + (f.severity == Severity::kError ? " E " : " W ") + f.message +
            "\n";
  }
  return text;
}

TEST(LintTest, CompleteConfigurationIsClean) {
  LintReport report = LintConfig(Join(kLines));
  EXPECT_TRUE(report.findings.empty()) << Dump(report);
  EXPECT_EQ(0, report.ExitStatus());
  // Relative start-up folders that stay below the current folder.
  for (const char* folder : {"WF", "..\\WF", "Torvane\\WF\\x\\.."}) {
    report = LintConfig(WithLine(15, std::string("FILEPATH_ON_SYSTEM_STARTUP=") + folder + "\r\n"));
    EXPECT_TRUE(report.findings.empty()) << folder << "\n" << Dump(report);
  }
}

TEST(LintTest, DemoConfigurationIsClean) {
  std::string text;
  ASSERT_TRUE(test_paths::ReadWholeFile(test_paths::SourcePath("demo/CONFIG.TXT"), &text));
  LintReport report = LintConfig(text);
  EXPECT_EQ(0, report.ExitStatus()) << Dump(report);
}

TEST(LintTest, KeysMatchWithoutRegardToCase) {
  LintReport report = LintConfig(WithLine(18, "dEsKiD=Parlor\r\n"));
  EXPECT_TRUE(report.findings.empty()) << Dump(report);
  // A SHA-256 key may be written in either case.
  std::vector<std::string> lines = kLines;
  lines.push_back("TorvaneAgent_SHA256_Key=" + std::string(32, 'a') + std::string(32, 'F'));
  report = LintConfig(Join(lines));
  EXPECT_TRUE(report.findings.empty()) << Dump(report);
}

struct Case {
  int line;          // replaced line, and the line the finding names
  std::string raw;   // its new text with line end
  const char* part;  // a piece of the expected message
};

// Each case's line, put into the complete configuration, gives a finding of
// `severity` on that line and the exit status.
template <size_t kRows>
void ExpectEachFinding(const Case (&cases)[kRows], Severity severity, int exit_status) {
  for (const Case& c : cases) {
    LintReport report = LintConfig(WithLine(c.line, c.raw));
    EXPECT_TRUE(HasFinding(report, c.line, severity, c.part))
        << "line " << c.line << ": " << c.raw << "\n"
        << Dump(report);
    EXPECT_EQ(exit_status, report.ExitStatus()) << c.raw << "\n" << Dump(report);
  }
}

// Lines the bootstrapper would misread or drop without a word.
TEST(LintTest, EachMisreadIsAnErrorOnItsLine) {
  const Case cases[] = {
      {17, "ClientID=Kes\rtrel\r\n", "CR inside"},
      {14, "DeskInstall=1=2\r\n", "more than one"},
      {14, "DeskInstall=1=\r\n", "more than one"},
      {14, "DeskInstall==1\r\n", "\"==\""},
      {14, "=DeskInstall=1\r\n", "starts with"},
      {18, "DeskID =Parlor\r\n", "blank before \"=\""},
      {18, " DeskID=Parlor\r\n", "blank before the key"},
      {18, "DeskID= Parlor\r\n", "blank after"},
      {17, "ClientName=Kestrel\r\n", "unknown key"},
      {3, "DotNetFramework_MD5_Key=900150983CD24FB0D6963F7D28E17F72\r\n", "upper case"},
      {7, "DotNetServicePack_MD5_Key=d41d8cd98f00b204e9800998ecf8427\r\n", "MD5"},
      {7, "DotNetServicePack_MD5_Key=g41d8cd98f00b204e9800998ecf8427e\r\n", "MD5"},
      {3, "DotNetFramework_SHA256_Key=" + std::string(63, 'a') + "\r\n", "SHA-256"},
      {11, "TorvaneAgent_SHA256_Key=" + std::string(63, 'a') + "g\r\n", "SHA-256"},
      {11, "TorvaneAgent_Signer=\r\n", "turns the signature check off"},
      {10, "TorvaneAgentGUID={0a1b2c3d-4e5f-6789-abcd-ef0123456789}\r\n", "GUID"},
      {10, "TorvaneAgentGUID=0A1B2C3D-4E5F-6789-ABCD-EF0123456789\r\n", "GUID"},
      {10, "TorvaneAgentGUID={0A1B2C3D4-E5F-6789-ABCD-EF0123456789}\r\n", "GUID"},
      {22, "WFGUID=0A1B2C3D-4E5F-6789-ABCD-EF0123456789\r\n", "GUID"},
      {22, "WFGUID={0a1b2c3d-4e5f-6789-abcd-ef0123456789}\r\n", "GUID"},
      {4, "DotNetFramework_Primary_URL=ftp://127.0.0.1/dotnetfx.exe\r\n", "http://"},
      {11, "TorvaneAgentURL=127.0.0.1/torvaneagent.msi\r\n", "http://"},
      {9, "DotNetFramework_ServicePack_Secondary_URL=http:///sp.exe\r\n", "no host"},
      {1, "TorvaneIISLogServer=http://logs.example.net\r\n", "a scheme"},
      {1, "TorvaneIISLogServer=logs.example.net:8080\r\n", "a port"},
      {1, "TorvaneIISLogServer=logs.example.net/log\r\n", "a path"},
      {1, "TorvaneIISLogServer=logs example\r\n", "not a host name"},
      {2, "DotNetFrameworkVersion=1.2\r\n", "1.0, 1.1 or 2.0"},
      {2, "DotNetFrameworkVersion=2.0 \r\n", "1.0, 1.1 or 2.0"},
      {2, "DotNetFrameworkVersion=\r\n", "1.0, 1.1 or 2.0"},
      {6, "DotNetServicePackVersion=sp2\r\n", "SP1 or SP2"},
      {15, "FILEPATH_ON_SYSTEM_STARTUP=C:\\\r\n", "root of a drive or share"},
      {15, "FILEPATH_ON_SYSTEM_STARTUP=\\\\files\\games\r\n", "root of a drive or share"},
      {15, "FILEPATH_ON_SYSTEM_STARTUP=C:\\WF\\..\r\n", "root of a drive or share"},
      {15, "FILEPATH_ON_SYSTEM_STARTUP=\\\\?\\Volume{0a1b2c3d-4e5f-6789-abcd-ef0123456789}\\\r\n",
       "root of a drive or share"},
      {15, "FILEPATH_ON_SYSTEM_STARTUP=.\r\n", "current folder or one above"},
      {15, "FILEPATH_ON_SYSTEM_STARTUP=WF\\..\\..\r\n", "current folder or one above"},
      {5, std::string("DotNetFramework_Secondary_URL=http://a") + '\0' + "b\r\n", "NUL"},
  };
  ExpectEachFinding(cases, Severity::kError, 2);
}

// Harmless to the parser, but likely not what the author meant.
TEST(LintTest, DoubtfulLinesAreWarningsOnly) {
  const Case cases[] = {
      {11, "TorvaneAgent_Signer=Kestrel Test Publisher\r\n", "without TORVANEAGENT_SHA256_KEY"},
      {18, "DeskID=\r\n", "empty value for DESKID"},
      {13, "TorvaneAgentDependency=\r\n", "empty value"},
      {20, "DisplayID=Solitaire Parlor \r\n", "ends in a blank"},
      {14, "Desk install is on\r\n", "no \"=\""},
      {19, "DeskId=Lounge\r\n", "already given on line 18"},
  };
  ExpectEachFinding(cases, Severity::kWarning, 1);
}

TEST(LintTest, SecondValueOfAKeyIsAWarningExceptForDependencies) {
  std::vector<std::string> lines = kLines;
  lines.push_back("DeskID=Lounge");
  lines.push_back("TorvaneAgentDependency=Torvane.Third");
  LintReport report = LintConfig(Join(lines));
  EXPECT_TRUE(HasFinding(report, 23, Severity::kWarning, "DESKID already given on line 18"))
      << Dump(report);
  EXPECT_EQ(1u, report.findings.size()) << Dump(report);
}

TEST(LintTest, MissingKeysThatAStepNeedsAreWarnings) {
  std::vector<std::string> lines;
  for (const std::string& line : kLines) {
    if (line.rfind("DeskID=", 0) != 0 && line.rfind("WFGUID=", 0) != 0 &&
        line.rfind("CatalogID=", 0) != 0) {
      lines.push_back(line);
    }
  }
  LintReport report = LintConfig(Join(lines));
  EXPECT_TRUE(HasFinding(report, 0, Severity::kWarning, "no DESKID line")) << Dump(report);
  EXPECT_TRUE(HasFinding(report, 0, Severity::kWarning, "no WFGUID line")) << Dump(report);
  EXPECT_EQ(2u, report.findings.size()) << "CatalogID is optional\n" << Dump(report);
  EXPECT_EQ(1, report.ExitStatus());
}

TEST(LintTest, NothingAfterANulByteCounts) {
  std::string text = Join({kLines.begin(), kLines.begin() + 20});
  text += std::string("\0", 1) + Join({kLines.begin() + 20, kLines.end()});
  LintReport report = LintConfig(text);
  EXPECT_TRUE(HasFinding(report, 21, Severity::kError, "NUL")) << Dump(report);
  EXPECT_TRUE(HasFinding(report, 0, Severity::kWarning, "no WFGUID line")) << Dump(report);
}

TEST(LintTest, LastLineWithoutLineEnd) {
  std::string text = Join(kLines);
  // Read whole, as the bootstrapper reads it.
  LintReport cut = LintConfig(text.substr(0, text.size() - 2));
  EXPECT_TRUE(cut.findings.empty()) << Dump(cut);
  // A final CR without LF still ends the value where it should.
  LintReport cr_only = LintConfig(text.substr(0, text.size() - 1));
  EXPECT_TRUE(HasFinding(cr_only, 22, Severity::kWarning, "without LF")) << Dump(cr_only);
  EXPECT_EQ(1, cr_only.ExitStatus());
}

// The bootstrapper keeps an LF-only line's value whole: such a file is read
// as meant, except for an empty value, which without its CR leaves no field
// after "=" and makes the line ignored.
TEST(LintTest, LfOnlyFileIsJudgedAsTheBootstrapperReadsIt) {
  std::string text;
  for (const std::string& line : kLines) text += line + "\n";
  LintReport report = LintConfig(text);
  EXPECT_EQ(0, report.errors) << Dump(report);
  ASSERT_EQ(1u, report.findings.size()) << Dump(report);
  EXPECT_TRUE(HasFinding(report, 21, Severity::kWarning, "ignores the line")) << Dump(report);
  EXPECT_EQ(1, report.ExitStatus());
}

TEST(LintTest, PrintsFileLineAndKind) {
  std::vector<std::string> lines = kLines;
  lines.erase(lines.begin() + 17);  // DeskID
  lines[16] = "ClientName=Kestrel";
  bootpack_test::Capture out;
  PrintFindings("CONFIG.TXT", LintConfig(Join(lines)), out.get());
  EXPECT_EQ(
      "CONFIG.TXT:17: error: unknown key \"ClientName\"; the bootstrapper ignores it\n"
      "CONFIG.TXT: warning: no DESKID line\n",
      out.Text());
}

TEST(LintTest, CommandExitStatus) {
  test_paths::ScratchFolder folder;
  const std::string clean = folder.File("CONFIG.TXT");
  const std::string broken = folder.File("BROKEN.TXT");
  ASSERT_TRUE(test_paths::WriteWholeFile(clean, Join(kLines)));
  ASSERT_TRUE(test_paths::WriteWholeFile(broken, WithLine(2, "DotNetFrameworkVersion=3.5\r\n")));
  bootpack_test::Capture out, err;
  EXPECT_EQ(0, LintCommand({clean}, out.get(), err.get()));
  EXPECT_EQ(2, LintCommand({broken}, out.get(), err.get()));
  EXPECT_NE(std::string::npos, out.Text().find("BROKEN.TXT:2: error: "));
  EXPECT_EQ(2, LintCommand({folder.File("MISSING.TXT")}, out.get(), err.get()));
  EXPECT_EQ(2, LintCommand({}, out.get(), err.get()));
  EXPECT_EQ(0, LintCommand({"--help"}, out.get(), err.get()));
}

}  // namespace
}  // namespace bootpack

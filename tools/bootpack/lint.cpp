#include "tools/bootpack/lint.h"

#include <algorithm>
#include <map>

#include "payload/config_lines.h"
#include "payload/settings.h"
#include "platform/ascii.h"
#include "platform/files.h"
#include "tools/common/cli_args.h"
#include "tools/common/file_io.h"

namespace bootpack {

using tools::ParseArgs;
using tools::ParsedArgs;
namespace {

// Keys without which a step fails or a window shows nothing. A missing
// DOTNETFRAMEWORKVERSION leaves its slot empty instead of "1".
const payload::SettingId kNeededKeys[] = {
    payload::DOTNETFRAMEWORK_PRIMARY_URL,
    payload::DOTNETFRAMEWORK_SECONDARY_URL,
    payload::DOTNETFRAMEWORK_MD5_KEY,
    payload::DOTNETFRAMEWORK_SERVICEPACK_PRIMARY_URL,
    payload::DOTNETFRAMEWORK_SERVICEPACK_SECONDARY_URL,
    payload::DOTNETSERVICEPACK_MD5_KEY,
    payload::DOTNETFRAMEWORKVERSION,
    payload::TORVANEAGENTURL,
    payload::TORVANEAGENTGUID,
    payload::DESKID,
    payload::CONTENTID,
    payload::DISPLAYID,
    payload::FILEPATH_ON_SYSTEM_STARTUP,
    payload::TORVANEIISLOGSERVER,
    payload::WFGUID,
};

bool IsNeeded(int slot) {
  return std::find(std::begin(kNeededKeys), std::end(kNeededKeys), slot) != std::end(kNeededKeys);
}

const char* KeyName(int slot) { return payload::kConfigKeys[slot].name; }

bool IsSignerKey(int slot) {
  return slot == payload::DOTNETFRAMEWORK_SIGNER || slot == payload::DOTNETSERVICEPACK_SIGNER ||
         slot == payload::TORVANEAGENT_SIGNER;
}

bool IsBlank(char c) { return c == ' ' || c == '\t'; }
bool IsLowerHex(char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'); }
bool IsUpperHex(char c) { return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'); }
bool IsHex(char c) { return IsLowerHex(c) || IsUpperHex(c); }

// True when `text` is hex groups of 8-4-4-4-12 digits accepted by `digit`.
bool IsGuidBody(const std::string& text, bool (*digit)(char)) {
  if (text.size() != 36) return false;
  for (size_t i = 0; i < text.size(); ++i) {
    bool hyphen = i == 8 || i == 13 || i == 18 || i == 23;
    if (hyphen ? text[i] != '-' : !digit(text[i])) return false;
  }
  return true;
}

bool StartsWithNoCase(const std::string& text, const std::string& prefix) {
  return text.size() >= prefix.size() &&
         platform::EqualsIgnoringCase(text.substr(0, prefix.size()), prefix);
}

// The form a value must have for the bootstrapper to use it as meant; empty
// when it has it.
std::string CheckForm(int slot, const std::string& value) {
  const std::string key = KeyName(slot);
  switch (slot) {
    case payload::DOTNETFRAMEWORK_MD5_KEY:
    case payload::DOTNETSERVICEPACK_MD5_KEY: {
      if (value.size() == 32 && std::all_of(value.begin(), value.end(), IsLowerHex)) return "";
      if (value.size() == 32 && std::all_of(value.begin(), value.end(), IsUpperHex)) {
        return key + " is in upper case; the computed digest is lower case and never matches it";
      }
      return key + " is not an MD5 digest of 32 lower-case hex digits";
    }
    case payload::DOTNETFRAMEWORK_SHA256_KEY:
    case payload::DOTNETSERVICEPACK_SHA256_KEY:
    case payload::TORVANEAGENT_SHA256_KEY:
      if (value.size() == 64 && std::all_of(value.begin(), value.end(), IsHex)) return "";
      return key + " is not a SHA-256 digest of 64 hex digits";
    case payload::DOTNETFRAMEWORK_SIGNER:
    case payload::DOTNETSERVICEPACK_SIGNER:
    case payload::TORVANEAGENT_SIGNER:
      return "";  // an empty one is caught with the empty values
    case payload::TORVANEAGENTGUID:
      if (value.size() == 38 && value.front() == '{' && value.back() == '}' &&
          IsGuidBody(value.substr(1, 36), IsUpperHex)) {
        return "";
      }
      return key +
             " is not a GUID in braces with upper-case hex digits "
             "({XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX})";
    case payload::WFGUID:
      if (IsGuidBody(value, IsLowerHex)) return "";
      return key + " is not a GUID of 36 characters with lower-case hex digits and no braces";
    case payload::DOTNETFRAMEWORK_PRIMARY_URL:
    case payload::DOTNETFRAMEWORK_SECONDARY_URL:
    case payload::DOTNETFRAMEWORK_SERVICEPACK_PRIMARY_URL:
    case payload::DOTNETFRAMEWORK_SERVICEPACK_SECONDARY_URL:
    case payload::TORVANEAGENTURL: {
      size_t host = StartsWithNoCase(value, "http://")    ? 7
                    : StartsWithNoCase(value, "https://") ? 8
                                                          : 0;
      if (host == 0) return key + " is not an http:// or https:// address";
      if (host == value.size() || value[host] == '/') return key + " names no host";
      return "";
    }
    case payload::TORVANEIISLOGSERVER: {
      std::vector<std::string> extras;
      size_t scheme = value.find("://");
      std::string rest = scheme == std::string::npos ? value : value.substr(scheme + 3);
      if (scheme != std::string::npos) extras.push_back("a scheme");
      size_t slash = rest.find('/');
      if (rest.substr(0, slash).find(':') != std::string::npos) extras.push_back("a port");
      if (slash != std::string::npos) extras.push_back("a path");
      if (extras.empty()) {
        for (char c : value) {
          bool host_char = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                           (c >= '0' && c <= '9') || c == '.' || c == '-';
          if (!host_char) return key + " is not a host name";
        }
        return "";
      }
      std::string list;
      for (size_t i = 0; i < extras.size(); ++i) {
        list += (i == 0 ? "" : i + 1 == extras.size() ? " and " : ", ") + extras[i];
      }
      return key + " must be a bare host name; it has " + list;
    }
    case payload::DOTNETFRAMEWORKVERSION:
      if (value == "1.0" || value == "1.1" || value == "2.0") return "";
      return key + " is not 1.0, 1.1 or 2.0; the bootstrapper takes it as 1.1";
    case payload::FILEPATH_ON_SYSTEM_STARTUP:
      // The player's current folder is unknown here. A relative value that
      // folds to it or above is an error all the same: run from a root it is
      // that root, and from anywhere else it is the player's own folder,
      // whose files would be deleted at exit; it is never a folder of ours.
      if (platform::EndsAtOrAboveCurrentFolder(value)) {
        return key +
               " names the current folder or one above it: the root of a drive when the "
               "bootstrapper runs from one (no cookie file, nothing emptied), else a folder of "
               "the player's, whose files it would delete at exit";
      }
      if (!platform::SpellsDriveOrShareRoot(value)) return "";
      return key +
             " names the root of a drive or share; the bootstrapper writes no cookie file "
             "there and empties nothing at exit";
    case payload::DOTNETSERVICEPACKVERSION:
      if (value == "SP1" || value == "SP2") return "";
      return key + " is not SP1 or SP2 (or empty); the bootstrapper takes it as SP1";
    default:
      return "";
  }
}

class Linter {
 public:
  LintReport Run(const std::string& full_text) {
    // The bootstrapper reads no further than the first NUL byte.
    size_t nul = full_text.find('\0');
    for (const payload::ConfigLine& line : payload::SplitConfigText(full_text)) CheckLine(line);
    if (nul != std::string::npos) {
      int nul_line =
          1 + static_cast<int>(std::count(full_text.begin(), full_text.begin() + nul, '\n'));
      Add(nul_line, Severity::kError, "NUL byte; the bootstrapper reads nothing after it");
    }
    std::stable_sort(report_.findings.begin(), report_.findings.end(),
                     [](const LintFinding& a, const LintFinding& b) { return a.line < b.line; });
    for (int slot : kNeededKeys) {
      if (!first_line_.count(slot)) {
        Add(0, Severity::kWarning, std::string("no ") + KeyName(slot) + " line");
      }
    }
    // Windows does not hash an installer package's content for its
    // signature check everywhere (Wine does not): only a digest guards it.
    if (first_line_.count(payload::TORVANEAGENT_SIGNER) &&
        !first_line_.count(payload::TORVANEAGENT_SHA256_KEY)) {
      Add(first_line_[payload::TORVANEAGENT_SIGNER], Severity::kWarning,
          "TORVANEAGENT_SIGNER without TORVANEAGENT_SHA256_KEY: a signature check need not "
          "cover a package's content, so a changed package could pass it");
    }
    return report_;
  }

 private:
  void Add(int line, Severity severity, const std::string& message) {
    report_.findings.push_back({line, severity, message});
    ++(severity == Severity::kError ? report_.errors : report_.warnings);
  }

  void CheckLine(const payload::ConfigLine& config_line) {
    const std::string& line = config_line.text;
    const int n = config_line.number;
    const bool has_lf = config_line.ends_with_lf;
    if (line.empty()) return;  // a bare LF is skipped by the bootstrapper as well
    bool has_cr = line.back() == '\r';
    std::string content = has_cr ? line.substr(0, line.size() - 1) : line;
    // An LF-only line is read whole, as is a last line without any line end.
    if (has_cr && !has_lf) Add(n, Severity::kWarning, "last line ends in CR without LF");
    if (content.find('\r') != std::string::npos) {
      Add(n, Severity::kError, "CR inside the line; it becomes part of the key or value");
    }
    if (std::all_of(content.begin(), content.end(), IsBlank)) return;
    size_t eq = content.find('=');
    if (eq == std::string::npos) {
      Add(n, Severity::kWarning, "no \"=\" in the line; the bootstrapper ignores it");
      return;
    }
    // The key and value exactly as the bootstrapper takes them.
    const std::string& key = config_line.key;
    const std::string& value = config_line.value;
    if (!config_line.taken) {
      if (config_line.field_count > 2) {
        Add(n, Severity::kError, "more than one \"=\": the bootstrapper ignores the whole line");
      } else if (eq == 0) {
        Add(n, Severity::kError, "line starts with \"=\"; the bootstrapper ignores it");
      } else {
        Add(n, Severity::kWarning,
            "nothing after \"=\", not even a CR: the bootstrapper ignores the line (the key "
            "stays unset)");
      }
      return;
    }
    if (eq == 0) {
      Add(n, Severity::kError, "line starts with \"=\"");
      return;
    }
    if (content.find('=', eq + 1) != std::string::npos) {
      Add(n, Severity::kError,
          "\"==\": the bootstrapper reads the value without the \"=\" (a value cannot contain "
          "\"=\")");
      return;
    }
    if (IsBlank(key.front()) || IsBlank(key.back())) {
      Add(n, Severity::kError,
          IsBlank(key.back()) ? "blank before \"=\" becomes part of the key"
                              : "blank before the key becomes part of it");
      return;
    }
    const int slot = config_line.slot;
    if (slot < 0) {
      Add(n, Severity::kError, "unknown key \"" + key + "\"; the bootstrapper ignores it");
      return;
    }
    auto first = first_line_.find(slot);
    if (first == first_line_.end()) {
      first_line_[slot] = n;
    } else if (slot != payload::TORVANEAGENTDEPENDENCY) {
      Add(n, Severity::kWarning,
          std::string(KeyName(slot)) + " already given on line " + std::to_string(first->second) +
              "; this later value replaces it");
    }
    if (!value.empty() && IsBlank(value.front())) {
      Add(n, Severity::kError, "blank after \"=\" becomes part of the value");
    } else if (!value.empty() && IsBlank(value.back())) {
      Add(n, Severity::kWarning, "value ends in a blank, which is kept as part of it");
    }
    if (value.empty()) {
      if (IsNeeded(slot) || slot == payload::TORVANEAGENTDEPENDENCY) {
        Add(n, Severity::kWarning, std::string("empty value for ") + KeyName(slot));
      }
      if (IsSignerKey(slot)) {
        Add(n, Severity::kError,
            std::string("empty value for ") + KeyName(slot) +
                ": it turns the signature check off, and the file is taken without one");
      }
      if (slot == payload::DOTNETFRAMEWORKVERSION) Add(n, Severity::kError, CheckForm(slot, value));
      return;
    }
    std::string problem = CheckForm(slot, value);
    if (!problem.empty()) Add(n, Severity::kError, problem);
  }

  LintReport report_;
  std::map<int, int> first_line_;  // slot -> line of its first occurrence
};

const char kLintHelp[] =
    "usage: bootpack lint CONFIG.TXT\n"
    "\n"
    "Checks a configuration text as the bootstrapper will read it and prints one\n"
    "line per finding: \"FILE:LINE: error: ...\" or \"FILE:LINE: warning: ...\".\n"
    "Errors are what the bootstrapper would silently misread or ignore (unknown\n"
    "keys, malformed lines, values of the wrong form, NUL bytes); warnings are\n"
    "missing or empty keys that a step needs, keys given twice and lines without\n"
    "\"=\". Lines may end in CR LF or in LF alone: the bootstrapper reads both.\n"
    "\n"
    "Exit status: 0 clean, 1 warnings only, 2 errors (or the file cannot be read).\n";

}  // namespace

LintReport LintConfig(const std::string& text) { return Linter().Run(text); }

void PrintFindings(const std::string& label, const LintReport& report, std::FILE* out) {
  for (const LintFinding& finding : report.findings) {
    const char* kind = finding.severity == Severity::kError ? "error" : "warning";
    if (finding.line > 0) {
      std::fprintf(out, "%s:%d: %s: %s\n", label.c_str(), finding.line, kind,
                   finding.message.c_str());
    } else {
      std::fprintf(out, "%s: %s: %s\n", label.c_str(), kind, finding.message.c_str());
    }
  }
}

int LintCommand(const std::vector<std::string>& args, std::FILE* out, std::FILE* err) {
  ParsedArgs parsed = ParseArgs(args, {}, {});
  if (parsed.help) {
    std::fputs(kLintHelp, out);
    return 0;
  }
  if (!parsed.error.empty() || parsed.positional.size() != 1) {
    std::fprintf(err, "bootpack lint: %s\n%s",
                 parsed.error.empty() ? "expected one file" : parsed.error.c_str(), kLintHelp);
    return 2;
  }
  const std::string& path = parsed.positional[0];
  std::string text;
  if (!platform::ReadWholeFile(path, &text)) {
    std::fprintf(err, "bootpack lint: cannot read %s\n", path.c_str());
    return 2;
  }
  LintReport report = LintConfig(text);
  PrintFindings(path, report, out);
  return report.ExitStatus();
}

}  // namespace bootpack

#include "components/launcher_output.h"

#include <climits>

namespace components {

const char kDeskApplication[] = "Parlor";
const char kAdEngineApplication[] = "Torvane.Ads.AgentAdEngine";
const char kWebServicesApplication[] = "Torvane.Services.Agent.WebServices";

namespace {

bool IsAtoiBlank(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// The percentage an application name selects, or null for an unknown name.
// The desk is matched before the tracked name, so a desk id of "Parlor"
// always lands in deskPercent.
int32_t* SelectPercent(LauncherOutput* output, const std::string& name,
                       const std::string& tracked_name) {
  if (name == kDeskApplication) return &output->deskPercent;
  if (name == tracked_name) return &output->trackedPercent;
  if (name == kAdEngineApplication) return &output->adEnginePercent;
  if (name == kWebServicesApplication) return &output->webServicesPercent;
  return nullptr;
}

}  // namespace

std::string LauncherLineTag(const std::string& line) {
  size_t open = line.find('<');
  if (open == std::string::npos) return std::string();
  size_t blank = line.find(' ', open);
  if (blank == std::string::npos) return std::string();
  return line.substr(open + 1, blank - open - 1);
}

std::string LauncherLineAttribute(const std::string& line, const std::string& name) {
  size_t at = line.rfind(" " + name + "=");
  if (at == std::string::npos) return std::string();
  size_t first = line.find('"', at);
  if (first == std::string::npos) return std::string();
  size_t second = line.find('"', first + 1);
  if (second == std::string::npos) return std::string();
  return line.substr(first + 1, second - first - 1);
}

std::string LauncherLineText(const std::string& line, const std::string& tag) {
  size_t at = line.find(tag);
  if (at == std::string::npos) return std::string();
  size_t close = line.find('>', at + tag.size());
  if (close == std::string::npos) return std::string();
  size_t open = line.find('<', close + 1);
  if (open == std::string::npos) return std::string();
  return line.substr(close + 1, open - close - 1);
}

int32_t LauncherDecimal(const std::string& text) {
  size_t i = 0;
  while (i < text.size() && IsAtoiBlank(text[i])) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
    negative = text[i] == '-';
    ++i;
  }
  // Accumulated as a magnitude up to one past INT32_MAX, so that INT32_MIN
  // reads exactly and longer digit runs saturate instead of overflowing.
  const int64_t limit = static_cast<int64_t>(INT32_MAX) + 1;
  int64_t magnitude = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    magnitude = magnitude * 10 + (text[i] - '0');
    if (magnitude > limit) magnitude = limit;
  }
  if (negative) return static_cast<int32_t>(-magnitude);
  return static_cast<int32_t>(magnitude > INT32_MAX ? INT32_MAX : magnitude);
}

void ApplyLauncherLine(LauncherOutput* output, const std::string& line,
                       const std::string& tracked_name, const LauncherErrorHandler& on_error) {
  std::string tag = LauncherLineTag(line);
  if (tag == "CurrentStep") {
    std::string step = LauncherLineAttribute(line, "Step");
    if ((step == "ApplicationStart" || step == "ApplicationWait") &&
        LauncherLineAttribute(line, "State") == "Finished") {
      int32_t* percent = SelectPercent(output, LauncherLineText(line, tag), tracked_name);
      if (percent) *percent = 100;
    }
  } else if (tag == "DownloadProgress") {
    int32_t* percent = SelectPercent(output, LauncherLineAttribute(line, "AppName"), tracked_name);
    int32_t value = LauncherDecimal(LauncherLineAttribute(line, "Percent"));
    if (percent && value <= 100 && value > *percent) *percent = value;
  } else if (tag == "Error") {
    if (on_error) {
      on_error(LauncherLineAttribute(line, "Msg"),
              LauncherDecimal(LauncherLineAttribute(line, "Code")));
    }
  }
}

void ApplyLauncherText(LauncherOutput* output, const std::string& unread,
                       const std::string& tracked_name, const LauncherErrorHandler& on_error,
                       bool last_read) {
  size_t p = 0;
  while (p < unread.size()) {
    // The search starts one past p, so an empty line joins the line after it;
    // that line's tag still comes from its own "<".
    size_t end = unread.find('\n', p + 1);
    if (end == std::string::npos) {
      // Taken now, a line cut by the writer would lose its rest, an Error line
      // among them: it waits for its end while the program still runs.
      if (!last_read) break;
      end = unread.size();
    }
    ApplyLauncherLine(output, unread.substr(p, end - p), tracked_name, on_error);
    p = end + 1;
  }
  if (p > unread.size()) p = unread.size();
  if (p > UINT32_MAX - output->readOffset) return;
  output->readOffset += static_cast<uint32_t>(p);
}

void ParseLauncherOutput(LauncherOutput* output, std::FILE* file, const std::string& tracked_name,
                         const LauncherErrorHandler& on_error, bool last_read) {
  if (!file) return;
  // The file grows while the launcher runs; the size is taken afresh each
  // time, and only what lies after the consumed lines is read.
  if (std::fseek(file, 0, SEEK_END) != 0) return;
  long size = std::ftell(file);
  if (size <= 0 || static_cast<unsigned long>(size) <= output->readOffset) return;
  // readOffset is below size, a long, so it is a valid offset.
  if (std::fseek(file, static_cast<long>(output->readOffset), SEEK_SET) != 0) return;
  std::string unread(static_cast<size_t>(size) - output->readOffset, '\0');
  size_t got = std::fread(&unread[0], 1, unread.size(), file);
  // Lines are taken from what could be read, never from unread bytes.
  unread.resize(got);
  ApplyLauncherText(output, unread, tracked_name, on_error, last_read);
}

double ComputeLaunchProgress(const LauncherOutput& output, double componentWeight,
                             double trackedWeight) {
  return ((0.1 * output.adEnginePercent + 0.6 * output.deskPercent +
           0.3 * output.webServicesPercent) *
              componentWeight +
          output.trackedPercent * trackedWeight) *
         0.01;
}

}  // namespace components

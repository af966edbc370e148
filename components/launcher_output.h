// The lines that the agent launcher and the MiniServer write to their standard
// output (redirected into a file by the command interpreter), and the progress
// the bootstrapper reads from them. One element per line, for example
//   <DownloadProgress AppName="Parlor" Percent="40" />
//   <CurrentStep Step="ApplicationStart" State="Finished">Parlor</CurrentStep>
//   <Error Msg="Disk full" Code="112" />
#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>

namespace components {

// The applications the launcher reports besides the tracked one.
extern const char kDeskApplication[];
extern const char kAdEngineApplication[];
extern const char kWebServicesApplication[];

// What has been read so far from one output file. Written and read by the
// thread that watches the launcher; the percentages and readOffset only grow.
struct LauncherOutput {
  int32_t webServicesPercent = 0;
  int32_t adEnginePercent = 0;
  int32_t deskPercent = 0;
  int32_t trackedPercent = 0;
  // Bytes of the file already consumed as lines.
  uint32_t readOffset = 0;
};

// Called for each Error line at the point where it is parsed, with its Msg
// text and its Code read as a decimal; parsing goes on when it returns.
using LauncherErrorHandler = std::function<void(const std::string& msg, int32_t code)>;

// The text between the line's first "<" and the first blank after it; empty
// when either is missing.
std::string LauncherLineTag(const std::string& line);

// The value of the last ` name="..."` of the line; empty when the attribute
// or one of its quotes is missing.
std::string LauncherLineAttribute(const std::string& line, const std::string& name);

// The text between the first ">" after the first occurrence of `tag` and the
// next "<"; empty when any of them is missing.
std::string LauncherLineText(const std::string& line, const std::string& tag);

// Reads a decimal the way atoi does (leading white space, optional sign,
// digits; no digits give 0), except that values out of range are clamped.
int32_t LauncherDecimal(const std::string& text);

// Applies one line. An empty application name matches an empty tracked_name.
void ApplyLauncherLine(LauncherOutput* output, const std::string& line,
                       const std::string& tracked_name, const LauncherErrorHandler& on_error);

// Applies the lines of `unread`, the bytes of the file from output->readOffset
// on, and advances readOffset past those consumed. An unterminated last line
// may still be being written: it waits for its line end unless this is the
// last read, which applies and consumes it as it stands.
void ApplyLauncherText(LauncherOutput* output, const std::string& unread,
                       const std::string& tracked_name, const LauncherErrorHandler& on_error,
                       bool last_read = false);

// Reads what the open output file holds after output->readOffset and applies
// the lines in it, so a long output costs no more than its new part. A null
// file changes nothing.
void ParseLauncherOutput(LauncherOutput* output, std::FILE* file, const std::string& tracked_name,
                         const LauncherErrorHandler& on_error, bool last_read = false);

// The step's progress fraction: the three component applications weigh
// 0.1 (ad engine), 0.6 (desk) and 0.3 (web services) within componentWeight.
double ComputeLaunchProgress(const LauncherOutput& output, double componentWeight,
                             double trackedWeight);

}  // namespace components

// A small command-line parser for the tools: "--name value"
// options, "--flag" switches and positional arguments, in any order.
#pragma once

#include <map>
#include <set>
#include <string>
#include <vector>

namespace tools {

struct ParsedArgs {
  std::map<std::string, std::string> options;  // "--stub" -> "a.exe"
  std::set<std::string> flags;                 // "--force"
  std::vector<std::string> positional;
  bool help = false;
  std::string error;  // set when the arguments do not fit; empty otherwise

  bool Has(const std::string& flag) const { return flags.count(flag) != 0; }
  std::string Option(const std::string& name) const;
};

// `value_options` take the next argument as their value; `switches` take none.
// "--" ends the options; "-h" and "--help" set `help`.
ParsedArgs ParseArgs(const std::vector<std::string>& args,
                     const std::set<std::string>& value_options,
                     const std::set<std::string>& switches);

}  // namespace tools

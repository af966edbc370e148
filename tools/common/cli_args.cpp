#include "tools/common/cli_args.h"

namespace tools {

std::string ParsedArgs::Option(const std::string& name) const {
  auto it = options.find(name);
  return it == options.end() ? std::string() : it->second;
}

ParsedArgs ParseArgs(const std::vector<std::string>& args,
                     const std::set<std::string>& value_options,
                     const std::set<std::string>& switches) {
  ParsedArgs parsed;
  bool options_ended = false;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (options_ended || arg.size() < 2 || arg[0] != '-') {
      parsed.positional.push_back(arg);
      continue;
    }
    if (arg == "--") {
      options_ended = true;
    } else if (arg == "-h" || arg == "--help") {
      parsed.help = true;
    } else if (value_options.count(arg)) {
      if (i + 1 >= args.size()) {
        parsed.error = arg + " needs a value";
        return parsed;
      }
      if (parsed.options.count(arg)) {
        parsed.error = arg + " given twice";
        return parsed;
      }
      parsed.options[arg] = args[++i];
    } else if (switches.count(arg)) {
      parsed.flags.insert(arg);
    } else {
      parsed.error = "unknown option " + arg;
      return parsed;
    }
  }
  return parsed;
}

}  // namespace tools

#include "tools/collector/report_parser.h"

#include "diagnostics/request_encoding.h"

namespace collector {

bool IsRequestLine(const std::string& line) {
  const size_t first = line.find(' ');
  const size_t last = line.rfind(' ');
  if (first == std::string::npos || first == 0 || first == last) return false;
  for (size_t i = 0; i < first; ++i) {
    if (line[i] < 'A' || line[i] > 'Z') return false;
  }
  return line.compare(last + 1, 5, "HTTP/") == 0;
}

std::string NormalizeRequestLine(const std::string& line) {
  if (!IsRequestLine(line)) return line;
  const size_t first = line.find(' ');
  const size_t last = line.rfind(' ');
  std::string target = line.substr(first + 1, last - first - 1);
  if (target.find(' ') != std::string::npos) target = diagnostics::EncodeRequestTarget(target);
  const size_t query = target.find('?');
  std::string out = line.substr(0, first + 1);
  out.reserve(line.size() + 8);
  for (size_t i = 0; i < target.size(); ++i) {
    if (target[i] == '?' && i != query) {
      out += "%3F";
    } else {
      out += target[i];
    }
  }
  out += line.substr(last);
  return out;
}

}  // namespace collector

// How the bootstrapper takes CONFIG.TXT apart: lines, keys and values. The
// reader and `bootpack lint` both walk this, so the linter can never judge a
// file differently from the reader.
#pragma once

#include <string>
#include <vector>

namespace payload {

struct ConfigLine {
  int number = 0;           // 1-based, counting every LF
  std::string text;         // the line without its LF
  bool ends_with_lf = false;  // false only for a last line without a line end
  size_t field_count = 0;    // the fields between runs of "="
  // A line of exactly two fields is taken: its key as written and its value
  // without the CR of a CR LF line end (an LF-only line keeps its value whole).
  bool taken = false;
  std::string key;
  std::string value;
  int slot = -1;  // the known key's slot (matched in upper case), or -1
};

// Every line of `text` up to its first NUL (the reader sees no further), the
// empty ones included; the reader skips those, as it skips untaken lines.
std::vector<ConfigLine> SplitConfigText(const std::string& text);

// The slot of an upper-case key, or -1 for a key the bootstrapper does not know.
int FindConfigSlot(const std::string& upper_key);

}  // namespace payload

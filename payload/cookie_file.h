// The hand-off file "cookie.txt" that names the content and catalog of this run
// for the programs the run starts.
#pragma once

#include <string>

namespace payload {

// Replaces folder\cookie.txt with "Content=<contentId>" CR LF
// "Catalog=<catalog_id>". Silent on failure; writes nothing into a drive or
// share root (nor for an empty folder, which means the current drive's).
void writeCookieFile(std::string folder, std::string catalog_id, std::string contentId);

// The text without one pair of surrounding double quotes, if it has them.
std::string unquote(std::string text);

}  // namespace payload

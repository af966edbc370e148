// Whether a body is a web page: what a captive portal or an error page sends
// in place of a file. bootpack check names such a page where the bootstrapper
// only finds the file wrong (its digest or its first bytes).
#pragma once

#include <string>

namespace engine {

// Whether the first bytes of a body (and its Content-Type) make an HTML page;
// its title, if it has one, goes to `title`. The body decides: an installer
// served as "text/html" is still the installer.
bool LooksLikeHtml(const std::string& lead, const std::string& content_type, std::string* title);

}  // namespace engine

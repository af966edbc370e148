// A new random UUID in its 36-character text form (8-4-4-4-12 hex digits).
#pragma once

#include <string>

namespace platform {

std::string NewUuidText();

}  // namespace platform

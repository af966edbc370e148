// A new random UUID in its 36-character text form (8-4-4-4-12 lower-case hex
// digits); empty when the system cannot make one.
#pragma once

#include <string>

namespace platform {

std::string NewUuidText();

}  // namespace platform

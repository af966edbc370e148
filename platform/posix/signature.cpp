#include "platform/signature.h"

namespace platform {

SignatureVerdict CheckSignature(const std::string&, const std::string&, uint32_t) {
  return SignatureVerdict::kUnavailable;
}

}  // namespace platform

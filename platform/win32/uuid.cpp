#include "platform/uuid.h"

#include <windows.h>
// After windows.h, which it needs.
#include <rpc.h>

#include "platform/ascii.h"

namespace platform {

std::string NewUuidText() {
  UUID uuid;
  RPC_STATUS status = UuidCreate(&uuid);
  // A UUID unique to this machine only is still a good run id.
  if (status != RPC_S_OK && status != RPC_S_UUID_LOCAL_ONLY) return std::string();
  RPC_CSTR text = nullptr;
  if (UuidToStringA(&uuid, &text) != RPC_S_OK || !text) return std::string();
  std::string result(reinterpret_cast<const char*>(text));
  RpcStringFreeA(&text);
  return AsciiLower(result);
}

}  // namespace platform

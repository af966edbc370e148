#include "tools/collector/stored_address.h"

#include <arpa/inet.h>

#include <cstring>

namespace collector {

std::optional<AddressStorage> ParseAddressStorage(const std::string& word) {
  if (word == "full") return AddressStorage::kFull;
  if (word == "truncated") return AddressStorage::kTruncated;
  if (word == "none") return AddressStorage::kNone;
  return std::nullopt;
}

std::string StoredAddress(const std::string& address, AddressStorage storage) {
  if (storage == AddressStorage::kFull) return address;
  if (storage == AddressStorage::kNone) return std::string();
  char text[INET6_ADDRSTRLEN] = "";
  in_addr v4;
  in6_addr v6;
  if (inet_pton(AF_INET, address.c_str(), &v4) == 1) {
    reinterpret_cast<unsigned char*>(&v4)[3] = 0;
    inet_ntop(AF_INET, &v4, text, sizeof text);
  } else if (inet_pton(AF_INET6, address.c_str(), &v6) == 1) {
    std::memset(v6.s6_addr + 6, 0, 10);  // the last 80 bits
    inet_ntop(AF_INET6, &v6, text, sizeof text);
  }
  return text;  // what is no address keeps nothing
}

}  // namespace collector

// What the collector keeps of a report's sender: a player's address is
// personal data, so by default only its network part is stored.
#pragma once

#include <optional>
#include <string>

namespace collector {

enum class AddressStorage {
  kFull,       // the address as it connected
  kTruncated,  // IPv4 without its last octet, IPv6 without its last 80 bits
  kNone,       // nothing
};

// "full", "truncated" or "none"; nothing for any other word.
std::optional<AddressStorage> ParseAddressStorage(const std::string& word);

// The text stored for the sender `address` (as AddressBook::Text gives it).
std::string StoredAddress(const std::string& address, AddressStorage storage);

}  // namespace collector

#include "tools/collector/address_book.h"

#include <arpa/inet.h>
#include <netinet/in.h>

#include <algorithm>
#include <cstring>

namespace collector {

std::string AddressBook::Key(const sockaddr_storage& address) {
  if (address.ss_family == AF_INET) {
    const auto& v4 = reinterpret_cast<const sockaddr_in&>(address);
    return std::string(reinterpret_cast<const char*>(&v4.sin_addr), 4);
  }
  if (address.ss_family == AF_INET6) {
    const auto& v6 = reinterpret_cast<const sockaddr_in6&>(address);
    const unsigned char* bytes = v6.sin6_addr.s6_addr;
    // An IPv4 client on a dual-stack socket is that IPv4 address.
    if (IN6_IS_ADDR_V4MAPPED(&v6.sin6_addr))
      return std::string(reinterpret_cast<const char*>(bytes + 12), 4);
    return std::string(reinterpret_cast<const char*>(bytes), 8);
  }
  return std::string();
}

std::string AddressBook::Text(const sockaddr_storage& address) {
  char text[INET6_ADDRSTRLEN] = "";
  if (address.ss_family == AF_INET) {
    inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in&>(address).sin_addr, text, sizeof text);
  } else if (address.ss_family == AF_INET6) {
    const in6_addr& v6 = reinterpret_cast<const sockaddr_in6&>(address).sin6_addr;
    if (IN6_IS_ADDR_V4MAPPED(&v6)) {
      inet_ntop(AF_INET, v6.s6_addr + 12, text, sizeof text);
    } else {
      inet_ntop(AF_INET6, &v6, text, sizeof text);
    }
  }
  return text;
}

bool AddressBook::Admit(const std::string& key, int64_t now_ms) {
  auto found = entries_.find(key);
  if (found == entries_.end()) {
    if (entries_.size() >= limits_.tracked) Forget(now_ms);
    if (entries_.size() >= limits_.tracked) return false;
    entries_[key].connections = 1;
    return true;
  }
  if (found->second.connections >= limits_.connections) return false;
  ++found->second.connections;
  return true;
}

void AddressBook::Release(const std::string& key) {
  auto found = entries_.find(key);
  if (found != entries_.end() && found->second.connections > 0) --found->second.connections;
}

double AddressBook::Refilled(Entry& entry, int64_t now_ms) const {
  if (entry.refilled_ms < 0) {
    entry.budget = limits_.request_burst;
  } else if (now_ms > entry.refilled_ms) {
    entry.budget =
        std::min(limits_.request_burst, entry.budget + (now_ms - entry.refilled_ms) *
                                                           limits_.requests_per_second / 1000.0);
  }
  entry.refilled_ms = now_ms;
  return entry.budget;
}

bool AddressBook::TakeRequest(const std::string& key, int64_t now_ms) {
  auto found = entries_.find(key);
  if (found == entries_.end()) return false;
  if (Refilled(found->second, now_ms) < 1) return false;
  found->second.budget -= 1;
  return true;
}

void AddressBook::Forget(int64_t now_ms) {
  for (auto it = entries_.begin(); it != entries_.end();) {
    Entry& entry = it->second;
    if (entry.connections == 0 && Refilled(entry, now_ms) >= limits_.request_burst) {
      it = entries_.erase(it);
    } else {
      ++it;
    }
  }
}

}  // namespace collector

// What each client address holds of the server: its open connections and its
// request budget (a token bucket). An IPv6 client counts by its /64 network,
// the least any host is given, so that one host cannot pass for many.
#pragma once

#include <sys/socket.h>

#include <cstdint>
#include <string>
#include <unordered_map>

namespace collector {

struct AddressLimits {
  int connections = 32;             // open at once
  double requests_per_second = 20;  // the budget's refill
  double request_burst = 200;  // the budget when full: a report pass sends all it holds at once
  size_t tracked = 65536;      // addresses with a budget under way
};

class AddressBook {
 public:
  explicit AddressBook(const AddressLimits& limits) : limits_(limits) {}

  // The key an address counts under, and its numeric text.
  static std::string Key(const sockaddr_storage& address);
  static std::string Text(const sockaddr_storage& address);

  // A new connection: false, counting nothing, past the address's bound (or
  // when every entry is taken by addresses still under way).
  bool Admit(const std::string& key, int64_t now_ms);
  void Release(const std::string& key);
  // One request on an admitted connection: false when the address has spent
  // its budget.
  bool TakeRequest(const std::string& key, int64_t now_ms);
  // Drops the entries that hold no connection and a full budget.
  void Forget(int64_t now_ms);

  size_t size() const { return entries_.size(); }

 private:
  struct Entry {
    int connections = 0;
    double budget = 0;
    int64_t refilled_ms = -1;  // -1: never used, the budget is full
  };
  double Refilled(Entry& entry, int64_t now_ms) const;  // brings the budget up to now

  AddressLimits limits_;
  std::unordered_map<std::string, Entry> entries_;
};

}  // namespace collector

// An in-memory registry that a test fills; it counts the reads it answered.
#pragma once

#include <map>
#include <mutex>
#include <string>
#include <tuple>

#include "platform/registry.h"

class FakeRegistry : public platform::Registry {
 public:
  // Stores raw bytes under root\key\name (key and name compare case-insensitively).
  void SetValue(platform::RegistryRoot root, const std::string& key, const std::string& name,
                const std::string& bytes);
  // A string value as the registry keeps it: the text and its terminating zero.
  void SetString(platform::RegistryRoot root, const std::string& key, const std::string& name,
                 const std::string& text);
  void Remove(platform::RegistryRoot root, const std::string& key, const std::string& name);
  // The next `count` reads fail as if the value were missing.
  void FailNextReads(int count);

  bool ReadValue(platform::RegistryRoot root, const std::string& key, const std::string& name,
                 size_t max_bytes, std::string* bytes) override;

  int read_count() const;

 private:
  using Slot = std::tuple<platform::RegistryRoot, std::string, std::string>;
  static Slot MakeSlot(platform::RegistryRoot root, const std::string& key,
                       const std::string& name);

  mutable std::mutex mutex_;
  std::map<Slot, std::string> values_;
  int fail_next_ = 0;
  int read_count_ = 0;
};

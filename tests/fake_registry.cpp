#include "tests/fake_registry.h"

#include "platform/ascii.h"

FakeRegistry::Slot FakeRegistry::MakeSlot(platform::RegistryRoot root, const std::string& key,
                                          const std::string& name) {
  return Slot(root, platform::AsciiLower(key), platform::AsciiLower(name));
}

void FakeRegistry::SetValue(platform::RegistryRoot root, const std::string& key,
                            const std::string& name, const std::string& bytes) {
  std::lock_guard<std::mutex> guard(mutex_);
  values_[MakeSlot(root, key, name)] = bytes;
}

void FakeRegistry::SetString(platform::RegistryRoot root, const std::string& key,
                             const std::string& name, const std::string& text) {
  SetValue(root, key, name, text + std::string(1, '\0'));
}

void FakeRegistry::Remove(platform::RegistryRoot root, const std::string& key,
                          const std::string& name) {
  std::lock_guard<std::mutex> guard(mutex_);
  values_.erase(MakeSlot(root, key, name));
}

void FakeRegistry::FailNextReads(int count) {
  std::lock_guard<std::mutex> guard(mutex_);
  fail_next_ = count;
}

bool FakeRegistry::ReadValue(platform::RegistryRoot root, const std::string& key,
                             const std::string& name, size_t max_bytes, std::string* bytes) {
  std::lock_guard<std::mutex> guard(mutex_);
  ++read_count_;
  if (fail_next_ > 0) {
    --fail_next_;
    return false;
  }
  auto found = values_.find(MakeSlot(root, key, name));
  if (found == values_.end() || found->second.size() > max_bytes) return false;
  *bytes = found->second;
  return true;
}

int FakeRegistry::read_count() const {
  std::lock_guard<std::mutex> guard(mutex_);
  return read_count_;
}

#include "tools/collector/stored_address.h"

#include <gtest/gtest.h>

namespace collector {
namespace {

TEST(StoredAddressTest, OnlyTheNetworkPartIsKeptUnlessAskedOtherwise) {
  const struct {
    const char* address;
    AddressStorage storage;
    const char* stored;
  } rows[] = {
      {"203.0.113.77", AddressStorage::kTruncated, "203.0.113.0"},
      {"2001:db8:85a3:8d3:1319:8a2e:370:7348", AddressStorage::kTruncated, "2001:db8:85a3::"},
      {"::1", AddressStorage::kTruncated, "::"},
      {"not an address", AddressStorage::kTruncated, ""},
      {"203.0.113.77", AddressStorage::kFull, "203.0.113.77"},
      {"203.0.113.77", AddressStorage::kNone, ""},
  };
  for (const auto& row : rows) {
    EXPECT_EQ(row.stored, StoredAddress(row.address, row.storage)) << row.address;
  }
  EXPECT_EQ(AddressStorage::kNone, ParseAddressStorage("none"));
  EXPECT_FALSE(ParseAddressStorage("Full"));
}

}  // namespace
}  // namespace collector

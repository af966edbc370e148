// A table of numbers with their texts, and its one lookup.
#pragma once

#include <cstddef>
#include <cstdint>

namespace diagnostics {

struct CodeText {
  int32_t code;
  const char* text;
};

// The row for `code`, or null when the table has none.
template <size_t kRows>
const CodeText* FindCode(const CodeText (&table)[kRows], int32_t code) {
  for (const CodeText& row : table) {
    if (row.code == code) return &row;
  }
  return nullptr;
}

// Whether the codes rise strictly from row to row: sorted and unique.
template <size_t kRows>
constexpr bool CodesRise(const CodeText (&table)[kRows]) {
  for (size_t i = 1; i < kRows; ++i) {
    if (table[i - 1].code >= table[i].code) return false;
  }
  return true;
}

}  // namespace diagnostics

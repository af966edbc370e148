// A table of numbers with their texts, and its one lookup.
#pragma once

#include <cstddef>
#include <cstdint>

struct CodeText {
  int32_t code;
  const char* text;
};

// The row for `code`, or null when the table has none.
template <size_t N>
const CodeText* FindCode(const CodeText (&table)[N], int32_t code) {
  for (const CodeText& row : table) {
    if (row.code == code) return &row;
  }
  return nullptr;
}

// Whether the codes rise strictly from row to row: sorted and unique.
template <size_t N>
constexpr bool CodesRise(const CodeText (&table)[N]) {
  for (size_t i = 1; i < N; ++i) {
    if (table[i - 1].code >= table[i].code) return false;
  }
  return true;
}

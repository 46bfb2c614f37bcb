// StrTable: interns strings, giving each distinct text a dense ID in order of
// first insertion and counting its insertions.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace veska {

struct StrNode {
  std::string text;
  int id = 0;
  long count = 0;  // insertions of this text
  std::unique_ptr<StrNode> next;
};

struct StrTable {
  std::vector<std::unique_ptr<StrNode>> buckets;  // chain heads
  int size = 0;      // number of buckets
  int occupied = 0;  // non-empty buckets (not entries)
  int next_id = 0;   // number of entries
};

// h = h * 97 + c over signed bytes, wrapping at 32 bits.
uint32_t strtab_hash(const char* text, size_t length);

void strtab_init(StrTable& table);
void strtab_free(StrTable& table);
int strtab_lookup(const StrTable& table, const std::string& text);  // -1 if absent
int strtab_insert(StrTable& table, const std::string& text);
int strtab_count(const StrTable& table);
// Texts indexed by ID; the pointers stay owned by the table.
std::vector<const std::string*> strtab_texts(const StrTable& table);
// Largest insertion count; ties go to the smallest text in byte order.
// Empty table: text null, count -1.
void strtab_most_frequent(const StrTable& table, const std::string** text, long* count);

}  // namespace veska

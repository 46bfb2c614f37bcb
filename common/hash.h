// StrTable: interns strings, giving each distinct text a dense ID in order of
// first insertion and counting its insertions.
//
// Nodes live in one store indexed by ID (a deque, so texts never move and the
// pointers handed out by strtab_texts stay valid while the table lives);
// chains link nodes by ID.
#pragma once

#include <cstdint>
#include <deque>
#include <string>
#include <string_view>
#include <vector>

namespace veska {

struct StrNode {
  std::string text;
  int id = 0;
  long count = 0;  // insertions of this text
  int next = -1;   // ID of the next node of the chain; -1 at its end
  uint32_t hash = 0;
};

struct StrTable {
  std::vector<int> buckets;  // ID of each chain's first node; -1 when empty
  int size = 0;              // number of buckets
  int occupied = 0;          // non-empty buckets (not entries)
  int next_id = 0;           // number of entries
  std::deque<StrNode> nodes;  // by ID

  StrTable();  // ready to use, as after strtab_init
};

constexpr int kStrTableInitialSize = 997;

// h = h * 97 + c over signed bytes, wrapping at 32 bits.
uint32_t strtab_hash(const char* text, size_t length);

void strtab_init(StrTable& table);
// Releases everything; the table is empty (and re-initialised on next insert).
void strtab_free(StrTable& table);
int strtab_lookup(const StrTable& table, std::string_view text);  // -1 if absent
int strtab_insert(StrTable& table, std::string_view text);
// Counts one more insertion of the text with this ID without hashing it: for
// callers that already know a repeated text's ID.
void strtab_bump(StrTable& table, int id);
int strtab_count(const StrTable& table);
const std::string& strtab_text(const StrTable& table, int id);
// Texts indexed by ID; the pointers stay owned by the table.
std::vector<const std::string*> strtab_texts(const StrTable& table);
// Largest insertion count; ties go to the smallest text in byte order.
// Empty table: text null, count -1.
void strtab_most_frequent(const StrTable& table, const std::string** text, long* count);

}  // namespace veska

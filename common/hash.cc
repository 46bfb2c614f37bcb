#include "common/hash.h"

#include "common/misc.h"

namespace veska {

namespace {

// The load limit counts occupied buckets: grow when occupied / size > 0.75.
bool over_load_limit(const StrTable& table) {
  return static_cast<long>(table.occupied) * 4 > static_cast<long>(table.size) * 3;
}

// Moves every node, bucket by bucket of the old array and in chain order, to
// the end of its chain in a table of 2 * size + 1 buckets. IDs and counts do
// not change.
void grow(StrTable& table) {
  long new_size_long = 2L * table.size + 1;
  if (new_size_long > 0x7fffffffL) die("Internal error: string table too large\n");
  int new_size = static_cast<int>(new_size_long);
  std::vector<int> heads(static_cast<size_t>(new_size), -1);
  std::vector<int> tails(static_cast<size_t>(new_size), -1);
  int occupied = 0;
  for (int head : table.buckets) {
    for (int id = head; id != -1;) {
      StrNode& node = table.nodes[static_cast<size_t>(id)];
      int next = node.next;
      node.next = -1;
      size_t b = node.hash % static_cast<uint32_t>(new_size);
      if (heads[b] == -1) {
        heads[b] = id;
        ++occupied;
      } else {
        table.nodes[static_cast<size_t>(tails[b])].next = id;
      }
      tails[b] = id;
      id = next;
    }
  }
  table.buckets.swap(heads);
  table.size = new_size;
  table.occupied = occupied;
}

}  // namespace

StrTable::StrTable() { strtab_init(*this); }

uint32_t strtab_hash(const char* text, size_t length) {
  uint32_t h = 0;
  for (size_t i = 0; i < length; ++i) {
    h = h * 97u + static_cast<uint32_t>(static_cast<int>(static_cast<signed char>(text[i])));
  }
  return h;
}

void strtab_init(StrTable& table) {
  table.buckets.assign(kStrTableInitialSize, -1);
  table.size = kStrTableInitialSize;
  table.occupied = 0;
  table.next_id = 0;
  table.nodes.clear();
}

void strtab_free(StrTable& table) {
  std::vector<int>().swap(table.buckets);
  std::deque<StrNode>().swap(table.nodes);
  table.size = 0;
  table.occupied = 0;
  table.next_id = 0;
}

int strtab_lookup(const StrTable& table, std::string_view text) {
  if (table.size == 0) return -1;
  uint32_t h = strtab_hash(text.data(), text.size());
  for (int id = table.buckets[h % static_cast<uint32_t>(table.size)]; id != -1;) {
    const StrNode& node = table.nodes[static_cast<size_t>(id)];
    if (node.hash == h && node.text == text) return id;
    id = node.next;
  }
  return -1;
}

int strtab_insert(StrTable& table, std::string_view text) {
  if (table.size == 0) strtab_init(table);
  uint32_t h = strtab_hash(text.data(), text.size());
  int& head = table.buckets[h % static_cast<uint32_t>(table.size)];
  int last = -1;
  for (int id = head; id != -1;) {
    StrNode& node = table.nodes[static_cast<size_t>(id)];
    if (node.hash == h && node.text == text) {
      ++node.count;
      return id;
    }
    last = id;
    id = node.next;
  }
  if (table.next_id == 0x7fffffff) die("Internal error: string table too large\n");
  int id = table.next_id++;
  StrNode& node = table.nodes.emplace_back();
  node.text.assign(text);
  node.id = id;
  node.count = 1;
  node.hash = h;
  if (last == -1) {
    head = id;
    ++table.occupied;
  } else {
    table.nodes[static_cast<size_t>(last)].next = id;
  }
  if (over_load_limit(table)) grow(table);
  return id;
}

void strtab_bump(StrTable& table, int id) { ++table.nodes[static_cast<size_t>(id)].count; }

int strtab_count(const StrTable& table) { return table.next_id; }

const std::string& strtab_text(const StrTable& table, int id) {
  return table.nodes[static_cast<size_t>(id)].text;
}

std::vector<const std::string*> strtab_texts(const StrTable& table) {
  std::vector<const std::string*> texts;
  texts.reserve(table.nodes.size());
  for (const StrNode& node : table.nodes) texts.push_back(&node.text);
  return texts;
}

void strtab_most_frequent(const StrTable& table, const std::string** text, long* count) {
  const StrNode* best = nullptr;
  for (const StrNode& node : table.nodes) {
    // std::string compares bytes as unsigned char.
    if (best == nullptr || node.count > best->count ||
        (node.count == best->count && node.text < best->text)) {
      best = &node;
    }
  }
  *text = best != nullptr ? &best->text : nullptr;
  *count = best != nullptr ? best->count : -1;
}

}  // namespace veska

#include "common/option_scan.h"

#include <cstring>
#include <new>

#include "common/misc.h"

namespace veska {

namespace {

// Scanner state; the copies are overwritten by every call.
int g_next_index = 1;
char g_current_word[kMaxCurrentWord + 1];
char g_value[kMaxOptionValue + 1];
char g_value_mutable[kMaxOptionValue + 1];

// ASCII letters only, so the outcome never depends on the locale or on
// bytes above 127.
bool is_letter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

// "-x...", or "--x..." with x a letter: a word that may not serve as a value.
bool looks_like_option(const char* word) {
  if (word[0] != '-') return false;
  if (is_letter(word[1])) return true;
  return word[1] == '-' && is_letter(word[2]);
}

void clear_copies() {
  g_current_word[0] = '\0';
  g_value[0] = '\0';
  g_value_mutable[0] = '\0';
}

void store_current_word(const char* word) {
  size_t n = strnlen(word, kMaxCurrentWord);
  memcpy(g_current_word, word, n);
  g_current_word[n] = '\0';
}

// Cutting a value would silently change what the user asked for.
void store_value(const char* word) {
  size_t n = strnlen(word, kMaxOptionValue + 1);
  if (n > kMaxOptionValue) die_stderr("Too long option value: %.64s...\n", word);
  memcpy(g_value, word, n);
  g_value[n] = '\0';
  memcpy(g_value_mutable, word, n + 1);
}

const OptionSpec* find_long(const OptionSpec* table, const char* name) {
  for (const OptionSpec* o = table; o->id >= 0; ++o) {
    if (o->long_name != nullptr && strcmp(o->long_name, name) == 0) return o;
  }
  return nullptr;
}

const OptionSpec* find_short(const OptionSpec* table, char letter) {
  for (const OptionSpec* o = table; o->id >= 0; ++o) {
    if (o->short_letter != kNoShortLetter && o->short_letter == letter) return o;
  }
  return nullptr;
}

}  // namespace

void option_scan_reset() { g_next_index = 1; }

int option_scan_next(int argc, char** argv, const OptionSpec* table) {
  clear_copies();
  if (g_next_index < 1) g_next_index = 1;
  if (g_next_index >= argc) return -1;
  const char* word = argv[g_next_index++];
  store_current_word(word);

  const OptionSpec* option = nullptr;
  size_t len = strnlen(word, 3);
  if (len > 2 && word[0] == '-' && word[1] == '-' && is_letter(word[2])) {
    option = find_long(table, word + 2);
  } else if (len > 2 && word[0] == '-' && is_letter(word[1])) {
    return -2;  // grouped short options or a value glued to its letter
  } else if (len == 2 && word[0] == '-' && is_letter(word[1])) {
    option = find_short(table, word[1]);
  } else {
    store_value(word);
    return 0;
  }
  if (option == nullptr) return -2;

  if (option->takes_argument) {
    if (g_next_index >= argc) return -2;
    const char* value = argv[g_next_index];
    if (looks_like_option(value)) return -2;
    store_value(value);
    ++g_next_index;
  }
  return option->id;
}

const char* option_current_word() { return g_current_word; }

const char* option_value() { return g_value; }

char* option_value_mutable() { return g_value_mutable; }

std::string get_option_str(int id, const OptionSpec* table, bool long_only) {
  try {
    for (const OptionSpec* o = table; o->id >= 0; ++o) {
      if (o->id != id) continue;
      std::string text = "--";
      text += o->long_name != nullptr ? o->long_name : "";
      if (!long_only && o->short_letter != kNoShortLetter) {
        text += " (-";
        text += o->short_letter;
        text += ')';
      }
      return text;
    }
    return std::string();
  } catch (const std::bad_alloc&) {
    die_stderr("Couldn't allocate memory (get_option_str)\n");
  }
}

}  // namespace veska

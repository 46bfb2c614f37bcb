#include "common/matrix_store.h"

#include <algorithm>
#include <climits>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>

#include "common/matrix.h"
#include "common/misc.h"

namespace veska {

namespace {

constexpr const char* kModule = "allocate_matrix";

int64_t g_system_allocations = 0;

void* take_from_system(size_t bytes, int line) {
  ++g_system_allocations;
  return alloc_or_die(bytes, kModule, line);
}

// Units an object occupies in its arena: a matrix header is one unit (its
// data is a separate block); a vector is its 16-byte header (two 8-byte
// units) followed by its doubles.
constexpr int64_t kVectorHeaderUnits = sizeof(Vector) / 8;
int64_t units_of(const Matrix&) { return 1; }
int64_t units_of(const Vector& v) { return v.n + kVectorHeaderUnits; }

// One arena: a list of blocks (newest first) of fixed-size units. An object
// starts with its Header at some unit and occupies a whole number of units.
// Free headers form one circular list per block, ordered by address, through
// Header::free_next (a unit index); unit 0 of a block is the list's sentinel.
// Links are 32-bit, so a block holds at most INT32_MAX units.
template <class Header, int64_t kUnitBytes>
class Arena {
 public:
  struct Block {
    unsigned char* base;
    int64_t capacity;  // units
    int64_t bump;      // first unused unit
    int32_t cursor;    // where free-list walks start
    Block* older;
  };

  void init(int64_t capacity) {
    release();
    add_block(capacity);
  }

  // The first free header accepted by same_shape, unlinked; null if none.
  template <class Match>
  Header* recycle(Match same_shape) {
    for (Block* b = newest_; b != nullptr; b = b->older) {
      int32_t prev = b->cursor;
      do {
        int32_t node = link(b, prev);
        if (node != 0 && same_shape(*at(b, node))) {
          link(b, prev) = link(b, node);
          b->cursor = prev;
          return at(b, node);
        }
        prev = node;
      } while (prev != b->cursor);
    }
    return nullptr;
  }

  // Raw room for `units` fresh units; a new block when no block has room.
  void* bump(int64_t units) {
    for (Block* b = newest_; b != nullptr; b = b->older) {
      if (b->bump + units < b->capacity) return take(b, units);
    }
    int64_t capacity = std::min<int64_t>(2 * std::max(newest_->capacity, units), INT32_MAX);
    add_block(capacity);
    return take(newest_, units);
  }

  // Puts h on its block's free list at its place by address.
  void give_back(const Header* h, const char* double_free_format, const char* illegal_text) {
    auto address = reinterpret_cast<uintptr_t>(h);
    for (Block* b = newest_; b != nullptr; b = b->older) {
      auto first = reinterpret_cast<uintptr_t>(b->base);
      if (address < first + kUnitBytes || address >= first + b->bump * kUnitBytes) continue;
      if ((address - first) % kUnitBytes != 0) break;
      auto unit = static_cast<int32_t>((address - first) / kUnitBytes);
      int32_t node = b->cursor;
      for (;;) {
        // A header already on the list is met before any place for it.
        if (node == unit) die(double_free_format, static_cast<const void*>(h));
        int32_t next = link(b, node);
        bool between = node < unit && unit < next;
        bool past_the_end = node >= next && (unit > node || unit < next);
        if (between || past_the_end) {
          link(b, unit) = next;
          link(b, node) = unit;
          b->cursor = unit;
          return;
        }
        node = next;
      }
    }
    die("%s", illegal_text);
  }

  // Calls on_object (when given) for every object ever handed out, free or
  // not, then frees all blocks.
  void release(void (*on_object)(Header&) = nullptr) {
    while (newest_ != nullptr) {
      Block* b = newest_;
      if (on_object != nullptr) {
        for (int64_t u = 1; u < b->bump; u += units_of(*at(b, u))) on_object(*at(b, u));
      }
      newest_ = b->older;
      std::free(b->base);
      std::free(b);
    }
  }

  bool ready() const { return newest_ != nullptr; }

  int block_count() const {
    int n = 0;
    for (Block* b = newest_; b != nullptr; b = b->older) ++n;
    return n;
  }
  int64_t newest_capacity() const { return newest_ != nullptr ? newest_->capacity : 0; }

 private:
  Header* at(Block* b, int64_t unit) {
    return reinterpret_cast<Header*>(b->base + unit * kUnitBytes);
  }
  int32_t& link(Block* b, int64_t unit) { return at(b, unit)->free_next; }

  void* take(Block* b, int64_t units) {
    void* room = b->base + b->bump * kUnitBytes;
    b->bump += units;
    return room;
  }

  void add_block(int64_t capacity) {
    auto* b = static_cast<Block*>(take_from_system(sizeof(Block), __LINE__));
    size_t bytes = static_cast<size_t>(capacity) * kUnitBytes;
    b->base = static_cast<unsigned char*>(take_from_system(bytes, __LINE__));
    std::memset(b->base, 0, bytes);
    b->capacity = capacity;
    b->bump = 1;
    b->cursor = 0;
    b->older = newest_;
    new (b->base) Header{};  // the sentinel, linked to itself (unit 0)
    newest_ = b;
  }

  Block* newest_ = nullptr;
};

static_assert(sizeof(Vector) == 16, "a vector header is two 8-byte units");

Arena<Matrix, sizeof(Matrix)> g_matrices;  // one unit per matrix header
Arena<Vector, 8> g_vectors;                // header units, then the doubles

// Keeps every vector well inside one block of at most INT32_MAX units.
constexpr int kMaxVectorLength = INT32_MAX / 2;

void ensure_ready() {
  if (!g_matrices.ready() || !g_vectors.ready()) store_init();
}

}  // namespace

void store_init(int64_t matrix_units, int64_t vector_units) {
  store_shutdown();
  // The bump test is strict, so a block needs room for one object besides
  // its sentinel.
  g_matrices.init(std::clamp<int64_t>(matrix_units, 3, INT32_MAX));
  g_vectors.init(std::clamp<int64_t>(vector_units, 4, INT32_MAX));
}

void store_shutdown() {
  g_matrices.release([](Matrix& m) { std::free(m.data); });
  g_vectors.release();
}

Matrix* new_matrix(int rows, int cols) {
  if (rows < 0 || cols < 0) die_bad_dimension("new_matrix");
  ensure_ready();
  Matrix* m = g_matrices.recycle(
      [rows, cols](const Matrix& h) { return h.rows == rows && h.cols == cols; });
  if (m != nullptr) return m;
  auto count = static_cast<size_t>(rows) * static_cast<size_t>(cols);
  if (count > SIZE_MAX / sizeof(double)) die_bad_dimension("new_matrix");
  void* room = g_matrices.bump(1);
  auto* data = static_cast<double*>(take_from_system(std::max<size_t>(count, 1) * sizeof(double),
                                                     __LINE__));
  return new (room) Matrix{rows, cols, data, 0};
}

Vector* new_vector(int n) {
  if (n < 0 || n > kMaxVectorLength) die_bad_dimension("new_vector");
  ensure_ready();
  Vector* v = g_vectors.recycle([n](const Vector& h) { return h.n == n; });
  if (v != nullptr) return v;
  void* room = g_vectors.bump(units_of(Vector{n, 0, nullptr}));
  auto* data = reinterpret_cast<double*>(static_cast<unsigned char*>(room) + sizeof(Vector));
  return new (room) Vector{n, 0, data};
}

void free_matrix(Matrix* m) {
  if (m == nullptr) return;
  g_matrices.give_back(m, "Internal error: double-freed a matrix (%p)\n",
                       "Internal error: Illegal address of a matrix to be freed\n");
}

void free_vector(Vector* v) {
  if (v == nullptr) return;
  g_vectors.give_back(v, "Internal error: double-freed a vector (%p)\n",
                      "Internal error: Illegal address of a vector to be freed\n");
}

void zero_matrix(Matrix* m) {
  std::fill_n(m->data, static_cast<size_t>(m->rows) * m->cols, 0.0);
}

void zero_vector(Vector* v) { std::fill_n(v->data, v->n, 0.0); }

Matrix* new_zero_matrix(int rows, int cols) {
  Matrix* m = new_matrix(rows, cols);
  zero_matrix(m);
  return m;
}

Vector* new_zero_vector(int n) {
  Vector* v = new_vector(n);
  zero_vector(v);
  return v;
}

void copy_matrix(Matrix* dst, const Matrix* src) {
  if (dst->rows != src->rows || dst->cols != src->cols) die_bad_dimension("copy_matrix");
  std::copy_n(src->data, static_cast<size_t>(dst->rows) * dst->cols, dst->data);
}

void copy_vector(Vector* dst, const Vector* src) {
  if (dst->n != src->n) die_bad_dimension("copy_vector");
  std::copy_n(src->data, dst->n, dst->data);
}

Matrix* dup_matrix(const Matrix* src) {
  Matrix* m = new_matrix(src->rows, src->cols);
  copy_matrix(m, src);
  return m;
}

Vector* dup_vector(const Vector* src) {
  Vector* v = new_vector(src->n);
  copy_vector(v, src);
  return v;
}

Matrix* new_matrix_from(int rows, int cols, const double* const* row_values) {
  Matrix* m = new_matrix(rows, cols);
  for (int i = 0; i < rows; ++i) std::copy_n(row_values[i], cols, (*m)[i]);
  return m;
}

Vector* new_vector_from(int n, const double* values) {
  Vector* v = new_vector(n);
  std::copy_n(values, n, v->data);
  return v;
}

Matrix* new_outer_product(const Vector* a, const Vector* b) {
  Matrix* m = new_matrix(a->n, b->n);
  for (int i = 0; i < a->n; ++i) {
    double* row = (*m)[i];
    for (int j = 0; j < b->n; ++j) row[j] = a->data[i] * b->data[j];
  }
  return m;
}

Vector* new_sub_vector(const Vector* v, const int* mask, int count) {
  if (count < 0) count = count_mask(mask, v->n);
  Vector* sub = new_vector(count);
  extract_sub_vector(sub, v, mask);
  return sub;
}

Matrix* new_sub_matrix(const Matrix* m, const int* row_mask, const int* col_mask, int n_rows,
                       int n_cols) {
  if (n_rows < 0) n_rows = count_mask(row_mask, m->rows);
  if (n_cols < 0) n_cols = count_mask(col_mask, m->cols);
  Matrix* sub = new_matrix(n_rows, n_cols);
  extract_sub_matrix(sub, m, row_mask, col_mask);
  return sub;
}

StoreStats store_stats() {
  return StoreStats{g_system_allocations, g_matrices.block_count(), g_vectors.block_count(),
                    g_matrices.newest_capacity(), g_vectors.newest_capacity()};
}

}  // namespace veska

// Matrices and vectors that own their numbers, for records that are copied
// by value (a model's saved copies are plain assignments).
//
// A store object cannot be copied: its header belongs to the store. These
// keep the numbers in a std::vector and a header that always points at
// them, so the algebra of common/matrix takes them as it takes store objects
// (a MatrixValue converts to Matrix*) and a copy never shares storage with
// its source. Nothing here may be handed back to the store.
#pragma once

#include <cstddef>
#include <utility>
#include <vector>

#include "common/matrix_store.h"

namespace veska {

namespace detail {

// The common part of MatrixValue and VectorValue: the numbers and a header
// `View` whose data pointer is `bind`-ed to them after every change.
template <typename View>
class OwnedNumbers {
 public:
  View* get() { return &view_; }
  const View* get() const { return &view_; }
  operator View*() { return &view_; }
  operator const View*() const { return &view_; }
  View* operator->() { return &view_; }
  const View* operator->() const { return &view_; }
  View& operator*() { return view_; }
  const View& operator*() const { return view_; }
  const std::vector<double>& values() const { return values_; }

 protected:
  OwnedNumbers() = default;
  OwnedNumbers(size_t n, View shape) : values_(n, 0.0), view_(shape) { bind(); }
  OwnedNumbers(const OwnedNumbers& o) : values_(o.values_), view_(o.view_) { bind(); }
  OwnedNumbers(OwnedNumbers&& o) noexcept : values_(std::move(o.values_)), view_(o.view_) {
    bind();
    o.view_ = View{};
    o.bind();
  }
  OwnedNumbers& operator=(const OwnedNumbers& o) {
    values_ = o.values_;  // same shape: the numbers stay where they are
    view_ = o.view_;
    bind();
    return *this;
  }
  OwnedNumbers& operator=(OwnedNumbers&& o) noexcept {
    values_ = std::move(o.values_);
    view_ = o.view_;
    bind();
    o.view_ = View{};
    o.bind();
    return *this;
  }
  ~OwnedNumbers() = default;

 private:
  void bind() { view_.data = values_.empty() ? nullptr : values_.data(); }

  std::vector<double> values_;
  View view_{};
};

}  // namespace detail

// rows x cols doubles, row-major, zero when made.
class MatrixValue : public detail::OwnedNumbers<Matrix> {
 public:
  MatrixValue() = default;
  MatrixValue(int rows, int cols)
      : OwnedNumbers(static_cast<size_t>(rows) * static_cast<size_t>(cols),
                     Matrix{rows, cols, nullptr, -1}) {}
  bool operator==(const MatrixValue& o) const {
    return get()->rows == o->rows && get()->cols == o->cols && values() == o.values();
  }
};

// n doubles, zero when made.
class VectorValue : public detail::OwnedNumbers<Vector> {
 public:
  VectorValue() = default;
  explicit VectorValue(int n) : OwnedNumbers(static_cast<size_t>(n), Vector{n, -1, nullptr}) {}
  bool operator==(const VectorValue& o) const { return get()->n == o->n && values() == o.values(); }
};

}  // namespace veska

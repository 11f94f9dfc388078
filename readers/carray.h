#pragma once

// The growable array of the model's tables: holds its elements by value,
// appends copies and checks every indexed access.

#include <cstddef>
#include <iterator>
#include <stdexcept>
#include <type_traits>
#include <utility>
#include <vector>

namespace lumerca {

// Raised for an index outside an array: a cross-reference of the marker file
// that names no record.
class IndexOutOfRange : public std::out_of_range {
public:
  using std::out_of_range::out_of_range;
};

template <class T>
class CArray {
public:
  std::size_t GetSize() const noexcept { return items_.size(); }
  bool IsEmpty() const noexcept { return items_.empty(); }

  // Index types vary (signed 16-bit fields, unsigned positions); every one is
  // range-checked before use.
  template <class I>
  T& operator[](I index) { return items_[Checked(index)]; }
  template <class I>
  const T& operator[](I index) const { return items_[Checked(index)]; }

  template <class I>
  bool Contains(I index) const noexcept {
    if constexpr (std::is_signed_v<I>) {
      if (index < 0) return false;
    }
    return static_cast<unsigned long long>(index) < items_.size();
  }

  void Add(const T& item) { items_.push_back(item); }
  void Add(T&& item) { items_.push_back(std::move(item)); }
  void Append(CArray&& other) {
    if (items_.empty()) {
      items_ = std::move(other.items_);
    } else {
      items_.insert(items_.end(), std::make_move_iterator(other.items_.begin()),
                    std::make_move_iterator(other.items_.end()));
    }
  }
  void RemoveAll() noexcept { items_.clear(); }
  void Reserve(std::size_t n) { items_.reserve(n); }

  auto begin() noexcept { return items_.begin(); }
  auto end() noexcept { return items_.end(); }
  auto begin() const noexcept { return items_.begin(); }
  auto end() const noexcept { return items_.end(); }

private:
  template <class I>
  std::size_t Checked(I index) const {
    if (!Contains(index)) throw IndexOutOfRange("array index out of range");
    return static_cast<std::size_t>(index);
  }

  std::vector<T> items_;
};

}  // namespace lumerca

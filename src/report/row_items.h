#pragma once
// The item list of a tabbed report row.  Layouts such as "(a,10(a1,f8.2,:))" take a label,
// then the separator and a value for every column, in that order; this collects them on the
// stack (at most one label and ten columns) without building strings.

#include <array>
#include <cstddef>
#include <span>
#include <string_view>
#include <utility>

#include "common/record_format.h"

namespace basinfit {

class RowItems {
 public:
  static constexpr std::size_t kMaxColumns = 10;

  // A row without a label: the layout starts with its first column.
  explicit RowItems(const char& separator) : separator_(&separator) {}
  RowItems(std::string_view label, const char& separator) : separator_(&separator) {
    items_[count_++] = FormatArg(label);
  }

  // Adds one column: the separator, then the value.  `value` is an int, a float or a word.
  template <class Value>
  RowItems& column(const Value& value) {
    if (count_ + 2 > items_.size()) throw FormatError("a report row has more than ten columns");
    items_[count_++] = FormatArg(*separator_);
    items_[count_++] = FormatArg(value);
    return *this;
  }

  // Adds the first `count` values of a per-layer, per-sensor or per-point array.
  template <class Array>
  RowItems& columns(const Array& values, int count) {
    for (int i = 0; i < count; ++i) column(values[static_cast<std::size_t>(i)]);
    return *this;
  }

  std::span<const FormatArg> items() const { return {items_.data(), count_}; }

 private:
  template <std::size_t... I>
  static std::array<FormatArg, sizeof...(I)> placeholders(std::index_sequence<I...>) {
    return {((void)I, FormatArg(0))...};
  }

  const char* separator_;
  std::array<FormatArg, 1 + 2 * kMaxColumns> items_ =
      placeholders(std::make_index_sequence<1 + 2 * kMaxColumns>{});
  std::size_t count_ = 0;
};

}  // namespace basinfit

#include "solver/support_library.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>

#include "common/record_format.h"
#include "solver/machine_constants.h"

namespace basinfit::solver {
namespace {

constexpr int kBookkeeping = 10;
constexpr int kUnitsPerItem[5] = {1, 1, 1, 2, 2};

int units_per(StackItem type) { return kUnitsPerItem[static_cast<int>(type) - 1]; }

// Decimal digits a type shows: ceil(digits * log10 2) from the machine constants.
int integer_width() { return static_cast<int>(std::ceil(i1mach(8) * r1mach(5))) + 1; }
int real_digits() { return static_cast<int>(std::ceil(i1mach(11) * r1mach(5))); }
int double_digits() { return static_cast<int>(std::ceil(i1mach(14) * r1mach(5))); }

// Writes the count and widths into the blank places of an item-listing template.
std::string two_digits(int value) {
  std::string text = std::to_string(value);
  return text.size() < 2 ? " " + text : text;
}

}  // namespace

WorkStack::WorkStack(int size) : units_(static_cast<std::size_t>(std::max(size, 12)), 0u) {
  word(1) = 0;
  word(2) = kBookkeeping;
  word(3) = kBookkeeping;
  word(4) = std::max(size, 12);
  word(5) = kBookkeeping;
  for (int t = 0; t < 5; ++t) word(6 + t) = kUnitsPerItem[t];
}

int WorkStack::allocate(int count, StackItem type) {
  const int per = units_per(type);
  const int top = current_top();
  const int first_index = (top + per - 1) / per + 1;  // aligned to the item size
  const int end = (first_index - 1 + std::max(count, 0)) * per;
  if (end + 2 > size()) throw SupportLibraryStop("work stack overflow");
  word(end + 1) = top;
  word(end + 2) = static_cast<int>(type);
  word(2) = end + 2;
  word(3) = std::max(maximum_top(), end + 2);
  word(1) = allocations() + 1;
  return first_index;
}

void WorkStack::release() {
  if (allocations() <= 0) return;
  word(2) = word(current_top() - 1);
  word(1) = allocations() - 1;
}

void WorkStack::list_items(TextUnit& out, StackItem type, int first_index, int count) const {
  const int per = units_per(type);
  switch (type) {
    case StackItem::kInteger: {
      const int width = integer_width();
      constexpr int kPerLine = 7;
      const Format format("(1a1,i7," + two_digits(kPerLine) + "i" + two_digits(width) + ")");
      for (int i = 0; i < count; i += kPerLine) {
        std::vector<int> items;
        for (int k = i; k < std::min(count, i + kPerLine); ++k)
          items.push_back(word((first_index + k - 1) * per + 1));
        out.write(format, std::string_view(" "), first_index + i, std::span<const int>(items));
      }
      break;
    }
    case StackItem::kReal:
    case StackItem::kComplex: {
      const int digits = real_digits();
      constexpr int kPerLine = 5;
      const Format format("(1a1,i7,1p" + two_digits(kPerLine) + "e" + two_digits(digits + 7) + "." +
                          two_digits(digits - 1) + ")");
      const int values = type == StackItem::kComplex ? 2 * count : count;
      for (int i = 0; i < values; i += kPerLine) {
        std::vector<float> items;
        for (int k = i; k < std::min(values, i + kPerLine); ++k) {
          items.push_back(std::bit_cast<float>(unit((first_index - 1) * per + k + 1)));
        }
        out.write(format, std::string_view(" "),
                  first_index + i / (per == 2 && type == StackItem::kComplex ? 2 : 1),
                  std::span<const float>(items));
      }
      break;
    }
    case StackItem::kDouble: {
      const int digits = double_digits();
      constexpr int kPerLine = 3;
      const Format format("(1a1,i7,1p" + two_digits(kPerLine) + "d" + two_digits(digits + 7) + "." +
                          two_digits(digits - 1) + ")");
      for (int i = 0; i < count; i += kPerLine) {
        std::vector<double> items;
        for (int k = i; k < std::min(count, i + kPerLine); ++k) {
          const int u = (first_index + k - 1) * 2 + 1;
          const std::uint64_t bits =
              static_cast<std::uint64_t>(unit(u)) | (static_cast<std::uint64_t>(unit(u + 1)) << 32);
          items.push_back(std::bit_cast<double>(bits));
        }
        out.write(format, std::string_view(" "), first_index + i, std::span<const double>(items));
      }
      break;
    }
    case StackItem::kLogical: {
      constexpr int kPerLine = 20;
      const Format format("(1a1,i7," + two_digits(kPerLine) + "(3x,1a1))");
      for (int i = 0; i < count; i += kPerLine) {
        std::vector<FormatArg> items = {FormatArg(std::string_view(" ")), FormatArg(first_index + i)};
        for (int k = i; k < std::min(count, i + kPerLine); ++k) {
          items.emplace_back(std::string_view(word(first_index + k) != 0 ? "T" : "F"));
        }
        out.write_list(format, items);
      }
      break;
    }
  }
}

void WorkStack::unstructured_dump(TextUnit& out, int first_unit, int last_unit) const {
  const int units = std::max(0, last_unit - first_unit + 1);
  const StackItem order[5] = {StackItem::kLogical, StackItem::kInteger, StackItem::kReal, StackItem::kDouble,
                              StackItem::kComplex};
  for (const StackItem type : order) {
    const int per = units_per(type);
    switch (type) {
      case StackItem::kLogical:
        out.write(BASINFIT_FMT("('0logical stack')"));
        break;
      case StackItem::kInteger:
        out.write(BASINFIT_FMT("('0integer stack')"));
        break;
      case StackItem::kReal:
        out.write(BASINFIT_FMT("('0real stack')"));
        break;
      case StackItem::kDouble:
        out.write(BASINFIT_FMT("('0double precision stack')"));
        break;
      case StackItem::kComplex:
        out.write(BASINFIT_FMT("('0complex stack')"));
        break;
    }
    list_items(out, type, (first_unit - 1) / per + 1, units / per);
  }
}

void WorkStack::dump(TextUnit& out) const {
  out.write(BASINFIT_FMT("('1stack dump')"));
  const bool valid = units_.size() >= static_cast<std::size_t>(kBookkeeping) && word(5) == kBookkeeping &&
                     size() > 11 && maximum_top() <= size() && current_top() <= maximum_top() &&
                     kBookkeeping <= current_top() && allocations() >= 0 &&
                     size() <= static_cast<int>(units_.size());
  if (!valid) {
    out.write(BASINFIT_FMT("('0stack heading is overwritten')"));
    out.write(BASINFIT_FMT("(' unstructured dump of the default stack follows')"));
    unstructured_dump(out, 1, static_cast<int>(units_.size()));
    out.write(BASINFIT_FMT("('0end of stack dump')"));
    return;
  }
  out.write(BASINFIT_FMT("('0storage parameters')"));
  out.write(BASINFIT_FMT("(' logical          ',I7,' storage units')"), word(6));
  out.write(BASINFIT_FMT("(' integer          ',I7,' storage units')"), word(7));
  out.write(BASINFIT_FMT("(' real             ',I7,' storage units')"), word(8));
  out.write(BASINFIT_FMT("(' double precision ',I7,' storage units')"), word(9));
  out.write(BASINFIT_FMT("(' complex          ',I7,' storage units')"), word(10));
  out.write(BASINFIT_FMT("('0stack statistics')"));
  out.write(BASINFIT_FMT("(' stack size            ',I7)"), size());
  out.write(BASINFIT_FMT("(' maximum stack used    ',I7)"), maximum_top());
  out.write(BASINFIT_FMT("(' current stack used    ',I7)"), current_top());
  out.write(BASINFIT_FMT("(' number of allocations ',I7)"), allocations());

  int top = current_top();
  for (int allocation = allocations(); allocation >= 1; --allocation) {
    const int previous = word(top - 1);
    const int type_code = word(top);
    if (previous >= top || previous < kBookkeeping || type_code < 1 || type_code > 5) {
      out.write(BASINFIT_FMT("('0stack partially overwritten')"));
      out.write(BASINFIT_FMT("(' unstructured dump of remaining stack follows')"));
      unstructured_dump(out, kBookkeeping + 1, top);
      break;
    }
    const StackItem type = static_cast<StackItem>(type_code);
    const int per = units_per(type);
    const int first_index = (previous + per - 1) / per + 1;
    const int count = ((top - 2) - (first_index - 1) * per) / per;
    switch (type) {
      case StackItem::kLogical:
        out.write(BASINFIT_FMT("('0allocation =',I7,',          pointer =',I7,',          type logical')"),
                  allocation, first_index);
        break;
      case StackItem::kInteger:
        out.write(BASINFIT_FMT("('0allocation =',I7,',          pointer =',I7,',          type integer')"),
                  allocation, first_index);
        break;
      case StackItem::kReal:
        out.write(BASINFIT_FMT("('0allocation =',I7,',          pointer =',I7,',          type real')"),
                  allocation, first_index);
        break;
      case StackItem::kDouble:
        out.write(
            BASINFIT_FMT("('0allocation =',I7,',          pointer =',I7,',          type double precision')"),
            allocation, first_index);
        break;
      case StackItem::kComplex:
        out.write(BASINFIT_FMT("('0allocation =',I7,',          pointer =',I7,',          type complex')"),
                  allocation, first_index);
        break;
    }
    list_items(out, type, first_index, count);
    top = previous;
  }
  out.write(BASINFIT_FMT("('0end of stack dump')"));
}

void SupportLibrary::print_message(std::string_view message, int error_number) {
  if (error_unit_ == nullptr) return;
  error_unit_->write(BASINFIT_FMT("(' error ',I4,' in ')"), error_number);
  std::vector<FormatArg> characters;
  for (const char& c : message) characters.emplace_back(c);
  error_unit_->write_list(BASINFIT_FMT("(3x,72a01)"), characters);
}

void SupportLibrary::stop(bool with_dump) {
  if (with_dump && error_unit_ != nullptr) stack_.dump(*error_unit_);
  if (error_unit_ != nullptr) error_unit_->flush();
  throw SupportLibraryStop(message_.empty() ? std::string("stop") : message_);
}

void SupportLibrary::seterr(std::string_view message, int length, int error_number, int option) {
  if (length < 1) {
    if (error_unit_)
      error_unit_->write(BASINFIT_FMT("('1error    1 in seterr - message length not positive.')"));
    message_ = "seterr - message length not positive.";
    stop(true);
  }
  const std::string_view kept =
      message.substr(0, static_cast<std::size_t>(std::min({length, 72, static_cast<int>(message.size())})));
  if (error_number == 0) {
    if (error_unit_) {
      error_unit_->write(BASINFIT_FMT(
          "('1error    2 in seterr - cannot have nerr=0',/,/,' the current error message follows',/,/,/)"));
    }
    message_ = std::string(kept);
    print_message(kept, error_number);
    stop(true);
  }
  if (pending_error_ != 0) {
    if (error_unit_) {
      error_unit_->write(
          BASINFIT_FMT("('1error    3 in seterr -',' an unrecovered error followed by another error.',"
                       "/,/,' the previous and current error messages follow.',/,/,/)"));
    }
    print_message(message_, pending_error_);
    print_message(kept, error_number);
    message_ = std::string(kept);
    stop(true);
  }
  message_ = std::string(kept);
  pending_error_ = error_number;
  if (option == 1) {
    if (recovery_mode_ == 1) return;
    print_message(kept, error_number);
    stop(false);
  }
  if (option != 2) {
    if (error_unit_) {
      error_unit_->write(BASINFIT_FMT(
          "('1error    4 in seterr - bad value for iopt',/,/,' the current error message follows',/,/,/)"));
    }
    print_message(kept, error_number);
    stop(true);
  }
  print_message(kept, error_number);
  stop(true);
}

void raise_fatal_error(const char* message, int length, int error_number) {
  SupportLibrary library;
  library.seterr(std::string_view(message, static_cast<std::size_t>(std::max(length, 0))), length,
                 error_number, 2);
  throw SupportLibraryStop(message);  // not reached: a fatal error always stops
}

}  // namespace basinfit::solver

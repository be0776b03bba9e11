#pragma once
// Error state and typed work stack of the numeric support library.
//
// The solver itself never reaches these paths: they serve the machine-constant routines
// when they are asked for an index outside their tables.  A fatal error "stops the
// program"; here that is a SupportLibraryStop exception thrown after the messages and the
// stack dump have been written, so the host decides how to end (the engine's main reports
// it and exits non-zero) and tests can observe it.  All state lives in a SupportLibrary
// object owned by its user; nothing is global.

#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace basinfit {
class TextUnit;
}

namespace basinfit::solver {

// Raised where the support library stops the program.  what() holds the last message.
class SupportLibraryStop : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Item types of the work stack.
enum class StackItem { kLogical = 1, kInteger = 2, kReal = 3, kDouble = 4, kComplex = 5 };

// A typed stack of work storage in one block of storage units, with ten bookkeeping words
// at its head (allocations, current top, maximum top, size, bookkeeping length, units per
// item of each type) and two behind every allocation (previous top, type).
class WorkStack {
 public:
  static constexpr int kDefaultDoubles = 500;

  // A stack of `size` storage units (never fewer than 12).
  explicit WorkStack(int size = 2 * kDefaultDoubles);

  // Reserves `count` items of `type`; returns the 1-based index of the first item in the
  // view of the stack as an array of that type.  Throws SupportLibraryStop when full.
  int allocate(int count, StackItem type);
  // Releases the newest allocation.
  void release();

  int allocations() const { return word(1); }
  int current_top() const { return word(2); }
  int maximum_top() const { return word(3); }
  int size() const { return word(4); }

  // Storage unit k (1-based) as raw bits; items of two units span units k and k+1.
  std::uint32_t& unit(int k) { return units_[static_cast<std::size_t>(k - 1)]; }
  std::uint32_t unit(int k) const { return units_[static_cast<std::size_t>(k - 1)]; }
  int& word(int k) { return reinterpret_cast<int&>(unit(k)); }
  int word(int k) const { return static_cast<int>(unit(k)); }

  // Writes the whole stack (heading, statistics, every allocation with its items) to `out`.
  void dump(TextUnit& out) const;

 private:
  void unstructured_dump(TextUnit& out, int first_unit, int last_unit) const;
  void list_items(TextUnit& out, StackItem type, int first_index, int count) const;

  std::vector<std::uint32_t> units_;
};

// The error state: the pending error number (0 = none), the recovery mode (2 = errors stop
// the program, 1 = recoverable errors return) and the pending message.
class SupportLibrary {
 public:
  // `error_unit` receives the messages and dumps (the error-message unit); may be null.
  explicit SupportLibrary(TextUnit* error_unit = nullptr) : error_unit_(error_unit) {}

  // Records an error: option 1 recoverable, 2 fatal.  Messages longer than 72 characters
  // are cut to 72.  Stops (throws) unless the error is recoverable under recovery mode 1.
  void seterr(std::string_view message, int length, int error_number, int option);

  int pending_error() const { return pending_error_; }
  const std::string& pending_message() const { return message_; }
  int recovery_mode() const { return recovery_mode_; }
  void set_recovery_mode(int mode) { recovery_mode_ = mode; }

  WorkStack& stack() { return stack_; }

 private:
  [[noreturn]] void stop(bool with_dump);
  void print_message(std::string_view message, int error_number);

  TextUnit* error_unit_;
  int pending_error_ = 0;
  int recovery_mode_ = 2;
  std::string message_;
  WorkStack stack_;
};

// Records a fatal error on a fresh library state (nothing pending, recovery mode 2, no
// output unit) and stops.
[[noreturn]] void raise_fatal_error(const char* message, int length, int error_number);

}  // namespace basinfit::solver

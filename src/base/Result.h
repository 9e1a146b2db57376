#pragma once
// A value or an error, in the manner of std::expected (not yet in our standard library).
// No exception crosses a module boundary: failures travel as values of this type.
#include <string>
#include <utility>
#include <variant>

namespace voryx {

enum class Errc {
  Io,          // a file or device call failed
  NotFound,    // a file, table or device is missing
  Busy,        // the database stayed locked past the wait bound
  Corrupt,     // the database or a reply is damaged
  Invalid,     // input that does not parse
  TooLarge,    // input or output that does not fit its bound
  Modem,       // the modem answered with an error or not at all
};

struct Error {
  Errc code;
  std::string detail;
};

template <class T>
class Result {
 public:
  Result(T value) : v_(std::move(value)) {}          // NOLINT: implicit by design
  Result(Error error) : v_(std::move(error)) {}      // NOLINT: implicit by design
  bool ok() const { return v_.index() == 0; }
  explicit operator bool() const { return ok(); }
  T& value() & { return std::get<0>(v_); }
  const T& value() const& { return std::get<0>(v_); }
  T&& value() && { return std::get<0>(std::move(v_)); }
  T* operator->() { return &value(); }
  const T* operator->() const { return &value(); }
  T& operator*() & { return value(); }
  const T& operator*() const& { return value(); }
  T&& operator*() && { return std::move(*this).value(); }
  const Error& error() const { return std::get<1>(v_); }

 private:
  std::variant<T, Error> v_;
};

// For operations that only succeed or fail.
struct Ok {};
using Status = Result<Ok>;

}  // namespace voryx

// The one way a step reports how it went: success, or failure with the reason in words for the operator.
// Status carries no value; Result<T> carries a value on success. Neither throws on its own.
#pragma once

#include <optional>
#include <string>
#include <utility>

class [[nodiscard]] Status {
 public:
  static Status success() { return Status(true, {}); }
  static Status failure(std::string reason) { return Status(false, std::move(reason)); }

  bool ok() const { return ok_; }
  explicit operator bool() const { return ok_; }
  // Why it failed; empty on success.
  const std::string& reason() const { return reason_; }

 private:
  Status(bool ok, std::string reason) : ok_(ok), reason_(std::move(reason)) {}

  bool ok_;
  std::string reason_;
};

template <typename T>
class [[nodiscard]] Result {
 public:
  // cppcheck-suppress noExplicitConstructor
  Result(T value) : value_(std::move(value)), status_(Status::success()) {}  // NOLINT: implicit by design
  // cppcheck-suppress noExplicitConstructor
  Result(Status failure) : status_(std::move(failure)) {                       // NOLINT: implicit by design
    if (status_.ok()) status_ = Status::failure("no value");
  }

  bool ok() const { return value_.has_value(); }
  explicit operator bool() const { return ok(); }
  const Status& status() const { return status_; }
  const std::string& reason() const { return status_.reason(); }

  // The value; only on success.
  T& value() { return *value_; }
  const T& value() const { return *value_; }
  T* operator->() { return &*value_; }
  const T* operator->() const { return &*value_; }
  T& operator*() { return *value_; }
  const T& operator*() const { return *value_; }

 private:
  std::optional<T> value_;
  Status status_;
};

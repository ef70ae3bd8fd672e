// TGuarded<T>: a value read and written whole by several threads. Each Get
// returns a copy and each Set replaces the value, under the object's own lock.
#pragma once

#include <mutex>
#include <utility>

namespace kelvor {

template <typename T>
class TGuarded {
 public:
  TGuarded() = default;
  explicit TGuarded(T Value) : FValue(std::move(Value)) {}
  TGuarded(const TGuarded&) = delete;
  TGuarded& operator=(const TGuarded&) = delete;

  T Get() const {
    std::lock_guard<std::mutex> lock(FMutex);
    return FValue;
  }
  void Set(T Value) {
    std::lock_guard<std::mutex> lock(FMutex);
    FValue = std::move(Value);
  }

 private:
  mutable std::mutex FMutex;
  T FValue{};  // guarded by FMutex
};

}  // namespace kelvor

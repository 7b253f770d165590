#pragma once
// Data shared between threads lives inside its lock: the only way to it is
// an access object that holds the lock for as long as it exists.
#include <mutex>
#include <utility>

template <class T>
class TGuarded {
 public:
  class TAccess {
   public:
    T& operator*() const { return FValue; }
    T* operator->() const { return &FValue; }
    // For condition variables, which release and retake the lock.
    std::unique_lock<std::mutex>& Lock() { return FLock; }

   private:
    friend class TGuarded;
    TAccess(std::mutex& mutex, T& value) : FLock(mutex), FValue(value) {}
    std::unique_lock<std::mutex> FLock;
    T& FValue;
  };

  TGuarded() = default;
  explicit TGuarded(T value) : FValue(std::move(value)) {}
  TGuarded(const TGuarded&) = delete;
  TGuarded& operator=(const TGuarded&) = delete;

  TAccess Lock() const { return TAccess(FMutex, FValue); }

 private:
  mutable std::mutex FMutex;
  mutable T FValue;
};

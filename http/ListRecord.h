#pragma once
// A growable list of values kept in place (a member or a local): capacity grows
// by doubling, items move rather than copy when a gap opens or closes, and an
// index out of range raises "Argument out of range".
#include <algorithm>
#include <cstdint>
#include <functional>
#include <utility>
#include <vector>

#include "Exceptions.h"

DECLARE_EXCEPTION_CLASS(EOutOfMemory, Exception);

template <class T>
class TListRecord {
 public:
  // Three-way comparison; an empty comparer means ordinal comparison.
  using TComparer = std::function<int(const T&, const T&)>;

  TListRecord() = default;
  explicit TListRecord(int32_t capacity) { SetCapacity(capacity); }
  TListRecord(TComparer comparer, int32_t capacity) : FComparer(std::move(comparer)) { SetCapacity(capacity); }

  int32_t Count() const { return FCount; }
  int32_t Capacity() const { return static_cast<int32_t>(FItems.size()); }

  const T& operator[](int32_t index) const { CheckIndex(index); return FItems[index]; }
  T& operator[](int32_t index) { CheckIndex(index); return FItems[index]; }

  int32_t Add(T value) {
    Grow(FCount + 1);
    FItems[FCount] = std::move(value);
    return FCount++;
  }

  void Insert(int32_t index, T value) {
    if (index < 0 || index > FCount) throw EArgumentOutOfRangeException();
    Grow(FCount + 1);
    std::move_backward(FItems.begin() + index, FItems.begin() + FCount, FItems.begin() + FCount + 1);
    FItems[index] = std::move(value);
    ++FCount;
  }

  void Delete(int32_t index) {
    CheckIndex(index);
    DeleteRange(index, 1);
  }

  void DeleteRange(int32_t index, int32_t count) {
    if (index < 0 || count < 0 || static_cast<int64_t>(index) + count > FCount) throw EArgumentOutOfRangeException();
    if (count == 0) return;
    std::move(FItems.begin() + index + count, FItems.begin() + FCount, FItems.begin() + index);
    for (int32_t i = FCount - count; i < FCount; ++i) FItems[i] = T{};
    FCount -= count;
  }

  int32_t IndexOf(const T& value) const {
    for (int32_t i = 0; i < FCount; ++i) {
      if (Equal(FItems[i], value)) return i;
    }
    return -1;
  }

  int32_t Remove(const T& value) {
    int32_t index = IndexOf(value);
    if (index >= 0) Delete(index);
    return index;
  }

  bool Contains(const T& value) const { return IndexOf(value) >= 0; }

  const T& Last() const {
    if (FCount == 0) throw EArgumentOutOfRangeException();
    return FItems[FCount - 1];
  }

  void Clear() {
    FItems.clear();
    FItems.shrink_to_fit();
    FCount = 0;
  }

  std::vector<T> ToArray() const { return std::vector<T>(FItems.begin(), FItems.begin() + FCount); }

  void TrimExcess() { FItems.resize(FCount); }

  const T* begin() const { return FItems.data(); }
  const T* end() const { return FItems.data() + FCount; }

 private:
  void CheckIndex(int32_t index) const {
    if (index < 0 || index >= FCount) throw EArgumentOutOfRangeException();
  }

  bool Equal(const T& a, const T& b) const { return FComparer ? FComparer(a, b) == 0 : a == b; }

  void SetCapacity(int32_t capacity) {
    if (capacity < 0) throw EArgumentOutOfRangeException();
    FItems.resize(capacity);
  }

  void Grow(int64_t needed) {
    int32_t capacity = Capacity();
    if (needed <= capacity) return;
    if (needed > INT32_MAX || (capacity & 0x40000000) != 0) throw EOutOfMemory(L"Out of memory");
    int64_t grown = capacity == 0 ? needed : capacity;
    while (grown < needed) grown *= 2;
    if (grown > INT32_MAX) grown = needed;
    FItems.resize(static_cast<size_t>(grown));
  }

  std::vector<T> FItems;
  int32_t FCount = 0;
  TComparer FComparer;
};

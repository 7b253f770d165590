#pragma once
// Small system-level building blocks: a record's end-of-life action that runs
// exactly once and cannot be duplicated, and the level of the running Windows.
#include <atomic>
#include <cstdint>
#include <functional>

#include "Exceptions.h"

// The end-of-life action of a record: a parameterless call bound to its owner.
using TRecordFinalizator = std::function<void()>;

// Embedded in an owner (usually as its first member), runs the owner's
// end-of-life action once: on Finalize, or when it is destroyed. Copies are
// refused: at compile time (no copy or move operations), and at run time
// through AddRef, the reference-count contract that a second reference breaks.
class TAutoFinalizedRecord {
 public:
  TAutoFinalizedRecord() = default;
  // Moving is refused too: the action is usually bound to the owner's address.
  TAutoFinalizedRecord(const TAutoFinalizedRecord&) = delete;
  TAutoFinalizedRecord& operator=(const TAutoFinalizedRecord&) = delete;
  ~TAutoFinalizedRecord();

  // Arms the record with its action (one reference). A record that is still
  // armed ends first, running its previous action.
  void InitFinalizator(TRecordFinalizator action);
  // Replaces the action of an armed record; arms an unarmed one.
  void ChangeFinalizator(TRecordFinalizator action);
  bool IsInitialized() const { return FRefCount.load() > 0; }
  // Ends the record now: the action runs once; on an unarmed record nothing happens.
  void Finalize();

  // A second reference would be a copy: it raises ENotSupportedException and
  // leaves the count as it was. Returns the new count.
  int32_t AddRef();
  // Drops a reference; the last one runs the action. Returns the new count.
  int32_t Release();

 private:
  std::atomic<int32_t> FRefCount{0};
  TRecordFinalizator FRecordFinalizator;
};

// The Windows version level of the running system (computed once): 1 for 5.0,
// 2 for 5.1, 3 for other 5.x, 4 for 6.0, 5 for 6.1 (Windows 7), 6 for 6.2,
// 7 for 6.3 (Windows 8.1), 8 for 10.x, 0 for any other version or platform.
// The real version, not the compatibility one reported to programs without a
// manifest.
uint8_t WindowsVersionLevel();
// The same table for a given platform id (2 is the Windows NT family) and version.
uint8_t WindowsVersionLevelOf(uint32_t platformId, uint32_t major, uint32_t minor);

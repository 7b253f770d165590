#pragma once
// Incremental SHA-1 through Windows CNG.
#include <cstdint>
#include <string>

#include "Handles.h"

class TSha1 {
 public:
  TSha1();
  ~TSha1();
  TSha1(const TSha1&) = delete;
  TSha1& operator=(const TSha1&) = delete;
  void Update(const void* Data, size_t Size);
  // The digest as 40 lower-case hexadecimal digits; the object is spent after it.
  std::string FinishHex();

 private:
  static void CloseAlgorithm(void* algorithm);
  static void DestroyHash(void* hash);
  // Declared before the hash, so that the hash goes first.
  UniqueAny<void*, &TSha1::CloseAlgorithm> FAlgorithm;
  UniqueAny<void*, &TSha1::DestroyHash> FHash;
};

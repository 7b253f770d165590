#include "Sha1.h"

#include <bcrypt.h>

#include "Exceptions.h"

namespace {
void Check(NTSTATUS status, const wchar_t* what) {
  if (status < 0) {
    wchar_t text[64];
    swprintf(text, 64, L"%ls failed (0x%08lX)", what, static_cast<unsigned long>(status));
    throw EOSError(static_cast<uint32_t>(status), text);
  }
}
}  // namespace

TSha1::TSha1() {
  BCRYPT_ALG_HANDLE alg = nullptr;
  Check(BCryptOpenAlgorithmProvider(&alg, BCRYPT_SHA1_ALGORITHM, nullptr, 0), L"BCryptOpenAlgorithmProvider");
  FAlgorithm = alg;
  BCRYPT_HASH_HANDLE hash = nullptr;
  NTSTATUS status = BCryptCreateHash(alg, &hash, nullptr, 0, nullptr, 0, 0);
  if (status < 0) {
    BCryptCloseAlgorithmProvider(alg, 0);
    Check(status, L"BCryptCreateHash");
  }
  FHash = hash;
}

TSha1::~TSha1() {
  if (FHash) BCryptDestroyHash(static_cast<BCRYPT_HASH_HANDLE>(FHash));
  if (FAlgorithm) BCryptCloseAlgorithmProvider(static_cast<BCRYPT_ALG_HANDLE>(FAlgorithm), 0);
}

void TSha1::Update(const void* Data, size_t Size) {
  const auto* p = static_cast<const uint8_t*>(Data);
  while (Size > 0) {
    ULONG chunk = Size > 0x40000000 ? 0x40000000 : static_cast<ULONG>(Size);
    Check(BCryptHashData(static_cast<BCRYPT_HASH_HANDLE>(FHash), const_cast<PUCHAR>(p), chunk, 0),
          L"BCryptHashData");
    p += chunk;
    Size -= chunk;
  }
}

std::string TSha1::FinishHex() {
  UCHAR digest[20];
  Check(BCryptFinishHash(static_cast<BCRYPT_HASH_HANDLE>(FHash), digest, sizeof digest, 0), L"BCryptFinishHash");
  static const char kHex[] = "0123456789abcdef";
  std::string out;
  for (UCHAR b : digest) {
    out += kHex[b >> 4];
    out += kHex[b & 15];
  }
  return out;
}

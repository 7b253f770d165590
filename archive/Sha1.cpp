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

void TSha1::CloseAlgorithm(void* algorithm) { BCryptCloseAlgorithmProvider(algorithm, 0); }

void TSha1::DestroyHash(void* hash) { BCryptDestroyHash(hash); }

TSha1::TSha1() {
  Check(BCryptOpenAlgorithmProvider(FAlgorithm.put(), BCRYPT_SHA1_ALGORITHM, nullptr, 0),
        L"BCryptOpenAlgorithmProvider");
  Check(BCryptCreateHash(FAlgorithm.get(), FHash.put(), nullptr, 0, nullptr, 0, 0), L"BCryptCreateHash");
}

TSha1::~TSha1() = default;

void TSha1::Update(const void* Data, size_t Size) {
  const auto* p = static_cast<const uint8_t*>(Data);
  while (Size > 0) {
    ULONG chunk = Size > 0x40000000 ? 0x40000000 : static_cast<ULONG>(Size);
    Check(BCryptHashData(FHash.get(), const_cast<PUCHAR>(p), chunk, 0),
          L"BCryptHashData");
    p += chunk;
    Size -= chunk;
  }
}

std::string TSha1::FinishHex() {
  UCHAR digest[20];
  Check(BCryptFinishHash(FHash.get(), digest, sizeof digest, 0), L"BCryptFinishHash");
  static const char kHex[] = "0123456789abcdef";
  std::string out;
  for (UCHAR b : digest) {
    out += kHex[b >> 4];
    out += kHex[b & 15];
  }
  return out;
}

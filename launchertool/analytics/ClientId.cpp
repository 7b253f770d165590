#include "ClientId.h"

#include <winsock2.h>
#include <iphlpapi.h>
#include <windows.h>

#include "Exceptions.h"

namespace {

[[noreturn]] void RaiseAdapterAssertion(int line) {
  wchar_t text[160];
  std::swprintf(text, std::size(text), L"%ls (%ls, line %d)", L"Assertion failure", L"launchertool\\uLauncher",
                line);
  throw EAssertionFailed(text);
}

}  // namespace

std::wstring ChooseClientId(const std::vector<TAdapterInfo>& adapters) {
  static constexpr wchar_t kHex[] = L"0123456789abcdef";
  for (const TAdapterInfo& adapter : adapters) {
    if (adapter.IfType == kIfTypeSoftwareLoopback || adapter.IfType == kIfTypeTunnel) continue;
    if (adapter.OperStatus >= 2) continue;
    std::wstring id;
    for (uint8_t b : adapter.PhysicalAddress) {
      id += kHex[b >> 4];
      id += kHex[b & 15];
    }
    return id;
  }
  return L"";
}

std::vector<TAdapterInfo> EnumerateAdapters() {
  ULONG size = 0;
  if (GetAdaptersAddresses(AF_UNSPEC, 0, nullptr, nullptr, &size) != ERROR_BUFFER_OVERFLOW) RaiseAdapterAssertion(1713);
  // 8-byte alignment for the structures the system writes into the buffer.
  std::vector<uint64_t> buffer((size + sizeof(uint64_t) - 1) / sizeof(uint64_t), 0);
  auto* first = reinterpret_cast<IP_ADAPTER_ADDRESSES*>(buffer.data());
  if (GetAdaptersAddresses(AF_UNSPEC, 0, nullptr, first, &size) != ERROR_SUCCESS) RaiseAdapterAssertion(1718);
  std::vector<TAdapterInfo> adapters;
  for (const IP_ADAPTER_ADDRESSES* a = first; a; a = a->Next) {
    TAdapterInfo info;
    info.IfType = a->IfType;
    info.OperStatus = static_cast<uint32_t>(a->OperStatus);
    static_assert(sizeof(a->PhysicalAddress) == 8);
    std::copy(std::begin(a->PhysicalAddress), std::end(a->PhysicalAddress), info.PhysicalAddress.begin());
    adapters.push_back(info);
  }
  return adapters;
}

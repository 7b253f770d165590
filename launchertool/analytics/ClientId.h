#pragma once
// The analytics client id: the hardware address field of the first network
// adapter that is up and is neither the software loopback nor a tunnel.
#include <array>
#include <cstdint>
#include <string>
#include <vector>

struct TAdapterInfo {
  uint32_t IfType = 0;      // IF_TYPE_*: 24 software loopback, 131 tunnel
  uint32_t OperStatus = 0;  // IF_OPER_STATUS: 1 up, 2 and above not up
  std::array<uint8_t, 8> PhysicalAddress{};  // the whole field, whatever the address length
};

inline constexpr uint32_t kIfTypeSoftwareLoopback = 24;
inline constexpr uint32_t kIfTypeTunnel = 131;

// 16 lower-case hexadecimal digits of the chosen adapter's 8-byte address
// field, in field order; empty when no adapter qualifies.
std::wstring ChooseClientId(const std::vector<TAdapterInfo>& adapters);

// The system's adapters in the order it reports them. Raises EAssertionFailed
// when the size query or the listing does not answer as expected.
std::vector<TAdapterInfo> EnumerateAdapters();

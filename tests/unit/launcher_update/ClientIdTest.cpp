#include <gtest/gtest.h>

#include "analytics/ClientId.h"

namespace {

constexpr uint32_t kEthernet = 6, kWifi = 71, kUp = 1, kDown = 2, kDormant = 5;

TAdapterInfo Adapter(uint32_t type, uint32_t status, std::array<uint8_t, 8> address) {
  TAdapterInfo info;
  info.IfType = type;
  info.OperStatus = status;
  info.PhysicalAddress = address;
  return info;
}

}  // namespace

TEST(ClientId, FirstAdapterThatIsUpAndNeitherLoopbackNorTunnel) {
  const std::array<uint8_t, 8> mac{0x00, 0x1A, 0x2B, 0x3C, 0x4D, 0x5E, 0x00, 0x00};
  const std::array<uint8_t, 8> other{0xDE, 0xAD, 0xBE, 0xEF, 0x01, 0x02, 0x03, 0x04};
  const struct {
    const char* name;
    std::vector<TAdapterInfo> adapters;
    const wchar_t* id;
  } cases[] = {
      {"no adapters", {}, L""},
      {"loopback and tunnel only",
       {Adapter(kIfTypeSoftwareLoopback, kUp, other), Adapter(kIfTypeTunnel, kUp, other)}, L""},
      {"only adapters that are not up", {Adapter(kEthernet, kDown, other), Adapter(kWifi, kDormant, other)}, L""},
      {"skips loopback, tunnel and down before the first good one",
       {Adapter(kIfTypeSoftwareLoopback, kUp, other), Adapter(kIfTypeTunnel, kUp, other),
        Adapter(kEthernet, kDown, other), Adapter(kWifi, kUp, mac), Adapter(kEthernet, kUp, other)},
       L"001a2b3c4d5e0000"},
      {"all eight bytes of the field count",
       {Adapter(kEthernet, kUp, other)}, L"deadbeef01020304"},
  };
  for (const auto& c : cases) EXPECT_EQ(ChooseClientId(c.adapters), c.id) << c.name;
}

TEST(ClientId, TheSystemListsItsAdapters) {
  // Any machine has at least the loopback adapter; the listing must not raise.
  EXPECT_FALSE(EnumerateAdapters().empty());
}

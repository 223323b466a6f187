// The identity record against its wire bytes.
#include "protocol/identity.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "testkit/expected.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

// 5, -1 (build), 10.0, 1.0, 204.8, -1 (serial), 42, "102 ", "KV7 ", VIN, MAC,
// unused, checksum 0x12345.
Bytes record() {
  Bytes r = fromHex("00000005 ffffffff 41200000 3f800000 434ccccd ffffffff 0000002a");
  const std::string text = "102 KV7 KV720SIM0001";
  r.insert(r.end(), text.begin(), text.end());
  r.resize(100);
  const Bytes tail = fromHex("020000 1234ab 9988 00012345");
  r.insert(r.end(), tail.begin(), tail.end());
  return r;
}

TEST(IdentityTest, EveryFieldFromItsBigEndianBytes) {
  const Bytes r = record();
  ASSERT_EQ(r.size(), UNIT_IDENTITY_SIZE);
  const UnitIdentity id = decodeIdentity(std::span<const std::uint8_t, UNIT_IDENTITY_SIZE>(r));
  EXPECT_EQ(id.monitorRevision, 5);
  EXPECT_EQ(id.buildNumber, -1);
  EXPECT_EQ(id.currentCapability, 10.0F);
  EXPECT_EQ(id.busSensorResolution, 1.0F);
  EXPECT_EQ(id.currentSensorResolution, 204.8F);
  EXPECT_EQ(id.serialNumber, -1);
  EXPECT_EQ(id.manufacturingCode, 42);
  EXPECT_EQ(std::string(id.hardwareRevision.begin(), id.hardwareRevision.end()), "102 ");
  EXPECT_EQ(std::string(id.modelCode.begin(), id.modelCode.end()), "KV7 ");
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(id.vinNumber.data())), "KV720SIM0001");
  EXPECT_EQ(id.macAddress, (std::array<std::uint8_t, 6>{0x02, 0x00, 0x00, 0x12, 0x34, 0xab}));
  EXPECT_EQ(id.checksum, 0x12345u);
  // Every byte back where it came from, the unused pair included.
  const IdentityBytes again = encodeIdentity(id);
  EXPECT_EQ(Bytes(again.begin(), again.end()), r);
}

TEST(IdentityTest, AnAnswerCarriesTheRecordOnlyWhenAllOfItArrived) {
  Bytes wire = fromHex("0014007001");
  const Bytes r = record();
  wire.insert(wire.end(), r.begin(), r.end());
  EXPECT_EQ(responseIdentity(*decodeResponse(wire))->serialNumber, -1);
  wire.pop_back();
  EXPECT_FALSE(responseIdentity(*decodeResponse(wire)).has_value());
}

}  // namespace

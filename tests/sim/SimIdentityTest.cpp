// Identify reply layout per model and detail level.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "SimIdentity.h"
#include "wire/Bytes.h"

using hylo::bytes::GetI16LE;
using hylo::bytes::GetU16LE;
using hylo::sim::SimIdentity;
using hylo::sim::SimOptions;

namespace {
std::string Text(const std::vector<std::uint8_t>& b, std::size_t at, std::size_t width) {
  std::string s(reinterpret_cast<const char*>(b.data() + at), width);
  return s.substr(0, s.find('\0'));
}
SimOptions Hf(int detail) {
  SimOptions o;
  o.model = 5;
  o.detail = detail;
  o.unit = 4321;
  o.firmware = "v2.1.6";
  o.release = "r2.1.6a";
  o.hardware = "HYD board rev C";
  o.sensitivityTenths = -1695;
  o.temperatureTenths = -35;
  o.humidityTenths = 612;
  o.batteryState = 2;
  o.batteryLevel = 77;
  o.hardwareRevision = 3;
  o.interfaceCode = 3;
  o.syncState = 5;
  return o;
}
}  // namespace

TEST(SimIdentity, HfFullDetailOffsets) {
  const auto o = Hf(5);
  const auto r = SimIdentity(o).Reply();
  ASSERT_EQ(r.size(), 69u);
  EXPECT_EQ(GetU16LE(r, 0), 4321);
  EXPECT_EQ(Text(r, 2, 8), "v2.1.6");
  EXPECT_EQ(Text(r, 10, 18), "Aurisond HF");
  EXPECT_EQ(r[28], 5);
  EXPECT_EQ(GetI16LE(r, 33), -1695);
  EXPECT_EQ(GetI16LE(r, 35), -35);
  EXPECT_EQ(r[40], 77);
  EXPECT_EQ(Text(r, 43, 8), "r2.1.6a");
  EXPECT_EQ(r[51], 5);
  EXPECT_EQ(Text(r, 53, 16), "HYD board rev C");
}

TEST(SimIdentity, LengthsFollowModelAndDetailLevel) {
  const std::pair<int, std::size_t> hf[] = {{0, 32}, {1, 35}, {2, 35}, {3, 43}, {4, 53}};
  for (const auto& [detail, size] : hf) EXPECT_EQ(SimIdentity(Hf(detail)).Reply().size(), size) << detail;
  auto af = Hf(4);
  af.model = 7;
  const auto r = SimIdentity(af).Reply();
  EXPECT_EQ(r[28], 7);
  EXPECT_EQ(Text(r, 10, 18), "Aurisond AF");
}

TEST(SimIdentity, LfOffsets) {
  SimOptions o;
  o.model = 2;
  o.detail = 2;
  o.unit = 77;
  o.firmware = "v2.7.3";
  o.sensitivityTenths = -1710;
  o.interfaceCode = 1;
  o.temperatureTenths = 201;
  o.humidityTenths = 333;
  o.syncState = 1;
  const auto r = SimIdentity(o).Reply();
  ASSERT_EQ(r.size(), 45u);
  EXPECT_EQ(r[28], 2);
  EXPECT_EQ(r[32], 2);
  EXPECT_NE(GetU16LE(r, 33), 0);     // extra word
  EXPECT_EQ(GetI16LE(r, 35), -171);  // whole dB
  EXPECT_EQ(r[38], 1);               // interface code
  EXPECT_EQ(GetI16LE(r, 39), 201);
  EXPECT_EQ(GetI16LE(r, 41), 333);
  EXPECT_EQ(r[43], 1);
  o.detail = 1;
  EXPECT_EQ(SimIdentity(o).Reply().size(), 39u);
}

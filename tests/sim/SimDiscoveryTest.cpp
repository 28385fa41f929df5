// The simulated unit's discovery answers, checked byte by byte.
#include <gtest/gtest.h>

#include <vector>

#include "SimDiscovery.h"
#include "wire/CRC_Update.h"

using namespace hylo::sim;

namespace {

std::vector<std::uint8_t> Sealed(std::vector<std::uint8_t> f) {
  const std::uint16_t crc = hylo::CRC_Update(0, f);
  f.push_back(static_cast<std::uint8_t>(crc));
  f.push_back(static_cast<std::uint8_t>(crc >> 8));
  return f;
}

SimNetSettings Unit() {
  SimNetSettings s;
  s.model = 5;
  s.unit = 606;
  s.mac = {0x00, 0x1A, 0x2B, 0x3C, 0x4D, 0x5E};
  s.mode = 2;
  s.ip = 0xAC100509;  // 172.16.5.9
  s.mask = 0xFFFF0000;
  s.gateway = 0xAC100001;
  return s;
}

const std::vector<std::uint8_t> kId{5, 0x5E, 0x02, 0x5E, 0x4D, 0x3C, 0x2B, 0x1A, 0x00};

std::vector<std::uint8_t> Set(std::vector<std::uint8_t> id, std::uint8_t mode, std::vector<std::uint8_t> addresses) {
  std::vector<std::uint8_t> f{'*', 'X', 24, 0};
  f.insert(f.end(), id.begin(), id.end());
  f.insert(f.end(), {0x40, 0x9C, mode});  // reply port 40000
  f.insert(f.end(), addresses.begin(), addresses.end());
  return Sealed(f);
}

}  // namespace

TEST(SimDiscovery, AnswersEnquiriesAndAppliesSetCommandsForItself) {
  SimNetSettings s = Unit();
  const auto enquiry = Sealed({'*', 'W', 11, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x39, 0x30});
  auto answer = AnswerDiscovery(s, enquiry);
  ASSERT_TRUE(answer);
  EXPECT_EQ(answer->port, 12345);
  std::vector<std::uint8_t> record = kId;
  record.insert(record.end(), {2, 9, 5, 16, 172, 0, 0, 255, 255, 1, 0, 16, 172});
  std::vector<std::uint8_t> reply{'*', 'W', 22, 0};
  reply.insert(reply.end(), record.begin(), record.end());
  EXPECT_EQ(answer->bytes, Sealed(reply));

  auto corrupt = enquiry;
  corrupt[5] ^= 1;
  EXPECT_FALSE(AnswerDiscovery(s, corrupt));
  auto otherMac = kId;
  otherMac[3] ^= 1;
  const std::vector<std::uint8_t> newAddress{253, 0, 9, 10, 0, 0, 0, 255, 0, 0, 0, 0};  // 10.9.0.253/8
  EXPECT_FALSE(AnswerDiscovery(s, Set(otherMac, 2, newAddress))) << "another unit's command";
  EXPECT_EQ(s.ip, 0xAC100509U);

  answer = AnswerDiscovery(s, Set(kId, 2, newAddress));
  ASSERT_TRUE(answer);
  EXPECT_EQ(answer->port, 40000);
  std::vector<std::uint8_t> result{'*', 'X', 24, 0};
  result.insert(result.end(), kId.begin(), kId.end());
  result.insert(result.end(), {0, 0, 2});
  result.insert(result.end(), newAddress.begin(), newAddress.end());
  EXPECT_EQ(answer->bytes, Sealed(result));
  EXPECT_EQ(DescribeNet(s), "fixed 10.9.0.253 255.0.0.0 0.0.0.0");
  answer = AnswerDiscovery(s, enquiry);
  ASSERT_TRUE(answer);
  EXPECT_EQ(std::vector<std::uint8_t>(answer->bytes.begin() + 14, answer->bytes.begin() + 18),
            (std::vector<std::uint8_t>{253, 0, 9, 10}))
      << "later enquiries see the new address";
}

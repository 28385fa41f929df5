// Arbitrary bytes as a job setup file (.cfg) on disk, read onto a panel for an HF or AF unit
// of some firmware and written back out: what the program writes must read back to the same
// file, so a saved setup never drifts from one load and save to the next.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

#include "FileFuzz.h"
#include "config/SetupFile.h"
#include "link/DeviceIdentity.h"

namespace {
std::string Slurp(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace hylo::setup;
  if (size == 0) return 0;
  // The first byte picks the unit; the rest is the file.
  SetupContext ctx;
  ctx.model = data[0] & 1 ? hylo::kModelAf : hylo::kModelHf;
  static constexpr std::uint32_t kFirmware[] = {0x010400, 0x010500, 0x020000, 0x020100, 0x020201, 0x030000};
  ctx.firmware = kFirmware[((data[0] >> 1) & 7) % std::size(kFirmware)];
  ctx.featureLevel = static_cast<std::uint8_t>((data[0] >> 4) & 3);
  ctx.interfaceCode = 3;
  ctx.serialLink = data[0] & 0x80;
  ctx.baudRate = 921600;
  const auto input = WriteFuzzFile("in.cfg", data + 1, size - 1);

  Notices notices;
  JobSetup first;
  ReadSetupFile(input, first, ctx, notices, 1'700'000'000u);
  const auto once = FuzzFile("once.cfg");
  if (!WriteSetupFile(once, first, ctx, notices)) std::abort();

  JobSetup second;
  ReadSetupFile(once, second, ctx, notices, 1'700'000'000u);
  const auto twice = FuzzFile("twice.cfg");
  if (!WriteSetupFile(twice, second, ctx, notices)) std::abort();
  if (Slurp(once) != Slurp(twice)) std::abort();
  return 0;
}

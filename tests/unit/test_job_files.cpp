#include <gtest/gtest.h>

#include <fstream>
#include <thread>
#include <vector>

#include "files/HyloFiles.h"
#include "support/TempDir.h"

using namespace hylo;

namespace {
std::vector<std::string> Lines(const std::filesystem::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}
}  // namespace

TEST(JobFiles, HistoryRowsDescribeTheUnitAndQuoteTheJob) {
  test::TempDir dir;
  HyloFiles files;
  files.OpenJobFiles(dir.Path());
  JobHistoryRow row;
  row.identity.modelCode = 5;
  row.identity.unitNumber = 321;
  row.identity.firmwareText = "v2.1.0";
  row.fftCollectMode = 2;
  row.waveCollectMode = 0;
  row.temperatureTenths = 125;
  row.humidityTenths = 453;
  row.fftLogFileName = "Hylo_00001.txt";
  ASSERT_EQ(files.WriteJobHistory(row), 0);
  row.identity.modelCode = 9;
  ASSERT_EQ(files.WriteJobHistory(row), 0);
  files.CloseJobFiles();
  const auto lines = Lines(dir.Path() / "JobHistoryFile.txt");
  ASSERT_EQ(lines.size(), 3U);
  EXPECT_EQ(lines[0].rfind("  Date   \tTime    \tData    \tSerial and FW", 0), 0U);
  EXPECT_NE(lines[1].find(
                "\tAcou only \tunit 321 v2.1.0 \tHylo V4.4.0\t12.5 C\t45.3 \tHylo_00001.txt\t\"\"\t \"\"\t \"\" \r"),
            std::string::npos)
      << lines[1];
  EXPECT_NE(lines[2].find("\tNone\tUnit 000\t"), std::string::npos);
}

TEST(JobFiles, StatusLinesFromManyThreadsNeverInterleave) {
  test::TempDir dir;
  HyloFiles files;
  files.OpenJobFiles(dir.Path());
  std::vector<std::thread> writers;
  for (int t = 0; t < 4; ++t) {
    writers.emplace_back([&files, t] {
      for (int i = 0; i < 200; ++i)
        files.WriteJobStatus("writer " + std::to_string(t) + " event " + std::to_string(i), false);
    });
  }
  for (auto& w : writers) w.join();
  EXPECT_EQ(files.WriteJobStatus("12:00:00 - Preformatted", true), 0);
  files.CloseJobFiles();
  EXPECT_LT(files.WriteJobStatus("closed", false), 0);
  const auto lines = Lines(dir.Path() / "JobStatusFile.txt");
  ASSERT_EQ(lines.size(), 1U + 800U + 1U);
  for (std::size_t i = 1; i + 1 < lines.size(); ++i) {
    ASSERT_NE(lines[i].find(" - writer "), std::string::npos) << lines[i];
    ASSERT_EQ(lines[i].back(), '\r');
  }
  EXPECT_NE(lines.back().find(" \t12:00:00 - Preformatted\r"), std::string::npos);
}

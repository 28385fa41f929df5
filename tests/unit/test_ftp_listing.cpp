// The instrument's LIST lines, and the FTP texts and ports, as tables.
#include <gtest/gtest.h>

#include "files/FtpListing.h"
#include "files/HyloFTP.h"

using namespace hylo::files;

TEST(FtpListing, LinesAsTheyComeFromOutside) {
  struct Case {
    std::string line;
    bool entry;
    std::string name;
    std::optional<std::uint64_t> size;
    bool folder;
    bool refused;
  };
  const std::string longName(5000, 'x');
  const std::vector<Case> cases{
      {"-rw-r--r--   1 root root   5242880 Dec 08 14:50 big.wav", true, "big.wav", 5242880, false, false},
      {"drwxr-xr-x 2 aur aur 4096 Jan  1  2026 2026\r", true, "2026", 4096, true, false},
      {"-rw-r--r-- 1 a a 10 Jan 01 00:00 name with  spaces.txt", true, "name with  spaces.txt", 10, false, false},
      {"-rw-r--r-- 1 a a 18446744073709551616 Jan 01 00:00 huge.wav", true, "huge.wav", std::nullopt, false, false},
      {"-rw-r--r-- 1 a a 9223372036854775808 Jan 01 00:00 over.wav", true, "over.wav", std::nullopt, false, false},
      {"-rw-r--r-- 1 a a -5 Jan 01 00:00 minus.wav", true, "minus.wav", std::nullopt, false, false},
      {"-rw-r--r-- 1 a a 10 Jan 01 00:00 ../escape.wav", true, "../escape.wav", 10, false, true},
      {"-rw-r--r-- 1 a a 10 Jan 01 00:00 a/b.wav", true, "a/b.wav", 10, false, true},
      {"-rw-r--r-- 1 a a 10 Jan 01 00:00 a\\b.wav", true, "a\\b.wav", 10, false, true},
      {"-rw-r--r-- 1 a a 10 Jan 01 00:00 " + std::string("nul\0.wav", 8), true, std::string("nul\0.wav", 8), 10, false,
       true},
      {"-rw-r--r-- 1 a a 10 Jan 01 00:00 " + longName, true, "", std::nullopt, false, true},
      {"total 12", false, "", std::nullopt, false, false},
      {"", false, "", std::nullopt, false, false},
      {"-rw-r--r-- 1 a a 10 Jan 01 00:00", false, "", std::nullopt, false, false},
  };
  for (const auto& c : cases) {
    const auto e = ParseListLine(c.line);
    ASSERT_EQ(e.has_value(), c.entry) << c.line.substr(0, 60);
    if (!e) continue;
    EXPECT_EQ(e->name, c.name);
    EXPECT_EQ(e->size, c.size) << c.line.substr(0, 60);
    EXPECT_EQ(e->folder, c.folder);
    EXPECT_EQ(!e->refusal.empty(), c.refused) << c.line.substr(0, 60);
  }
}

TEST(FtpListing, AWholeReplyAndTheSizeOfOneFile) {
  const std::string reply =
      "total 3\r\ndrwxr-xr-x 2 a a 4096 Jan 01 00:00 .\r\ndrwxr-xr-x 2 a a 4096 Jan 01 00:00 ..\r\n"
      "-rw-r--r-- 1 a a 7 Jan 01 00:00 one.wav\r\ndrwxr-xr-x 2 a a 4096 Jan 01 00:00 sub\r\n";
  const auto entries = ParseListing(reply);
  ASSERT_EQ(entries.size(), 2u) << "\".\" and \"..\" are left out";
  EXPECT_EQ(entries[0].name, "one.wav");
  EXPECT_TRUE(entries[1].folder);
  EXPECT_EQ(ListedSize("-rw-r--r-- 1 a a 123456 Jan 01 00:00 x.wav\r\n"), 123456u);
  EXPECT_EQ(ListedSize("garbage\r\n"), std::nullopt);
  EXPECT_EQ(ParseListing(std::string(200000, '\n')).size(), 0u);
}

TEST(FtpTexts, ProgressPortsAndTheHomeFolder) {
  struct P {
    std::uint64_t done, total;
    int percent;
    std::string text;
  };
  for (const P& p : std::vector<P>{{0, 0, 0, ""},
                                   {999999, 5000000, 19, "0 / 5 MB"},
                                   {5000000, 5000000, 100, "5 / 5 MB"},
                                   {7000000, 5000000, 100, "7 / 5 MB"}}) {
    const auto r = ftp::FtpProgress("f", p.done, p.total);
    EXPECT_EQ(r.percent, p.percent);
    EXPECT_EQ(r.text, p.text);
  }
  for (const auto& [base, port] : std::vector<std::pair<int, std::optional<std::uint16_t>>>{{0, 21},
                                                                                            {10, 2031},
                                                                                            {-2020, 1},
                                                                                            {-2021, std::nullopt},
                                                                                            {-40000, std::nullopt},
                                                                                            {63514, 65535},
                                                                                            {63515, std::nullopt}})
    EXPECT_EQ(ftp::FtpControlPort(base), port) << base;
  for (const auto& [path, home] : std::vector<std::pair<std::string, bool>>{{"/home/Aurisond", true},
                                                                            {"/home/Aurisond/", true},
                                                                            {"/home//Aurisond//", true},
                                                                            {"/home/Aurisond/Data", false},
                                                                            {"/home", false}})
    EXPECT_EQ(ftp::IsHomeFolder(path), home) << path;
  EXPECT_EQ(ftp::DownloadFailed(2, 3), "Download Failed: 2 of 3 Files Retrieved");
}

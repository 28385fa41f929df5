// The instrument's files against hylo-sim --storage, over TCP and over a pty at 115200 baud.
#include <gtest/gtest.h>

#include <fstream>

#include "files/HyloFileSystem.h"
#include "support/FileBytes.h"
#include "support/SimSession.h"

using namespace hylo;
using namespace hylo::test;
namespace fs = std::filesystem;
using files::HyloFileSystem;

namespace {

// A serial-protocol unit (LF) with storage, connected over TCP or a pty.
struct FilesUnit {
  TempDir storage, local, dir;
  std::unique_ptr<SimProcess> pty;
  RunningSim tcp;
  ScriptedOperator op;
  Hylo hylo{op, TestOptions(dir)};
  std::unique_ptr<HyloFileSystem> fs;
  bool connected = false;

  FilesUnit(bool serial, std::vector<std::string> extra, const std::function<void(const fs::path&)>& fill = {}) {
    if (fill) fill(storage.Path());
    std::vector<std::string> args{"--model", "lf", "--storage", storage.Path().string()};
    args.insert(args.end(), extra.begin(), extra.end());
    if (hylo.Start() != 0) return;
    if (serial) {
      args.insert(args.end(), {"--pty", "--baud", "115200", "--seconds", "120"});
      pty = std::make_unique<SimProcess>(args);
      connected = pty->Ready() && HyloSession(hylo).Connect(SerialTarget{pty->PtyPath(), 115200}).Ok();
    } else {
      tcp = StartSimOnFreePorts(args, 120);
      connected = tcp.Ready() && HyloSession(hylo).Connect(TcpTarget{"127.0.0.1", tcp.port}).Ok();
    }
    fs = std::make_unique<HyloFileSystem>(
        hylo.Link().Command(), files::FileSystemOptions{1, std::chrono::milliseconds(0), std::chrono::milliseconds(0)});
  }
  ~FilesUnit() { hylo.MainExit(); }
  fs::path Vol(const std::string& rel) const { return storage.Path() / "1" / rel; }
};

class SimFiles : public ::testing::TestWithParam<bool> {};

}  // namespace

TEST_P(SimFiles, ListRetrieveWriteDeleteAndFirmwareUpdate) {
  const auto big = Bytes(1 << 20, 1), small = Bytes(10000, 2), tiny = Bytes(300, 3), oldBoot = Bytes(5000, 4);
  FilesUnit u(GetParam(), {}, [&](const fs::path& root) {
    Put(root / "1/DATA/BIG.BIN", big);
    Put(root / "1/DATA/SET/S.BIN", small);
    Put(root / "1/DATA/SET/SUB/T.TXT", tiny);
    Put(root / "1/BOOT5505.BIN", oldBoot);
    Put(root / "2/V2.TXT", tiny);
  });
  ASSERT_TRUE(u.connected);

  std::vector<files::RemoteEntry> volumes;
  ASSERT_TRUE(u.fs->List("", false, volumes).Ok());
  ASSERT_EQ(volumes.size(), 2u) << "a second volume that answers is shown";
  EXPECT_EQ(volumes[1].name, "Volume 2");

  std::vector<files::RemoteEntry> entries;
  ASSERT_TRUE(u.fs->List("/1", true, entries).Ok());
  std::vector<std::string> names;
  for (const auto& e : entries) names.push_back(e.name);
  EXPECT_EQ(names, (std::vector<std::string>{"AURISOND", "DATA"})) << "the boot file is never listed";

  std::vector<std::string> progress;
  u.fs->SetProgress([&](const files::Progress& p) { progress.push_back(p.text); });
  std::uint64_t bytes = 0;
  ASSERT_TRUE(u.fs->Retrieve("/1/DATA/SET/S.BIN", u.local.Path() / "one" / "S.BIN", bytes).Ok());
  EXPECT_EQ(progress, (std::vector<std::string>{"4 / 10 KB", "8 / 10 KB", "10 / 10 KB"}));

  const auto tree = files::RetrieveTree(*u.fs, "/1/DATA", u.local.Path() / "all");
  EXPECT_TRUE(tree.failed.empty());
  EXPECT_EQ(tree.bytes, big.size() + small.size() + tiny.size());
  EXPECT_EQ(FilesUnder(u.local.Path() / "all"), (std::vector<std::string>{"BIG.BIN", "SET/S.BIN", "SET/SUB/T.TXT"}));
  EXPECT_EQ(Read(u.local.Path() / "all/BIG.BIN"), big);
  EXPECT_EQ(Read(u.local.Path() / "all/SET/SUB/T.TXT"), tiny);

  const auto written = Bytes(939, 5);
  Put(u.local.Path() / "up.dat", written);
  ASSERT_TRUE(u.fs->Write(u.local.Path() / "up.dat", "/1/DATA").Ok());
  EXPECT_EQ(Read(u.Vol("DATA/UP.DAT")), written);

  ASSERT_TRUE(u.fs->Delete("/1/DATA/BIG.BIN").Ok());
  EXPECT_FALSE(fs::exists(u.Vol("DATA/BIG.BIN")));
  ASSERT_TRUE(u.fs->Delete("/1/DATA/SET").Ok());
  EXPECT_FALSE(fs::exists(u.Vol("DATA/SET")));

  const auto firmware = Bytes(20000, 6);
  Put(u.local.Path() / "fw.bin", firmware);
  int asked = 0;
  ASSERT_TRUE(u.fs->UpdateFirmware(u.local.Path() / "fw.bin", [&] { return ++asked > 0; }).Ok());
  EXPECT_EQ(asked, 1);
  EXPECT_EQ(Read(u.Vol("BOOT5505.BIN")), firmware);
  EXPECT_EQ(Read(u.Vol("BOOT5505.BAK")), oldBoot);
  EXPECT_FALSE(fs::exists(u.Vol("UPDATE.BIN")));

  Put(u.local.Path() / "unit.cfg", tiny);
  ASSERT_TRUE(u.fs->UpdateConfig(u.local.Path() / "unit.cfg").Ok());
  EXPECT_EQ(Read(u.Vol("AURISOND/UNIT.CFG")), tiny);
}

INSTANTIATE_TEST_SUITE_P(Links, SimFiles, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "Pty115200" : "Tcp"; });

TEST(SimFilesFaults, CancelKeepsTheOldFileAndACompleteRetrieveReplacesItWhole) {
  const auto data = Bytes(1 << 20, 7);
  FilesUnit u(false, {}, [&](const fs::path& root) { Put(root / "1/DATA/BIG.BIN", data); });
  ASSERT_TRUE(u.connected);
  const fs::path target = u.local.Path() / "BIG.BIN";
  const auto older = Bytes(3 << 20, 8);
  Put(target, older);
  u.fs->SetProgress([&](const files::Progress& p) {
    if (p.percent >= 30) u.fs->Cancel();
  });
  std::uint64_t bytes = 0;
  const auto cancelled = u.fs->Retrieve("/1/DATA/BIG.BIN", target, bytes);
  EXPECT_TRUE(cancelled.cancelled);
  EXPECT_EQ(Read(target), older) << "a cancelled retrieve leaves the earlier file as it was";
  EXPECT_EQ(FilesUnder(u.local.Path()), std::vector<std::string>{"BIG.BIN"}) << "no partial file is left";

  u.fs->ResetCancel();
  u.fs->SetProgress({});
  ASSERT_TRUE(u.fs->Retrieve("/1/DATA/BIG.BIN", target, bytes).Ok());
  EXPECT_EQ(Read(target), data) << "no tail of the longer earlier file";
}

TEST(SimFilesFaults, HostileListingWritesNothingOutsideTheDestination) {
  FilesUnit u(false, {"--fs-hostile-listing", "--fs-busy", "3"},
              [&](const fs::path& root) { Put(root / "1/DATA/GOOD.TXT", Bytes(100, 9)); });
  ASSERT_TRUE(u.connected);
  const auto tree = files::RetrieveTree(*u.fs, "/1/DATA", u.local.Path() / "dest");
  EXPECT_EQ(tree.retrieved.size(), 1u);
  EXPECT_EQ(tree.failed.size(), 9u) << "each unusable name is reported as a failure";
  EXPECT_EQ(FilesUnder(u.local.Path()), std::vector<std::string>{"dest/GOOD.TXT"});
}

TEST(SimFilesFaults, ShortBlocksFailTheRetrieveAndLeaveNoFile) {
  FilesUnit u(false, {"--fs-short-blocks"}, [&](const fs::path& root) { Put(root / "1/A.BIN", Bytes(5000, 10)); });
  ASSERT_TRUE(u.connected);
  std::uint64_t bytes = 0;
  const auto r = u.fs->Retrieve("/1/A.BIN", u.local.Path() / "A.BIN", bytes);
  EXPECT_EQ(r.error, files::text::kAccessError);
  EXPECT_TRUE(FilesUnder(u.local.Path()).empty());
}

TEST(SimFilesFaults, ReadBackDifferingInOneByteStopsBeforeTheBackupCopy) {
  const auto oldBoot = Bytes(4000, 11);
  FilesUnit u(false, {"--fs-corrupt-readback"}, [&](const fs::path& root) { Put(root / "1/BOOT5505.BIN", oldBoot); });
  ASSERT_TRUE(u.connected);
  Put(u.local.Path() / "fw.bin", Bytes(3000, 12));
  bool asked = false;
  const auto r = u.fs->UpdateFirmware(u.local.Path() / "fw.bin", [&] { return asked = true; });
  EXPECT_EQ(r.error, files::text::kFirmwareFailed);
  EXPECT_FALSE(asked);
  EXPECT_FALSE(fs::exists(u.Vol("BOOT5505.BAK")));
  EXPECT_EQ(Read(u.Vol("BOOT5505.BIN")), oldBoot);
}

TEST(SimFilesFaults, RefusedDeletesAndTooDeepItemsSendNoRequest) {
  FilesUnit u(false, {}, [&](const fs::path& root) { Put(root / "1/A/B/C/D/E/F/G.TXT", Bytes(10, 13)); });
  ASSERT_TRUE(u.connected);
  const auto before = u.fs->NextTransaction();
  EXPECT_EQ(u.fs->Delete("/1/AURISOND").error, files::text::kFolderRefused);
  EXPECT_EQ(u.fs->Delete("/1/AURISOND/UNIT.CFG").error, files::text::kFileRefused);
  EXPECT_EQ(u.fs->Delete("/1").error, files::text::kFolderRefused);
  EXPECT_EQ(u.fs->Delete("/1/A/B/C/D/E/F").error, files::text::kTooDeep);
  EXPECT_EQ(u.fs->NextTransaction(), before);
  std::vector<files::RemoteEntry> entries;
  ASSERT_TRUE(u.fs->List("/1/A/B/C/D/E", false, entries).Ok());
  ASSERT_EQ(entries.size(), 1u);
  EXPECT_EQ(entries[0].refusal, files::text::kTooDeep);
  EXPECT_TRUE(fs::exists(u.Vol("A/B/C/D/E/F/G.TXT")));
}

TEST(SimFilesFaults, FullBlocksAt115200ArriveWithinTheirTimeOut) {
  // A 4096-byte block takes 357 ms on a 115200 baud line, three times the command time-out.
  const auto data = Bytes(10000, 14);
  FilesUnit u(true, {"--pace-line"}, [&](const fs::path& root) { Put(root / "1/S.BIN", data); });
  ASSERT_TRUE(u.connected);
  std::uint64_t bytes = 0;
  ASSERT_TRUE(u.fs->Retrieve("/1/S.BIN", u.local.Path() / "S.BIN", bytes).Ok());
  EXPECT_EQ(Read(u.local.Path() / "S.BIN"), data);
  EXPECT_EQ(u.fs->MissedReplies(), 0u);
}

// The instrument's files over FTP against the real FTP server hylo-sim runs for an HF unit
// from v2.0.0: list, retrieve, delete, the update package and the clean-data trigger, and the
// faults (a LIST that fails once, a server that dies mid-file, a hostile listing).
#include <gtest/gtest.h>

#include <fstream>

#include "files/HyloFTP.h"
#include "support/FileBytes.h"
#include "support/SimSession.h"

using namespace hylo;
using namespace hylo::test;
namespace fs = std::filesystem;
using files::HyloFTP;

namespace {

// An HF v2.1.0 unit with storage on a command port whose data ports and FTP control port
// (2021 + port base) are free.
struct FtpUnit {
  TempDir storage, local;
  RunningSim running;
  SimProcess* sim = nullptr;
  std::uint16_t port = 0, ftpPort = 0;
  int reboots = 0;

  explicit FtpUnit(std::vector<std::string> extra, const std::function<void(const fs::path&)>& fill = {}) {
    if (fill) fill(storage.Path() / "home/Aurisond");
    std::vector<std::string> args{"--model", "hf", "--firmware", "v2.1.0", "--storage", storage.Path().string()};
    args.insert(args.end(), extra.begin(), extra.end());
    running = StartSimOnFreePorts(args, 120, true);
    sim = running.sim.get();
    port = running.port;
    ftpPort = static_cast<std::uint16_t>(port - 50000 + 2021);
  }
  bool Ready() const {
    return sim && sim->Ready() && sim->FirstLine().find(" ftp " + std::to_string(ftpPort)) != std::string::npos;
  }
  HyloFTP Client() {
    return HyloFTP("127.0.0.1", ftpPort, [this] { return ++reboots > 0; });
  }
  fs::path Home(const std::string& rel) const { return storage.Path() / "home/Aurisond" / rel; }
};

}  // namespace

TEST(SimFtp, ListRetrieveAndDeleteAgainstTheUnitsServer) {
  const auto big = Bytes(5 << 20, 1), log = Bytes(3000, 2), inner = Bytes(70000, 3);
  FtpUnit u({}, [&](const fs::path& home) {
    Put(home / "Data/big.wav", big);
    Put(home / "Data/log.txt", log);
    Put(home / "Data/2026/inner.wav", inner);
  });
  ASSERT_TRUE(u.Ready()) << (u.sim ? u.sim->FirstLine() : "");
  HyloFTP ftp = u.Client();

  std::vector<files::RemoteEntry> entries;
  ASSERT_TRUE(ftp.List("", false, entries).Ok());
  ASSERT_EQ(entries.size(), 1u);
  EXPECT_EQ(entries[0].path, "/home/Aurisond");
  ASSERT_TRUE(ftp.List("/home/Aurisond/Data/", true, entries).Ok());
  std::map<std::string, std::pair<std::int64_t, bool>> seen;
  for (const auto& e : entries) seen[e.path] = {e.size, e.folder};
  EXPECT_EQ(seen,
            (std::map<std::string, std::pair<std::int64_t, bool>>{{"/home/Aurisond/Data/2026", {-1, true}},
                                                                  {"/home/Aurisond/Data/big.wav", {5 << 20, false}},
                                                                  {"/home/Aurisond/Data/log.txt", {3000, false}}}));

  std::vector<files::Progress> progress;
  ftp.SetProgress([&](const files::Progress& p) { progress.push_back(p); });
  const auto s =
      ftp.RetrieveNames({"/home/Aurisond/Data/big.wav", "/home/Aurisond/Data/2026", "/home/Aurisond/Data/log.txt"},
                        u.local.Path() / "names");
  EXPECT_EQ(s.message, "Download Completed Successfully");
  EXPECT_EQ(s.total, 2u) << "a folder among the names is skipped";
  EXPECT_EQ(Read(u.local.Path() / "names/big.wav"), big);
  EXPECT_EQ(Read(u.local.Path() / "names/log.txt"), log);
  ASSERT_FALSE(progress.empty());
  EXPECT_EQ(progress.front().text, "0 / 5 MB");
  const auto last = std::find_if(progress.rbegin(), progress.rend(), [](const auto& p) { return p.name == "big.wav"; });
  EXPECT_EQ(last->percent, 100);
  EXPECT_EQ(last->text, "5 / 5 MB");

  const auto tree = files::RetrieveTree(ftp, "/home/Aurisond/Data", u.local.Path() / "tree");
  EXPECT_TRUE(tree.failed.empty());
  EXPECT_EQ(tree.bytes, big.size() + log.size() + inner.size());
  EXPECT_EQ(FilesUnder(u.local.Path() / "tree"), (std::vector<std::string>{"2026/inner.wav", "big.wav", "log.txt"}));
  EXPECT_EQ(Read(u.local.Path() / "tree/2026/inner.wav"), inner);

  struct Case {
    std::string path;
    bool ok;
    std::string error;
  };
  for (const Case& c : std::vector<Case>{{"/home/Aurisond/", false, "Error: Cannot delete Aurisond directory."},
                                         {"/home/Aurisond", false, "Error: Cannot delete Aurisond directory."},
                                         {"//home//Aurisond//", false, "Error: Cannot delete Aurisond directory."},
                                         {"/home/Aurisond/Data/2026", false, "Error: Folders are not deleted."},
                                         {"/home/Aurisond/Data/log.txt", true, ""},
                                         {"/home/Aurisond/Data/gone.wav", false, "Error: cannot delete"}}) {
    const auto r = ftp.Delete(c.path);
    EXPECT_EQ(r.Ok(), c.ok) << c.path;
    EXPECT_EQ(r.error.substr(0, c.error.size()), c.error) << c.path;
  }
  EXPECT_FALSE(fs::exists(u.Home("Data/log.txt")));
  EXPECT_TRUE(fs::exists(u.Home("Data/2026/inner.wav")));
  EXPECT_TRUE(fs::exists(u.Home("Data/big.wav")));
}

TEST(SimFtp, AFailedListCostsOneFileAndTheNewLoginRetrievesTheRest) {
  FtpUnit u({"--ftp-fail-list", "b.wav"}, [&](const fs::path& home) {
    for (const char* n : {"a.wav", "b.wav", "c.wav"}) Put(home / "Data" / n, Bytes(10000, n[0]));
  });
  ASSERT_TRUE(u.Ready()) << (u.sim ? u.sim->FirstLine() : "");
  HyloFTP ftp = u.Client();
  const auto s = ftp.RetrieveNames(
      {"/home/Aurisond/Data/a.wav", "/home/Aurisond/Data/b.wav", "/home/Aurisond/Data/c.wav"}, u.local.Path());
  EXPECT_EQ(s.message, "Download Failed: 2 of 3 Files Retrieved");
  EXPECT_EQ(FilesUnder(u.local.Path()), (std::vector<std::string>{"a.wav", "c.wav"}));
  EXPECT_EQ(Read(u.local.Path() / "c.wav"), Bytes(10000, 'c'));
}

TEST(SimFtp, UploadsSendTheRebootOnlyWhenWholeAndACancelRemovesThePartialFile) {
  FtpUnit u({});
  ASSERT_TRUE(u.Ready()) << (u.sim ? u.sim->FirstLine() : "");
  const auto package = Bytes(30 << 20, 4);
  Put(u.local.Path() / "hf.aup", package);
  HyloFTP ftp = u.Client();

  ftp.SetProgress([&](const files::Progress& p) {
    if (ftp.Transferred() > (2u << 20)) ftp.Cancel();
    (void)p;
  });
  const auto cancelled = ftp.UpdateFirmware(u.local.Path() / "hf.aup", {});
  EXPECT_TRUE(cancelled.cancelled);
  EXPECT_EQ(u.reboots, 0) << "no \"Y\" after a cancelled upload";
  EXPECT_FALSE(fs::exists(u.Home("update/hf.aup"))) << "the partial package is deleted";

  ftp.ResetCancel();
  ftp.SetProgress({});
  const auto whole = ftp.UpdateFirmware(u.local.Path() / "hf.aup", {});
  ASSERT_TRUE(whole.Ok()) << whole.error;
  EXPECT_EQ(whole.note, files::ftp::kUploaded);
  EXPECT_EQ(u.reboots, 1);
  EXPECT_EQ(Read(u.Home("update/hf.aup")), package);

  const auto cleared = ftp.ClearData();
  ASSERT_TRUE(cleared.Ok()) << cleared.error;
  EXPECT_EQ(cleared.note, files::ftp::kClearing);
  EXPECT_EQ(u.reboots, 2);
  EXPECT_TRUE(fs::exists(u.Home("CleanData")));
  EXPECT_EQ(fs::file_size(u.Home("CleanData")), 0u);

  // A unit whose server is gone: the upload fails, and is never announced nor followed by "Y".
  ftp.EndJob();
  u.sim->Stop();
  for (const auto& r : {ftp.UpdateFirmware(u.local.Path() / "hf.aup", {}), ftp.ClearData()}) {
    EXPECT_FALSE(r.Ok());
    EXPECT_FALSE(r.cancelled);
    EXPECT_TRUE(r.note.empty());
  }
  EXPECT_EQ(u.reboots, 2);
}

TEST(SimFtp, AServerThatDiesMidFileLeavesNoFileNamedComplete) {
  const auto big = Bytes(5 << 20, 5);
  FtpUnit u({"--ftp-stop-after", "1000000"}, [&](const fs::path& home) { Put(home / "Data/big.wav", big); });
  ASSERT_TRUE(u.Ready()) << (u.sim ? u.sim->FirstLine() : "");
  HyloFTP ftp = u.Client();
  const auto s = ftp.RetrieveNames({"/home/Aurisond/Data/big.wav"}, u.local.Path());
  EXPECT_EQ(s.message, "Download Failed: 0 of 1 Files Retrieved");
  EXPECT_TRUE(FilesUnder(u.local.Path()).empty()) << "neither the file nor its side file stays";
}

TEST(SimFtp, AHostileListingWritesNothingOutsideTheChosenFolder) {
  const auto real = Bytes(20000, 6);
  FtpUnit u({"--ftp-hostile-listing"}, [&](const fs::path& home) { Put(home / "Data/real.wav", real); });
  ASSERT_TRUE(u.Ready()) << (u.sim ? u.sim->FirstLine() : "");
  HyloFTP ftp = u.Client();
  std::vector<files::RemoteEntry> entries;
  ASSERT_TRUE(ftp.List("/home/Aurisond/Data", true, entries).Ok());
  std::size_t refused = 0;
  for (const auto& e : entries) {
    if (!e.refusal.empty()) {
      ++refused;
      EXPECT_EQ(e.path, "/home/Aurisond/Data/?");
    } else {
      EXPECT_TRUE(e.name == "real.wav" || e.name == "ghost.wav") << e.name;
    }
  }
  EXPECT_EQ(refused, 5u) << "\"..\" is left out, the other five are refused";

  const fs::path dest = u.local.Path() / "inner" / "dest";
  fs::create_directories(dest);
  const auto tree = files::RetrieveTree(ftp, "/home/Aurisond/Data", dest);
  EXPECT_EQ(tree.retrieved, std::vector<std::string>{(dest / "real.wav").string()})
      << "the size of 2^64 in its LIST line is taken as unknown";
  EXPECT_EQ(Read(dest / "real.wav"), real);
  EXPECT_EQ(FilesUnder(u.local.Path()), std::vector<std::string>{"inner/dest/real.wav"});
  EXPECT_EQ(tree.failed.size(), 6u) << "five names that name no place and the ghost the server cannot send";
}

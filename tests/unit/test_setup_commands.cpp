// The setup commands against a scripted link: the order of Apply and the flags each step
// clears, the questions before a reset, the panel callbacks and the setup-file dialogs. Frame
// counts, echo rules and the unit's refusals run against hylo-sim in the integration tests.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <functional>

#include "config/JobSetupCommands.h"
#include "config/ProgramSettings.h"
#include "config/SetupExchange.h"
#include "link/DeviceIdentity.h"
#include "shell/MainPanel.h"
#include "shell/ScriptedOperator.h"
#include "support/DialogOperator.h"
#include "support/SetupUnit.h"
#include "support/TempDir.h"
#include "test_link_support.h"

using namespace hylo;
using namespace hylo::setup;

namespace {

using linktest::Bytes;
using linktest::ScriptedLink;

template <std::size_t N>
Bytes B(const std::array<std::uint8_t, N>& a) {
  return Bytes(a.begin(), a.end());
}
Bytes WithStatus(const Bytes& record) {
  Bytes p{0};
  p.insert(p.end(), record.begin(), record.end());
  return p;
}

using test::SetupUnit;

template <typename Operator>
struct RigOf {
  test::TempDir dir;
  ScriptedLink link;
  Operator op;
  PanelModel mainPanel{"main"};
  StatusLog log{mainPanel};
  PanelModel panel{"unitSetup"};
  SetupContext ctx;
  std::vector<std::string> events;
  int linkResult = 0;
  std::optional<JobSetupCommands> cmds;

  explicit RigOf(SetupContext c, bool epochHook = false) : ctx(c) {
    link.type = LINK_ETHERNET;
    std::filesystem::create_directories(dir.Path() / "data");
    JobSetupPorts ports;
    ports.context = [this] { return ctx; };
    ports.now = [] { return 1'700'000'000u; };
    ports.dataFolder = [this] { return dir.Path() / "data"; };
    ports.pause = [this](int ms) { events.push_back("pause " + std::to_string(ms)); };
    ports.saveSettings = [this] { events.push_back("save"); };
    ports.applyLinkSettings = [this] {
      events.push_back("link");
      return linkResult;
    };
    if (epochHook)
      ports.sendEpochTriggers = [this] {
        events.push_back("epochs");
        return 0;
      };
    cmds.emplace(link, op, log, panel, std::move(ports));
  }
  // Echoes each "D" record, changed by `alter`; answers "F" with `enquiry` and hands each
  // frame to the reply handler as the forwarding does.
  void Echo(std::function<void(Bytes&)> alter = {}, std::vector<Bytes> enquiry = {}) {
    link.answer = [this, alter, enquiry](std::uint8_t letter, const Bytes& payload, int) -> std::optional<Bytes> {
      Bytes reply;
      if (letter == 'F') {
        for (const auto& p : enquiry) {
          const Bytes f = linktest::Reply('F', p);
          reply.insert(reply.end(), f.begin(), f.end());
          cmds->OnSetupEnquiryReply(p);
        }
        return reply;
      }
      Bytes echo = payload;
      if (alter) alter(echo);
      return linktest::Reply(letter, echo);
    };
  }
  // Also lists each letter sent among the events.
  void Trace() {
    link.answer = [this, inner = link.answer](std::uint8_t l, const Bytes& p, int e) {
      events.push_back(std::string(1, static_cast<char>(l)));
      return inner(l, p, e);
    };
  }
  bool Noticed(std::string_view text) const {
    const auto n = op.Notices();
    return std::find(n.begin(), n.end(), text) != n.end();
  }
  // Everything a setup file can carry, as the bytes that would be sent.
  std::vector<Bytes> Records() const {
    JobSetup s = cmds->Setup();
    Notices n;
    return {PackSetupParamList(BuildSetupParamEntries(s, ctx, n)), B(Pack(BuildDutyCycleSetup(s))),
            B(Pack(BuildStartTimeSetup(s)))};
  }
};
using Rig = RigOf<ScriptedOperator>;
// A unit at firmware 2.1.0 whose operator answers the file dialogs.
struct FileRig : RigOf<test::DialogOperator> {
  FileRig() : RigOf(SetupUnit(kModelHf, "v2.1.0")) {}
};

}  // namespace

// ---- Enquiry and refusals ---------------------------------------------------------------

TEST(SetupEnquiry, NothingIsSentWithoutALink) {
  Rig rig(SetupUnit(kModelHf, "v2.1.0"));
  int open = 0;
  JobSetupPorts ports;
  ports.context = [&] { return rig.ctx; };
  ports.linkOpen = [&] { return open != 0; };
  JobSetupCommands cmds(rig.link, rig.op, rig.log, rig.panel, std::move(ports));
  EXPECT_EQ(cmds.ReadJobSetup(), -1);
  EXPECT_TRUE(rig.Noticed(kCheckConnectionText));
  EXPECT_TRUE(rig.link.sent.empty());
  open = 1;
  EXPECT_EQ(cmds.ReadJobSetup(), -1) << "a timed-out enquiry fails";
}

// ---- Apply order -----------------------------------------------------------------------

TEST(SetupApply, EpochTriggersAreClearedOnlyWhenTheyCanBeSentAgain) {
  {
    Rig rig(SetupUnit(kModelLf, "v2.4.0"));
    rig.cmds->MarkChanged(UnitTab::kEpoch);
    rig.cmds->MarkChanged(UnitTab::kLf);
    rig.Echo();
    EXPECT_EQ(rig.cmds->ApplyUnitSetup(), 0);
    EXPECT_EQ(rig.link.Letters(), (std::vector<std::uint8_t>{'D'})) << "no \"U\" without a re-send";
  }
  Rig rig(SetupUnit(kModelLf, "v2.4.0"), true);
  rig.cmds->MarkChanged(UnitTab::kEpoch);
  rig.cmds->MarkChanged(UnitTab::kLf);
  rig.Echo();
  rig.Trace();
  EXPECT_EQ(rig.cmds->ApplyUnitSetup(), 0);
  EXPECT_EQ(rig.link.Letters(), (std::vector<std::uint8_t>{'U', 'D'}));
  EXPECT_EQ(rig.events, (std::vector<std::string>{"pause 1000", "D", "save", "epochs", "pause 1000"}));
  EXPECT_FALSE(rig.cmds->Changed(UnitTab::kEpoch));
}

TEST(SetupApply, TheLinkStepComesFirstAndOnlyItsSuccessClearsItsFlag) {
  Rig rig(SetupUnit(kModelHf, "v1.5.2"));
  rig.Echo();
  rig.Trace();
  rig.cmds->TabChanged(UnitTab::kLink);
  rig.cmds->TabChanged(UnitTab::kHf);
  rig.linkResult = 12;
  EXPECT_EQ(rig.cmds->ApplyUnitSetup(), 12) << "the link step's code is returned at once";
  EXPECT_TRUE(rig.link.sent.empty());
  EXPECT_TRUE(rig.cmds->Changed(UnitTab::kLink));
  EXPECT_TRUE(rig.cmds->Changed(UnitTab::kHf));

  rig.events.clear();
  rig.linkResult = 0;
  EXPECT_EQ(rig.cmds->ApplyUnitSetup(), 0);
  EXPECT_EQ(rig.events, (std::vector<std::string>{"link", "D", "D", "D", "save"}))
      << "the start time goes without a reply";
  EXPECT_FALSE(rig.cmds->Changed(UnitTab::kLink));

  // A later failing step keeps its own flag but not the link's.
  rig.events.clear();
  rig.cmds->TabChanged(UnitTab::kLink);
  rig.cmds->TabChanged(UnitTab::kHf);
  rig.Echo([](Bytes& echo) { echo[4] ^= 1; });
  EXPECT_NE(rig.cmds->ApplyUnitSetup(), 0);
  EXPECT_EQ(rig.events, (std::vector<std::string>{"link"}));
  EXPECT_FALSE(rig.cmds->Changed(UnitTab::kLink));
  EXPECT_TRUE(rig.cmds->Changed(UnitTab::kHf));
}

TEST(SetupApply, UndoAsksBeforeResettingTheOtherTab) {
  Rig rig(SetupUnit(kModelHf, "v2.1.0"));
  rig.Echo({}, {WithStatus(PackSetupParamList({}))});
  rig.cmds->TabChanged(UnitTab::kSpecialFeatures);
  rig.cmds->TabChanged(UnitTab::kHf);
  EXPECT_EQ(rig.cmds->SendJobEnquireCallback(UnitTab::kHf), 1);
  EXPECT_TRUE(rig.link.sent.empty());
  EXPECT_TRUE(rig.cmds->Changed(UnitTab::kSpecialFeatures));
  ASSERT_EQ(rig.op.Questions().size(), 1u);
  EXPECT_EQ(rig.op.Questions()[0], "Confirm: " + std::string(kResetSpecialFeaturesText));
  rig.op.QueueButton(0);
  EXPECT_EQ(rig.cmds->SendJobEnquireCallback(UnitTab::kHf), 0);
  EXPECT_FALSE(rig.cmds->Changed(UnitTab::kSpecialFeatures));
  EXPECT_EQ(rig.link.Letters(), (std::vector<std::uint8_t>{'F'}));
  rig.cmds->TabChanged(UnitTab::kSpecialFeatures);
  rig.op.QueueButton(1);
  EXPECT_EQ(rig.cmds->SendJobEnquireCallback(UnitTab::kSpecialFeatures), 1);
  EXPECT_EQ(rig.op.Questions().back(), "Confirm: " + std::string(kResetAurisondSetupText));
}

TEST(SetupApply, PanelCallbacksKeepFlagsAndOpenState) {
  Rig rig(SetupUnit(kModelAf, "v2.1.0"));
  rig.Echo({}, {WithStatus(PackSetupParamList({}))});
  EXPECT_EQ(rig.cmds->OpenUnitSetupPanel(), 0);
  EXPECT_TRUE(rig.cmds->PanelOpen());
  EXPECT_EQ(rig.cmds->CurrentTab(), UnitTab::kHf);
  EXPECT_TRUE(rig.cmds->Changed(UnitTab::kHf));
  EXPECT_EQ(rig.link.Letters(), (std::vector<std::uint8_t>{'R', 'F'})) << "AF units list their epochs";
  rig.link.answer = [](std::uint8_t, const Bytes&, int) { return std::nullopt; };
  EXPECT_NE(rig.cmds->ApplySetupCallback(), 0);
  EXPECT_TRUE(rig.cmds->PanelOpen()) << "a failed Apply leaves the panel open";
  EXPECT_TRUE(rig.Noticed(kParamListFailedText));
  EXPECT_TRUE(rig.cmds->Changed(UnitTab::kHf)) << "and marks the current tab again";
  rig.cmds->CancelJobSetup();
  EXPECT_FALSE(rig.cmds->PanelOpen());
  EXPECT_FALSE(rig.cmds->Changed(UnitTab::kHf));
}

// ---- Tabs and the program settings panel -------------------------------------------------

TEST(SetupTabs, ShownByModelAndFirmware) {
  EXPECT_EQ(UnitSetupTabs(SetupUnit(kModelLf, "v2.4.0")).initial, UnitTab::kLf);
  const auto hf = UnitSetupTabs(SetupUnit(kModelHf, "v2.1.0"));
  EXPECT_TRUE(hf.hf && hf.specialFeatures && !hf.lf);
  EXPECT_FALSE(UnitSetupTabs(SetupUnit(kModelHf, "v1.5.2")).specialFeatures);
  EXPECT_FALSE(UnitSetupTabs(SetupUnit(kModelHf, "v2.1.0", 1)).specialFeatures);
  EXPECT_TRUE(UnitSetupTabs(SetupUnit(kModelHf, "v2.1.5")).olderEpoch);
  EXPECT_TRUE(UnitSetupTabs(SetupUnit(kModelHf, "v2.1.6")).newerEpoch);
  EXPECT_EQ(UnitSetupTabs(SetupUnit(15, "v1.0.0")).initial, UnitTab::kLink);
}

// A failing tab keeps the panel open and stops the Apply; tabs without their module say so.
TEST(ProgramSettingsPanel, AFailingTabStopsTheApplyAndUnbuiltTabsSayNothingWasApplied) {
  DisplaySettings display;
  int loggingResult = 5;
  std::vector<std::string> notices;
  ProgramSettingsPorts ports;
  ports.applyLogging = [&] { return loggingResult; };
  ports.showNotice = [&](std::string_view text) { notices.emplace_back(text); };
  ProgramSettings panel(display, std::move(ports));
  panel.OpenHyloSetupPanel();
  for (auto tab : {ProgramTab::kProcessing, ProgramTab::kHostEpoch, ProgramTab::kImpulse}) panel.TabChanged(tab);
  panel.Processing().useCustomScanRate = true;
  panel.Processing().scanPeriod = 0.3;
  EXPECT_EQ(panel.ApplyProgramSettings(), 5);
  EXPECT_TRUE(panel.PanelOpen());
  EXPECT_FALSE(display.useCustomScanRate) << "nothing after the failing tab is applied";
  loggingResult = 0;
  EXPECT_EQ(panel.ApplyProgramSettings(), 0);
  EXPECT_FALSE(panel.PanelOpen());
  EXPECT_DOUBLE_EQ(display.scanPeriod, 0.25) << "snapped to the scan list";
  EXPECT_EQ(notices,
            (std::vector<std::string>{std::string(kHostEpochNotAppliedText), std::string(kImpulseNotAppliedText)}));
}

// ---- Setup files through the dialogs ---------------------------------------------------

TEST(SetupFileDialogs, SavedThenLoadedGivesTheSameRecords) {
  FileRig rig;
  EXPECT_EQ(rig.cmds->LoadHfSetupFile(), 1) << "cancelled";
  rig.cmds->EditSetup([](JobSetup& s) {
    s.waveBandwidthHz = 25600;
    s.waveLogChoice = kLogDutyCycle;
    s.dutyRunMinutes = 4;
    s.dutyCycleMinutes = 20;
    s.fftTypeChoice = kFftFilter;
    s.enableDelay = true;
    s.startTime = 1'800'000'000;
    s.syncPinMode = 3;
  });
  const auto saved = rig.Records();
  const auto folder = rig.dir.Path() / "setups";
  std::filesystem::create_directories(folder);
  rig.op.answers.push_back(folder / "deployment");  // no extension typed
  ASSERT_EQ(rig.cmds->SaveHfSetupFile(), 0);
  EXPECT_EQ(rig.op.dialogs[1], std::make_pair(std::string("Save Setup File"), rig.dir.Path() / "data"));
  const auto file = folder / "deployment.cfg";
  ASSERT_TRUE(std::filesystem::exists(file));

  rig.cmds->EditSetup([](JobSetup& s) { s = JobSetup{}; });
  ASSERT_NE(rig.Records(), saved);
  rig.op.answers.push_back(file);
  ASSERT_EQ(rig.cmds->LoadHfSetupFile(), 0);
  EXPECT_EQ(rig.op.dialogs[2].second, folder) << "the folder used last is remembered";
  EXPECT_TRUE(rig.op.notices.empty()) << rig.op.notices.front();
  EXPECT_EQ(rig.Records(), saved);
  EXPECT_TRUE(rig.link.sent.empty()) << "nothing is sent before Apply";
  EXPECT_TRUE(rig.cmds->Changed(UnitTab::kHf)) << "Apply sends what was loaded";

  rig.op.answers.push_back(rig.dir.Path() / "missing" / "x.cfg");
  EXPECT_EQ(rig.cmds->SaveHfSetupFile(), -1);
  EXPECT_EQ(rig.op.notices, (std::vector<std::string>{"File open failed"}));
}

TEST(SetupFileDialogs, ARefusedFileLeavesThePanelUnchanged) {
  FileRig rig;
  rig.cmds->EditSetup([](JobSetup& s) {
    s.spectrumBandwidthHz = 51200;
    s.fftTypeChoice = kFftPeak;
  });
  const auto before = rig.Records();
  const auto file = rig.dir.Path() / "bad.cfg";
  std::ofstream(file) << "$WAVE_GAIN = 7\n$FFT_TYPE = 2\n$DUTY_RUN_TIME = 10\n$DUTY_CYCLE_TIME = 5\n"
                         "$LOG_START_TIME = 99999999999\n$AUX_PIN = 37\n";
  rig.op.answers.push_back(file);
  EXPECT_EQ(rig.cmds->LoadHfSetupFile(), 0);
  EXPECT_EQ(rig.op.notices,
            (std::vector<std::string>{"Error in wave setup", "Error in FFT setup", "Error in duty cycle setup",
                                      "Error in start time setup", "Error in sync setup"}));
  EXPECT_EQ(rig.Records(), before);

  // Only the failing record is refused: a bad FFT type keeps the FFT part, loads the rest.
  rig.op.notices.clear();
  std::ofstream(file) << "$WAVE_SAMPLE_RATE = 8000\n$FFT_TYPE = 1\n$FFT_SAMPLE_RATE = 1000\n";
  rig.op.answers.push_back(file);
  EXPECT_EQ(rig.cmds->LoadHfSetupFile(), 0);
  EXPECT_EQ(rig.op.notices, (std::vector<std::string>{"Error in FFT setup"}));
  EXPECT_EQ(rig.cmds->Setup().waveBandwidthHz, 3200u);
  EXPECT_EQ(rig.cmds->Setup().fftTypeChoice, kFftPeak);
}

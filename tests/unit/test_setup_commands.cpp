// The setup exchange against a scripted link: frame counts, echo rules, refusals and the
// order of Apply. The same paths run against hylo-sim in the integration tests; here the
// link can answer what no well-behaved instrument would.
#include <gtest/gtest.h>

#include <algorithm>
#include <deque>
#include <fstream>
#include <functional>

#include "config/JobSetupCommands.h"
#include "config/ProgramSettings.h"
#include "config/SetupExchange.h"
#include "link/DeviceIdentity.h"
#include "shell/MainPanel.h"
#include "shell/ScriptedOperator.h"
#include "support/TempDir.h"
#include "wire/Bytes.h"

using namespace hylo;
using namespace hylo::setup;

namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes Frame(std::uint8_t letter, const Bytes& payload) {
  Bytes f = {'*', letter, static_cast<std::uint8_t>(payload.size()), static_cast<std::uint8_t>(payload.size() >> 8)};
  f.insert(f.end(), payload.begin(), payload.end());
  return f;
}
template <std::size_t N>
Bytes B(const std::array<std::uint8_t, N>& a) {
  return Bytes(a.begin(), a.end());
}
Bytes WithStatus(const Bytes& record) {
  Bytes p{0};
  p.insert(p.end(), record.begin(), record.end());
  return p;
}
Bytes ErrorRecord(std::uint16_t code) {
  return {0xFF, 0xFF, static_cast<std::uint8_t>(code), static_cast<std::uint8_t>(code >> 8)};
}

class ScriptedLink final : public CommandLink {
 public:
  // Answers a Transact: the reply bytes, or none for a time-out.
  std::function<std::optional<Bytes>(std::uint8_t letter, const Bytes& payload, int expected)> answer;
  std::vector<std::pair<std::uint8_t, Bytes>> sent;
  std::vector<int> expectedReplies;

  bool OpenTcp(const std::string&, int, int) override { return true; }
  bool OpenSerial(int, int, int) override { return true; }
  void Close() override {}
  std::optional<Bytes> Transact(std::uint8_t letter, std::span<const std::uint8_t> payload, int expected, bool,
                                const std::atomic<bool>&) override {
    sent.emplace_back(letter, Bytes(payload.begin(), payload.end()));
    expectedReplies.push_back(expected);
    return answer ? answer(letter, sent.back().second, expected) : std::nullopt;
  }
  int Send(std::uint8_t letter, std::span<const std::uint8_t> payload, bool) override {
    sent.emplace_back(letter, Bytes(payload.begin(), payload.end()));
    expectedReplies.push_back(0);
    return 0;
  }
  void CancelCommands() override {}
  std::vector<std::uint8_t> Letters() const {
    std::vector<std::uint8_t> l;
    for (const auto& s : sent) l.push_back(s.first);
    return l;
  }
};

SetupContext Unit(std::uint8_t model, const char* firmware, bool serial = false, std::uint32_t baud = 921600) {
  SetupContext c;
  c.model = model;
  c.firmware = FirmwareVersion(firmware);
  c.featureLevel = 2;
  c.interfaceCode = 3;
  c.serialLink = serial;
  c.baudRate = baud;
  return c;
}

struct Rig {
  ScriptedLink link;
  ScriptedOperator op;
  PanelModel mainPanel{"main"};
  StatusLog log{mainPanel};
  PanelModel panel{"unitSetup"};
  SetupContext ctx;
  std::vector<std::string> events;
  int linkResult = 0;
  std::optional<JobSetupCommands> cmds;

  explicit Rig(SetupContext c, bool epochHook = false) : ctx(c) {
    JobSetupPorts ports;
    ports.context = [this] { return ctx; };
    ports.now = [] { return 1'700'000'000u; };
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
          const Bytes f = Frame('F', p);
          reply.insert(reply.end(), f.begin(), f.end());
          cmds->OnSetupEnquiryReply(p);
        }
        return reply;
      }
      Bytes echo = payload;
      if (alter) alter(echo);
      return Frame(letter, echo);
    };
  }
  std::vector<std::string> StatusLines() const { return mainPanel.Get(mainpanel::kStatusField).items; }
  bool Noticed(std::string_view text) const {
    const auto n = op.Notices();
    return std::find(n.begin(), n.end(), text) != n.end();
  }
};

bool EndsWith(const std::string& s, std::string_view tail) {
  return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

}  // namespace

// ---- Enquiry ---------------------------------------------------------------------------

struct EnquiryCase {
  const char* name;
  std::uint8_t model;
  const char* firmware;
  int framesSent;
  int expected;
  int result;
};
class SetupEnquiry : public testing::TestWithParam<EnquiryCase> {};

TEST_P(SetupEnquiry, CountsTheFramesTheUnitSends) {
  const EnquiryCase& c = GetParam();
  Rig rig(Unit(c.model, c.firmware));
  WaveSetup w;
  w.sampleRate = 64000;
  w.dataFormat = 0x83;
  FftSetup f;
  f.sampleRate = 128000;
  f.fftType = 4;
  f.fftStep = 512;
  f.accumulation = 250;
  std::vector<Bytes> records = {WithStatus(B(Pack(w))), WithStatus(B(Pack(f))),
                                WithStatus(B(Pack(LegacyDutyCycleSetup{}))), WithStatus(B(Pack(StartTimeSetup{})))};
  records.resize(static_cast<std::size_t>(c.framesSent));
  rig.Echo({}, records);
  EXPECT_EQ(rig.cmds->ReadJobSetup(), c.result);
  ASSERT_EQ(rig.link.sent.size(), 1u);
  EXPECT_EQ(rig.link.sent[0].first, 'F');
  EXPECT_EQ(rig.link.sent[0].second, (Bytes{20, 0}));
  EXPECT_EQ(rig.link.expectedReplies[0], c.expected);
  // The frames that did come are on the setup either way.
  EXPECT_EQ(rig.cmds->Setup().waveBandwidthHz, 25600u);
  if (c.framesSent >= 2) {
    EXPECT_EQ(rig.cmds->Setup().spectrumBandwidthHz, 51200u);
  }
  EXPECT_EQ(rig.panel.Text(unitpanel::kWaveSamples), "Gives 64000 Samples/sec");
}

INSTANTIATE_TEST_SUITE_P(Frames, SetupEnquiry,
                         testing::Values(EnquiryCase{"Hf145All", kModelHf, "v1.4.5", 3, 3, 0},
                                         EnquiryCase{"Hf145TwoOfThree", kModelHf, "v1.4.5", 2, 3, -1},
                                         EnquiryCase{"Hf152All", kModelHf, "v1.5.2", 4, 4, 0},
                                         EnquiryCase{"Hf152Three", kModelHf, "v1.5.2", 3, 4, -1},
                                         EnquiryCase{"AfOneExpected", kModelAf, "v2.1.0", 1, 1, 0}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(SetupEnquiryFailures, NoLinkAndTimeOut) {
  Rig rig(Unit(kModelHf, "v2.1.0"));
  int open = 0;
  JobSetupPorts ports;
  ports.context = [&] { return rig.ctx; };
  ports.linkOpen = [&] { return open != 0; };
  JobSetupCommands cmds(rig.link, rig.op, rig.log, rig.panel, std::move(ports));
  EXPECT_EQ(cmds.ReadJobSetup(), -1);
  EXPECT_TRUE(rig.Noticed(kCheckConnectionText));
  EXPECT_TRUE(rig.link.sent.empty()) << "nothing is sent without a link";
  open = 1;
  EXPECT_EQ(cmds.ReadJobSetup(), -1) << "a timed-out enquiry fails";
  EXPECT_EQ(rig.link.sent.size(), 1u);
}

TEST(SetupEnquiryFailures, UnitErrorsAndUnknownRecordsAreShown) {
  Rig rig(Unit(kModelAf, "v2.1.0"));
  rig.Echo({}, {WithStatus(ErrorRecord(7))});
  EXPECT_EQ(rig.cmds->ReadJobSetup(), 0);
  EXPECT_TRUE(rig.Noticed("An error occurred when retrieving job setup.\r\nError Code: 7."));
  rig.Echo({}, {WithStatus({17, 0, 1, 2, 3, 4})});
  rig.cmds->ReadJobSetup();
  EXPECT_TRUE(rig.Noticed(kUnrecognizedSetupText));
}

// ---- Echo check ------------------------------------------------------------------------

TEST(SetupEcho, WaveReservedByteIsNotCompared) {
  Rig rig(Unit(kModelHf, "v1.5.2"));
  rig.cmds->TabChanged(UnitTab::kHf);
  rig.Echo([](Bytes& echo) {
    if (bytes::GetU16LE(echo, 0) == kWaveSetupType) echo[11] = 0x5A;
  });
  EXPECT_EQ(rig.cmds->ApplyUnitSetup(), 0);
  EXPECT_EQ(rig.link.Letters(), (std::vector<std::uint8_t>{'D', 'D', 'D', 'D'}));
  EXPECT_EQ(rig.link.expectedReplies, (std::vector<int>{1, 1, 1, 0})) << "1.5.x gets no reply to the start time";
  ASSERT_FALSE(rig.StatusLines().empty());
  EXPECT_TRUE(EndsWith(rig.StatusLines().back(), "Aurisond HF Configured Successfully"));
  EXPECT_FALSE(rig.cmds->Changed(UnitTab::kHf));
}

TEST(SetupEcho, AnyOtherDifferenceStopsTheSequence) {
  for (std::size_t at : {2u, 4u, 10u}) {
    Rig rig(Unit(kModelHf, "v1.4.5"));
    rig.cmds->TabChanged(UnitTab::kHf);
    rig.Echo([at](Bytes& echo) {
      if (bytes::GetU16LE(echo, 0) == kWaveSetupType) echo[at] ^= 1;
    });
    EXPECT_NE(rig.cmds->ApplyUnitSetup(), 0) << at;
    EXPECT_EQ(rig.link.sent.size(), 1u) << "the FFT record is not sent after a bad echo";
    EXPECT_TRUE(rig.Noticed(kHfSetupFailedText));
    EXPECT_TRUE(rig.cmds->Changed(UnitTab::kHf)) << "a failed Apply keeps its flag";
  }
}

TEST(SetupEcho, LfComparesTheFirstSixteenBytes) {
  Rig rig(Unit(kModelLf, "v2.4.0"));
  rig.cmds->EditSetup([](JobSetup& s) { s.lfMode = {2, 1, 2}; });
  rig.cmds->TabChanged(UnitTab::kLf);
  rig.Echo([](Bytes& echo) { echo[20] ^= 0xFF; });
  EXPECT_EQ(rig.cmds->ApplyUnitSetup(), 0);
  ASSERT_EQ(rig.link.sent.size(), 1u);
  EXPECT_EQ(bytes::GetU16LE(rig.link.sent[0].second, 8), 21) << "LF mode 21";
  EXPECT_EQ(rig.cmds->Setup().waveStreamCode, 3);
  EXPECT_EQ(rig.cmds->Setup().fftStreamCode, 3);
  rig.cmds->TabChanged(UnitTab::kLf);
  rig.Echo([](Bytes& echo) { echo[14] ^= 1; });
  EXPECT_NE(rig.cmds->ApplyUnitSetup(), 0);
  EXPECT_TRUE(rig.Noticed(kLfSetupFailedText));
}

// ---- Refusals ------------------------------------------------------------------------

TEST(SetupRefusal, TheUnitsCodeIsExplained) {
  // Firmware below 1.3.0 compares no echo, but a refusal is still a failure.
  for (const char* firmware : {"v1.5.2", "v1.2.0"}) {
    Rig rig(Unit(kModelHf, firmware));
    rig.cmds->TabChanged(UnitTab::kHf);
    rig.link.answer = [](std::uint8_t letter, const Bytes&, int) { return Frame(letter, ErrorRecord(8)); };
    EXPECT_NE(rig.cmds->ApplyUnitSetup(), 0) << firmware;
    EXPECT_TRUE(rig.Noticed(DescribeSetupError(8))) << firmware;
    EXPECT_TRUE(rig.Noticed(kHfSetupFailedText));
    ASSERT_FALSE(rig.StatusLines().empty());
    EXPECT_TRUE(EndsWith(rig.StatusLines().back(), " - Job setup failed"));
  }
}

TEST(SetupRefusal, ARefusedParameterListIsNotReportedAsSuccess) {
  Rig rig(Unit(kModelHf, "v2.1.0"));
  rig.cmds->TabChanged(UnitTab::kSpecialFeatures);
  rig.link.answer = [](std::uint8_t letter, const Bytes&, int) { return Frame(letter, ErrorRecord(0xFFFF)); };
  EXPECT_NE(rig.cmds->ApplyUnitSetup(), 0);
  EXPECT_TRUE(rig.Noticed(DescribeSetupError(0xFFFF)));
  EXPECT_TRUE(rig.Noticed(kParamListFailedText));
  EXPECT_FALSE(rig.cmds->Changed(UnitTab::kSpecialFeatures)) << "both HF flags clear after the list";
  ASSERT_EQ(rig.link.sent.size(), 1u) << "only the special-features tab changed: still the full list";
  const auto list = UnpackSetupParamList(rig.link.sent[0].second);
  ASSERT_TRUE(list);
  EXPECT_TRUE(list->Has(kAuxPin));
  EXPECT_TRUE(list->Has(kWaveSampleRate));
}

TEST(SetupRefusal, DReplyHandler) {
  Rig rig(Unit(kModelHf, "v2.1.0"));
  rig.cmds->OnSetupResultReply(Bytes{0xFF, 0xFF, 4, 0});  // shorter than 6: ignored
  EXPECT_TRUE(rig.op.Notices().empty());
  rig.cmds->OnSetupResultReply(B(Pack(WaveSetup{})));
  EXPECT_TRUE(rig.op.Notices().empty());
  rig.cmds->OnSetupResultReply(Bytes{0xFF, 0xFF, 4, 0, 0, 0});
  EXPECT_TRUE(rig.Noticed(kSetupErrorReplyText));
  rig.cmds->OnSetupResultReply(Bytes{13, 0, 0, 0, 0, 0});
  EXPECT_TRUE(rig.Noticed(DescribeSetupError(0)));
  EXPECT_TRUE(EndsWith(rig.StatusLines().back(), " - Job setup failed"));
}

// ---- Apply order -----------------------------------------------------------------------

TEST(SetupApply, DecliningTheDataRateWarningSendsNothing) {
  // 115200 baud serial link: 512 kS/s of wave data cannot fit.
  Rig rig(Unit(kModelHf, "v2.1.0", true, 115200));
  rig.cmds->EditSetup([](JobSetup& s) { s.waveBandwidthHz = 204800; });
  rig.cmds->TabChanged(UnitTab::kHf);
  rig.Echo();
  EXPECT_EQ(rig.cmds->ApplyUnitSetup(), -1);
  EXPECT_TRUE(rig.link.sent.empty());
  ASSERT_EQ(rig.op.Questions().size(), 1u);
  EXPECT_EQ(rig.op.Questions()[0], "Warning: " + std::string(kDataRateWarningText));
  EXPECT_TRUE(rig.cmds->Changed(UnitTab::kHf));
  rig.op.QueueButton(0);
  EXPECT_EQ(rig.cmds->ApplyUnitSetup(), 0);
  EXPECT_EQ(rig.link.sent.size(), 1u);
}

TEST(SetupApply, EpochTriggersAreClearedOnlyWhenTheyCanBeSentAgain) {
  {
    Rig rig(Unit(kModelLf, "v2.4.0"));
    rig.cmds->MarkChanged(UnitTab::kEpoch);
    rig.cmds->MarkChanged(UnitTab::kLf);
    rig.Echo();
    EXPECT_EQ(rig.cmds->ApplyUnitSetup(), 0);
    EXPECT_EQ(rig.link.Letters(), (std::vector<std::uint8_t>{'D'})) << "no \"U\" without a re-send";
    EXPECT_EQ(rig.op.Notices(), (std::vector<std::string>{std::string(kEpochNotSentText)}))
        << "the operator is told the triggers were not sent";
  }
  Rig rig(Unit(kModelLf, "v2.4.0"), true);
  rig.cmds->MarkChanged(UnitTab::kEpoch);
  rig.cmds->MarkChanged(UnitTab::kLf);
  rig.Echo();
  rig.link.answer = [&, inner = rig.link.answer](std::uint8_t l, const Bytes& p, int e) {
    rig.events.push_back(std::string(1, static_cast<char>(l)));
    return inner(l, p, e);
  };
  EXPECT_EQ(rig.cmds->ApplyUnitSetup(), 0);
  EXPECT_EQ(rig.link.Letters(), (std::vector<std::uint8_t>{'U', 'D'}));
  EXPECT_EQ(rig.events, (std::vector<std::string>{"pause 1000", "D", "save", "epochs", "pause 1000"}));
  EXPECT_FALSE(rig.cmds->Changed(UnitTab::kEpoch));
}

TEST(SetupApply, TheLinkStepComesFirstAndOnlyItsSuccessClearsItsFlag) {
  Rig rig(Unit(kModelHf, "v1.5.2"));
  rig.Echo();
  rig.link.answer = [&, inner = rig.link.answer](std::uint8_t l, const Bytes& p, int e) {
    rig.events.push_back(std::string(1, static_cast<char>(l)));
    return inner(l, p, e);
  };
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

  // Declining the data-rate warning stops before the link step.
  Rig serial(Unit(kModelHf, "v2.1.0", true, 115200));
  serial.cmds->EditSetup([](JobSetup& s) { s.waveBandwidthHz = 204800; });
  serial.cmds->TabChanged(UnitTab::kLink);
  serial.cmds->TabChanged(UnitTab::kHf);
  EXPECT_EQ(serial.cmds->ApplyUnitSetup(), -1);
  EXPECT_TRUE(serial.events.empty());
  EXPECT_TRUE(serial.cmds->Changed(UnitTab::kLink));
}

TEST(SetupApply, UndoAsksBeforeResettingTheOtherTab) {
  Rig rig(Unit(kModelHf, "v2.1.0"));
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
  Rig rig(Unit(kModelAf, "v2.1.0"));
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
  EXPECT_TRUE(UnitSetupTabs(Unit(kModelLf, "v2.4.0")).lf);
  EXPECT_EQ(UnitSetupTabs(Unit(kModelLf, "v2.4.0")).initial, UnitTab::kLf);
  const auto hf = UnitSetupTabs(Unit(kModelHf, "v2.1.0"));
  EXPECT_TRUE(hf.hf && hf.specialFeatures && !hf.lf);
  EXPECT_EQ(hf.hfTitle, "Aurisond HF Setup");
  EXPECT_EQ(UnitSetupTabs(Unit(kModelAf, "v2.1.0")).hfTitle, "Aurisond AF Setup");
  EXPECT_FALSE(UnitSetupTabs(Unit(kModelHf, "v1.5.2")).specialFeatures);
  SetupContext low = Unit(kModelHf, "v2.1.0");
  low.featureLevel = 1;
  EXPECT_FALSE(UnitSetupTabs(low).specialFeatures);
  EXPECT_TRUE(UnitSetupTabs(Unit(kModelHf, "v2.1.5")).olderEpoch);
  EXPECT_TRUE(UnitSetupTabs(Unit(kModelHf, "v2.1.6")).newerEpoch);
  const auto other = UnitSetupTabs(Unit(15, "v1.0.0"));
  EXPECT_EQ(other.initial, UnitTab::kLink);
  EXPECT_FALSE(other.lf || other.hf);
}

TEST(ProgramSettingsPanel, ProcessingTabAppliesAndFailuresKeepThePanelOpen) {
  DisplaySettings display;
  int stops = 0, saves = 0, loggingResult = 5;
  ProgramSettingsPorts ports;
  ports.stopScanning = [&] { ++stops; };
  ports.saveSettings = [&] { ++saves; };
  ports.applyLogging = [&] { return loggingResult; };
  ProgramSettings panel(display, std::move(ports));
  panel.OpenHyloSetupPanel();
  panel.OpenHyloSetupPanel();
  EXPECT_EQ(stops, 1) << "an open panel is not opened again";
  EXPECT_EQ(panel.CurrentTab(), ProgramTab::kLogging);
  panel.TabChanged(ProgramTab::kProcessing);
  panel.Processing().useCustomScanRate = true;
  panel.Processing().scanPeriod = 0.3;
  panel.Processing().showDcOffset = true;
  EXPECT_EQ(panel.ApplyProgramSettings(), 5);
  EXPECT_TRUE(panel.PanelOpen());
  EXPECT_FALSE(display.useCustomScanRate) << "nothing after the failing tab is applied";
  loggingResult = 0;
  EXPECT_EQ(panel.ApplyProgramSettings(), 0);
  EXPECT_FALSE(panel.PanelOpen());
  EXPECT_TRUE(display.useCustomScanRate);
  EXPECT_DOUBLE_EQ(display.scanPeriod, 0.25) << "snapped to the scan list";
  EXPECT_TRUE(display.showDcOffset);
  EXPECT_EQ(saves, 1);
  panel.OpenHyloSetupPanel();
  panel.Processing().showDcOffset = false;
  panel.UndoHyloProcChangesCb();
  EXPECT_TRUE(panel.Processing().showDcOffset);
}

TEST(ProgramSettingsPanel, TabsWithoutTheirModuleSayNothingWasApplied) {
  DisplaySettings display;
  std::vector<std::string> notices;
  ProgramSettingsPorts ports;
  ports.showNotice = [&](std::string_view text) { notices.emplace_back(text); };
  ProgramSettings panel(display, std::move(ports));
  panel.OpenHyloSetupPanel();
  panel.TabChanged(ProgramTab::kHostEpoch);
  panel.TabChanged(ProgramTab::kImpulse);
  EXPECT_EQ(panel.ApplyProgramSettings(), 0);
  EXPECT_EQ(notices,
            (std::vector<std::string>{std::string(kHostEpochNotAppliedText), std::string(kImpulseNotAppliedText)}));
}

// ---- Setup files through the dialogs ---------------------------------------------------

namespace {

// Answers file dialogs with queued paths and keeps what each dialog was asked to show.
class FileDialogOperator final : public OperatorPort {
 public:
  struct Dialog {
    std::string title;
    std::filesystem::path folder;
    std::string pattern;
    bool forSaving = false;
  };
  std::vector<Dialog> dialogs;
  std::deque<std::filesystem::path> answers;
  std::vector<std::string> notices;

  void ShowNotice(std::string_view text) override { notices.emplace_back(text); }
  int Confirm(std::string_view, std::string_view, const std::vector<std::string>&) override { return 1; }
  std::optional<std::filesystem::path> ChooseFile(std::string_view title, const std::filesystem::path& folder,
                                                  std::string_view pattern, bool forSaving) override {
    dialogs.push_back({std::string(title), folder, std::string(pattern), forSaving});
    if (answers.empty()) return std::nullopt;
    auto p = answers.front();
    answers.pop_front();
    return p;
  }
  std::optional<std::filesystem::path> ChooseFolder(std::string_view, const std::filesystem::path&) override {
    return std::nullopt;
  }
  std::optional<std::string> PromptText(std::string_view, std::string_view, std::string_view) override {
    return std::nullopt;
  }
};

struct FileRig {
  test::TempDir dir;
  ScriptedLink link;
  FileDialogOperator op;
  PanelModel mainPanel{"main"};
  StatusLog log{mainPanel};
  PanelModel panel{"unitSetup"};
  SetupContext ctx = Unit(kModelHf, "v2.1.0");
  std::optional<JobSetupCommands> cmds;

  FileRig() {
    std::filesystem::create_directories(dir.Path() / "data");
    JobSetupPorts ports;
    ports.context = [this] { return ctx; };
    ports.now = [] { return 1'700'000'000u; };
    ports.dataFolder = [this] { return dir.Path() / "data"; };
    cmds.emplace(link, op, log, panel, std::move(ports));
  }
  // Everything the file can carry, as the bytes that would be sent.
  std::vector<Bytes> Records() const {
    JobSetup s = cmds->Setup();
    Notices n;
    return {PackSetupParamList(BuildSetupParamEntries(s, ctx, n)), B(Pack(BuildDutyCycleSetup(s))),
            B(Pack(BuildStartTimeSetup(s)))};
  }
};

void Write(const std::filesystem::path& p, std::string_view text) {
  std::ofstream f(p, std::ios::binary);
  f << text;
}

}  // namespace

TEST(SetupFileDialogs, SavedThenLoadedGivesTheSameRecords) {
  FileRig rig;
  rig.cmds->EditSetup([](JobSetup& s) {
    s.waveBandwidthHz = 25600;
    s.waveLogChoice = kLogDutyCycle;
    s.waveMaxLogLength = 9;
    s.dutyRunMinutes = 4;
    s.dutyCycleMinutes = 20;
    s.spectrumBandwidthHz = 6400;
    s.fftTypeChoice = kFftFilter;
    s.accumulationTime = 2;
    s.refLevel = -150;
    s.fftLogChoice = kFftLogContinuous;
    s.fftMaxLogLength = 11;
    s.enableDelay = true;
    s.startTime = 1'800'000'000;
    s.syncPinMode = 3;
    s.wakeFromStandby = true;
    s.timeSource = true;
  });
  const auto saved = rig.Records();
  const auto folder = rig.dir.Path() / "setups";
  std::filesystem::create_directories(folder);
  rig.op.answers.push_back(folder / "deployment");  // no extension typed
  ASSERT_EQ(rig.cmds->SaveHfSetupFile(), 0);
  ASSERT_EQ(rig.op.dialogs.size(), 1u);
  EXPECT_EQ(rig.op.dialogs[0].title, "Save Setup File");
  EXPECT_EQ(rig.op.dialogs[0].folder.string(), (rig.dir.Path() / "data").string())
      << "the first dialog starts in the data folder";
  EXPECT_EQ(rig.op.dialogs[0].pattern, "*.cfg");
  EXPECT_TRUE(rig.op.dialogs[0].forSaving);
  const auto file = folder / "deployment.cfg";
  ASSERT_TRUE(std::filesystem::exists(file));
  EXPECT_TRUE(rig.op.notices.empty()) << rig.op.notices.front();

  // The panel moves on to something else; loading the file brings the setup back.
  rig.cmds->EditSetup([](JobSetup& s) {
    s = JobSetup{};
    s.waveBandwidthHz = 400;
  });
  ASSERT_NE(rig.Records(), saved);
  EXPECT_FALSE(rig.cmds->Changed(UnitTab::kHf));
  rig.op.answers.push_back(file);
  ASSERT_EQ(rig.cmds->LoadHfSetupFile(), 0);
  ASSERT_EQ(rig.op.dialogs.size(), 2u);
  EXPECT_EQ(rig.op.dialogs[1].title, "Load Setup File");
  EXPECT_EQ(rig.op.dialogs[1].folder.string(), folder.string()) << "the folder used last is remembered";
  EXPECT_FALSE(rig.op.dialogs[1].forSaving);
  EXPECT_TRUE(rig.op.notices.empty()) << rig.op.notices.front();
  EXPECT_EQ(rig.Records(), saved);
  EXPECT_EQ(rig.panel.Text(unitpanel::kWaveSamples), "Gives 64000 Samples/sec");
  EXPECT_TRUE(rig.link.sent.empty()) << "nothing is sent before Apply";
  EXPECT_TRUE(rig.cmds->Changed(UnitTab::kHf)) << "Apply sends what was loaded";
}

TEST(SetupFileDialogs, ARefusedFileLeavesThePanelUnchanged) {
  FileRig rig;
  rig.cmds->EditSetup([](JobSetup& s) {
    s.waveBandwidthHz = 51200;
    s.spectrumBandwidthHz = 51200;
    s.fftTypeChoice = kFftPeak;
    s.syncPinMode = 2;
  });
  const auto before = rig.Records();
  const auto file = rig.dir.Path() / "bad.cfg";
  Write(file,
        "$WAVE_GAIN = 7\n$FFT_TYPE = 2\n$DUTY_RUN_TIME = 10\n$DUTY_CYCLE_TIME = 5\n"
        "$LOG_START_TIME = 99999999999\n$AUX_PIN = 37\n");
  rig.op.answers.push_back(file);
  EXPECT_EQ(rig.cmds->LoadHfSetupFile(), 0);
  EXPECT_EQ(rig.op.notices,
            (std::vector<std::string>{"Error in wave setup", "Error in FFT setup", "Error in duty cycle setup",
                                      "Error in start time setup", "Error in sync setup"}));
  EXPECT_EQ(rig.Records(), before);
  EXPECT_TRUE(rig.link.sent.empty());

  // Only the failing record is refused: a bad FFT type keeps the FFT part, loads the rest.
  rig.op.notices.clear();
  Write(file, "$WAVE_SAMPLE_RATE = 8000\n$FFT_TYPE = 1\n$FFT_SAMPLE_RATE = 1000\n");
  rig.op.answers.push_back(file);
  EXPECT_EQ(rig.cmds->LoadHfSetupFile(), 0);
  EXPECT_EQ(rig.op.notices, (std::vector<std::string>{"Error in FFT setup"}));
  EXPECT_EQ(rig.cmds->Setup().waveBandwidthHz, 3200u);
  EXPECT_EQ(rig.cmds->Setup().spectrumBandwidthHz, 51200u);
  EXPECT_EQ(rig.cmds->Setup().fftTypeChoice, kFftPeak);
}

TEST(SetupFileDialogs, CancelAndUnwritableFiles) {
  FileRig rig;
  const auto before = rig.Records();
  EXPECT_EQ(rig.cmds->LoadHfSetupFile(), 1) << "cancelled";
  EXPECT_EQ(rig.cmds->SaveHfSetupFile(), 1);
  EXPECT_EQ(rig.Records(), before);
  EXPECT_FALSE(rig.cmds->Changed(UnitTab::kHf));
  EXPECT_TRUE(rig.op.notices.empty());
  rig.op.answers.push_back(rig.dir.Path() / "missing" / "x.cfg");
  EXPECT_EQ(rig.cmds->SaveHfSetupFile(), -1);
  EXPECT_EQ(rig.op.notices, (std::vector<std::string>{"File open failed"}));
  EXPECT_FALSE(std::filesystem::exists(rig.dir.Path() / "missing"));
}

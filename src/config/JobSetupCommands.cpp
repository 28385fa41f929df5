#include "config/JobSetupCommands.h"

#include <chrono>
#include <ctime>
#include <thread>

#include "config/SetupDerived.h"
#include "config/SetupExchange.h"
#include "config/SetupFile.h"
#include "link/CommandLetters.h"
#include "link/DeviceIdentity.h"
#include "settings/HyloIni.h"
#include "wire/Bytes.h"

namespace hylo::setup {

namespace {
constexpr int kEpochSettleMs = 1000;
// The reply handler runs on MsgProcThread after the comms thread has released the enquiry;
// this bounds the wait for it should a forwarded frame be lost on a full queue.
constexpr auto kHandlerWait = std::chrono::milliseconds(2000);
// A cancelled exchange ends within a comms pass; this only bounds the exit.
constexpr auto kAbortWait = std::chrono::milliseconds(5000);
}  // namespace

JobSetupCommands::JobSetupCommands(CommandLink& link, OperatorPort& op, StatusLog& log, PanelModel& panel,
                                   JobSetupPorts ports)
    : link_(link), operator_(op), log_(log), panel_(panel), ports_(std::move(ports)) {}

SetupContext JobSetupCommands::Context() const { return ports_.context ? ports_.context() : SetupContext{}; }

std::uint32_t JobSetupCommands::Now() const {
  return ports_.now ? ports_.now() : static_cast<std::uint32_t>(std::time(nullptr));
}

JobSetup JobSetupCommands::Setup() const {
  std::lock_guard guard(lock_);
  return setup_;
}

void JobSetupCommands::EditSetup(const std::function<void(JobSetup&)>& edit) {
  const SetupContext ctx = Context();
  JobSetup copy;
  {
    std::lock_guard guard(lock_);
    edit(setup_);
    ApplyPanelRules(setup_, ctx);
    copy = setup_;
  }
  Publish(copy, ctx);
}

StreamCodes JobSetupCommands::StreamTransports() const {
  std::lock_guard guard(lock_);
  return {setup_.waveStreamCode, setup_.fftStreamCode};
}

void JobSetupCommands::SetStreamTransports(StreamCodes codes) {
  std::lock_guard guard(lock_);
  setup_.waveStreamCode = codes.wave;
  setup_.fftStreamCode = codes.fft;
}

StreamCodes JobSetupCommands::FitStreamTransports() {
  const SetupContext ctx = Context();
  std::lock_guard guard(lock_);
  FitStreamCodes(setup_, ctx);
  return {setup_.waveStreamCode, setup_.fftStreamCode};
}

void JobSetupCommands::LoadStreamTransports(const HyloIni& ini) {
  std::lock_guard settings(ini.SettingsLock());
  StreamCodes codes{kDefaultStreamCode, kDefaultStreamCode};
  ini.GetInt(kStreamSection, kWaveStreamKey, codes.wave);
  ini.GetInt(kStreamSection, kFftStreamKey, codes.fft);
  // A code the program does not know is taken as the default, not as a fifth transport.
  auto known = [](int c) { return c >= TRANSPORT_OFF && c <= TRANSPORT_LINK ? c : kDefaultStreamCode; };
  SetStreamTransports({known(codes.wave), known(codes.fft)});
}

void JobSetupCommands::SaveStreamTransports(HyloIni& ini) const {
  const StreamCodes codes = StreamTransports();
  std::lock_guard settings(ini.SettingsLock());
  ini.SetInt(kStreamSection, kWaveStreamKey, codes.wave);
  ini.SetInt(kStreamSection, kFftStreamKey, codes.fft);
}

bool JobSetupCommands::Changed(UnitTab tab) const { return flags_.Changed(tab); }
void JobSetupCommands::MarkChanged(UnitTab tab) { flags_.Set(tab); }

void JobSetupCommands::Abort() {
  cancel_ = true;
  repliesHandled_.notify_all();
  background_.WaitIdle(kAbortWait);
}

bool JobSetupCommands::RunInBackground(std::function<int()> job, std::function<void(int)> done) {
  return background_.Run([job = std::move(job), done = std::move(done)] {
    const int rc = job();
    if (done) done(rc);
  });
}

void JobSetupCommands::ShowAll(const Notices& notices) {
  for (const auto& text : notices) operator_.ShowNotice(text);
}

// Derived texts and the scan interval, from a snapshot (never under the setup lock: the
// panel's listeners run on this thread).
void JobSetupCommands::Publish(const JobSetup& s, const SetupContext& ctx) {
  using namespace unitpanel;
  panel_.SetValue(kWaveSamples, SamplesPerSecText(s.waveBandwidthHz));
  panel_.SetValue(kSpectrumSamples, SamplesPerSecText(s.spectrumBandwidthHz));
  panel_.SetValue(kHfBandwidth, HfSpectrumBandwidthText(SampleRateForBandwidth(s.spectrumBandwidthHz)));
  panel_.SetValue(kLfSamples, SamplesPerSecText(s.lfBandwidthHz));
  panel_.SetValue(kLfBandwidth, LfBandwidthText(s.lfBandwidthHz));
  const double strings = LfFftStringsPerSec(s);
  panel_.SetValue(kLfStrings, LfFftStringsText(strings));
  panel_.SetValue(unitpanel::kLfDataLossNote, std::string(setup::kLfDataLossNote));
  panel_.SetVisible(unitpanel::kLfDataLossNote, LfDataLossNoteVisible(strings));
  const int sensitivity = ports_.sensitivityDb ? ports_.sensitivityDb() : 0;
  panel_.SetValue(kLfSignalRange, LfSignalRangeText(LfSignalRange(s.lfGain, sensitivity)));
  panel_.SetValue(kTimeSourceLabel, std::string(TimeSourceLabel(s.syncPinMode)));
  panel_.SetVisible(kTimeSourceLabel, s.syncPinMode != kSyncDisabled);
  const std::optional<double> custom = ports_.customScanInterval ? ports_.customScanInterval() : std::nullopt;
  panel_.SetValue(kScanInterval, ScanInterval(s, ctx, custom));
  std::int64_t revision = 0;
  {
    std::lock_guard guard(lock_);
    revision = ++revision_;
  }
  panel_.SetValue(kRevision, revision);
}

// ---- Enquiry ---------------------------------------------------------------------------

int JobSetupCommands::ReadJobSetup() {
  const SetupContext ctx = Context();
  const int expected = ExpectedSetupReplyFrames(ctx);
  if (ports_.linkOpen && !ports_.linkOpen()) {
    operator_.ShowNotice(kCheckConnectionText);
    return -1;
  }
  std::uint64_t before = 0;
  {
    std::lock_guard guard(lock_);
    before = enquiryFrames_;
  }
  std::uint8_t payload[2];
  bytes::PutU16LE(payload, 0, kSetupEnquiryValue);
  const auto reply = link_.Transact(cmd::kReadSetup, payload, expected, true, cancel_);
  if (!reply) return -1;
  const int frames = CountReplyFrames(*reply);
  {
    // Every frame the comms thread stored is also on its way to the reply handler.
    std::unique_lock guard(lock_);
    repliesHandled_.wait_for(guard, kHandlerWait,
                             [&] { return cancel_ || enquiryFrames_ >= before + static_cast<std::uint64_t>(frames); });
  }
  if (ports_.scanIntervalChanged) {
    const Control interval = panel_.Get(unitpanel::kScanInterval);
    if (const auto* v = std::get_if<double>(&interval.value)) ports_.scanIntervalChanged(*v);
  }
  return frames == expected ? 0 : -1;
}

int JobSetupCommands::OnSetupEnquiryReply(std::span<const std::uint8_t> payload) {
  const SetupContext ctx = Context();
  const std::uint32_t now = Now();
  Notices notices;
  JobSetup copy;
  {
    std::lock_guard guard(lock_);
    notices = ReadSetupReply(setup_, ctx, payload, now);
    ApplyPanelRules(setup_, ctx);
    copy = setup_;
  }
  Publish(copy, ctx);
  ShowAll(notices);
  {
    std::lock_guard guard(lock_);
    ++enquiryFrames_;
  }
  repliesHandled_.notify_all();
  return 0;
}

int JobSetupCommands::OnSetupResultReply(std::span<const std::uint8_t> payload) {
  switch (ClassifySetupResult(payload)) {
    case SetupResultAction::kSetupError:
      operator_.ShowNotice(kSetupErrorReplyText);
      break;
    case SetupResultAction::kJobSetupFailed:
      ReportSetupFailure(0);
      break;
    default:
      break;
  }
  return 0;
}

void JobSetupCommands::ReportSetupFailure(std::uint16_t code) {
  operator_.ShowNotice(DescribeSetupError(code));
  log_.Append(kJobSetupFailedLine);
}

// ---- Sending ---------------------------------------------------------------------------

std::optional<std::span<const std::uint8_t>> JobSetupCommands::FirstPayload(std::span<const std::uint8_t> reply) {
  if (reply.size() < 4 || reply[0] != cmd::kStartByte) return std::nullopt;
  const std::size_t n = bytes::GetU16LE(reply, 2);
  return reply.subspan(4, std::min(n, reply.size() - 4));
}

// A refusal from the unit: its code explains the failure whatever the echo rule says.
bool JobSetupCommands::ReplyIsError(std::span<const std::uint8_t> payload) {
  const auto error = UnpackSetupError(payload);
  if (!error) return false;
  ReportSetupFailure(error->code);
  return true;
}

int JobSetupCommands::SendSetupRecord(std::span<const std::uint8_t> record) {
  if (record.size() < 2) return -1;
  const SetupContext ctx = Context();
  if (!SetupRecordAwaitsReply(ctx, bytes::GetU16LE(record, 0))) return link_.Send(cmd::kWriteSetup, record, true);
  const auto reply = link_.Transact(cmd::kWriteSetup, record, 1, true, cancel_);
  if (!reply) return -1;
  const auto echo = FirstPayload(*reply);
  if (!echo) return -1;
  if (ReplyIsError(*echo)) return -1;
  return SetupEchoMatches(ctx, record, *echo) ? 0 : 1;
}

int JobSetupCommands::SendSetupParamList() {
  const SetupContext ctx = Context();
  Notices notices;
  std::vector<SetupParamEntry> entries;
  JobSetup copy;
  {
    std::lock_guard guard(lock_);
    entries = BuildSetupParamEntries(setup_, ctx, notices);
    copy = setup_;
  }
  Publish(copy, ctx);
  ShowAll(notices);
  const std::vector<std::uint8_t> payload = PackSetupParamList(entries);
  const auto reply = link_.Transact(cmd::kWriteSetup, payload, 1, true, cancel_);
  if (!reply) return -1;
  const auto echo = FirstPayload(*reply);
  if (echo && ReplyIsError(*echo)) return -1;
  return 0;
}

int JobSetupCommands::SendLfSetup() {
  LfSetup r;
  {
    std::lock_guard guard(lock_);
    r = BuildLfSetup(setup_);
  }
  const int rc = SendSetupRecord(Pack(r));
  if (rc != 0) return rc;
  JobSetup copy;
  {
    std::lock_guard guard(lock_);
    SetLfStreamCodes(setup_);
    copy = setup_;
  }
  Publish(copy, Context());
  return 0;
}

// The separate records of HF firmware below 2.0.0, each echo-checked in turn.
int JobSetupCommands::SendHfSetup(const SetupContext& ctx) {
  Notices notices;
  std::vector<std::vector<std::uint8_t>> records;
  JobSetup copy;
  {
    std::lock_guard guard(lock_);
    const auto wave = Pack(BuildWaveSetup(setup_, ctx, notices));
    const auto fft = Pack(BuildFftSetup(setup_, ctx, notices));
    records.emplace_back(wave.begin(), wave.end());
    records.emplace_back(fft.begin(), fft.end());
    if (ctx.firmware < Firmware(1, 5, 0)) {
      const auto duty = Pack(BuildLegacyDutyCycleSetup(setup_, Now()));
      records.emplace_back(duty.begin(), duty.end());
    } else {
      const auto duty = Pack(BuildDutyCycleSetup(setup_));
      const auto start = Pack(BuildStartTimeSetup(setup_));
      records.emplace_back(duty.begin(), duty.end());
      records.emplace_back(start.begin(), start.end());
    }
    copy = setup_;
  }
  Publish(copy, ctx);
  ShowAll(notices);
  for (const auto& record : records) {
    if (const int rc = SendSetupRecord(record); rc != 0) return rc;
  }
  return 0;
}

// ---- Apply -----------------------------------------------------------------------------

bool JobSetupCommands::ConfirmDataRate() {
  if (!flags_.Changed(UnitTab::kLf) && !flags_.Changed(UnitTab::kHf)) return true;
  const SetupContext ctx = Context();
  bool exceeds = false;
  {
    std::lock_guard guard(lock_);
    exceeds = DataRateExceedsLink(setup_, ctx);
  }
  return !exceeds || operator_.Confirm("Warning", kDataRateWarningText, {"Yes", "No"}) == 0;
}

int JobSetupCommands::ApplyUnitSetup(bool rateConfirmed) {
  const SetupContext ctx = Context();
  auto cursor = [&](bool on) {
    if (ports_.waitCursor) ports_.waitCursor(on);
  };
  auto pause = [&](int ms) {
    if (ports_.pause)
      ports_.pause(ms);
    else
      std::this_thread::sleep_for(std::chrono::milliseconds(ms));
  };
  auto configured = [&](std::string_view line) {
    log_.Append(line);
    if (ports_.refreshLoggingDisplay) ports_.refreshLoggingDisplay();
    if (ports_.saveSettings) ports_.saveSettings();
  };
  // Clearing the unit's triggers is only safe when they can be sent again.
  const bool epoch = flags_.Changed(UnitTab::kEpoch) && static_cast<bool>(ports_.sendEpochTriggers);
  if (flags_.Changed(UnitTab::kEpoch) && !ports_.sendEpochTriggers) flags_.Set(UnitTab::kEpoch, false);

  if (!rateConfirmed && !ConfirmDataRate()) return -1;
  if (flags_.Changed(UnitTab::kLink)) {
    const int rc = ports_.applyLinkSettings ? ports_.applyLinkSettings() : 0;
    if (rc != 0) return rc;
    flags_.Set(UnitTab::kLink, false);
  }

  if (ctx.IsLf()) {
    if (epoch) {
      if (const int rc = link_.Send(cmd::kEpochClear, {}, true); rc != 0) return rc;
      cursor(true);
      pause(kEpochSettleMs);
    }
    if (flags_.Changed(UnitTab::kLf)) {
      if (const int rc = SendLfSetup(); rc != 0) {
        cursor(false);
        operator_.ShowNotice(kLfSetupFailedText);
        return rc;
      }
      configured(kLfConfiguredText);
      flags_.Set(UnitTab::kLf, false);
    }
    if (epoch) {
      ports_.sendEpochTriggers();
      pause(kEpochSettleMs);
      cursor(false);
      flags_.Set(UnitTab::kEpoch, false);
    }
  } else if (ctx.IsHfFamily()) {
    const bool af = ctx.model == kModelAf;
    const bool hfEpoch = epoch && ctx.firmware >= Firmware(1, 4, 0);
    int listFailed = 0;
    if (hfEpoch) {
      if (const int rc = link_.Send(cmd::kEpochClear, {}, true); rc != 0) {
        operator_.ShowNotice(af ? kAfEpochClearFailedText : kHfEpochClearFailedText);
        return rc;
      }
      cursor(true);
    }
    if (flags_.Changed(UnitTab::kHf) || flags_.Changed(UnitTab::kSpecialFeatures)) {
      if (af || ctx.firmware >= Firmware(2, 0, 0)) {
        listFailed = SendSetupParamList();
        if (listFailed == 0)
          configured(af ? kAfConfiguredText : kHfConfiguredText);
        else
          operator_.ShowNotice(kParamListFailedText);
      } else {
        if (const int rc = SendHfSetup(ctx); rc != 0) {
          cursor(false);
          operator_.ShowNotice(kHfSetupFailedText);
          return rc;
        }
        configured(kHfConfiguredText);
      }
      flags_.Set(UnitTab::kHf, false);
      flags_.Set(UnitTab::kSpecialFeatures, false);
    }
    if (hfEpoch) {
      ports_.sendEpochTriggers();
      cursor(false);
      flags_.Set(UnitTab::kEpoch, false);
    }
    // The list's failure was shown; the panel stays open rather than report success.
    if (listFailed != 0) return listFailed;
  }
  panelOpen_ = false;
  return 0;
}

// ---- Panel callbacks -------------------------------------------------------------------

int JobSetupCommands::OpenUnitSetupPanel() {
  if (panelOpen_) return 0;
  const int rc = BeginOpenUnitSetupPanel() ? ReadJobSetup() : 0;
  return rc;
}

bool JobSetupCommands::BeginOpenUnitSetupPanel() {
  if (panelOpen_) return false;
  if (ports_.stopScanning) ports_.stopScanning();
  const SetupContext ctx = Context();
  const UnitTabsShown tabs = UnitSetupTabs(ctx);
  currentTab_ = tabs.initial;
  flags_.Set(currentTab_);
  panelOpen_ = true;
  panel_.SetValue(unitpanel::kOpen, std::int64_t{1});
  const bool listWanted = (ctx.IsLf() && ctx.firmware >= Firmware(2, 4, 0)) ||
                          (ctx.model == kModelHf && ctx.firmware >= Firmware(1, 4, 0)) || ctx.model == kModelAf;
  if (listWanted) link_.Send(cmd::kEpochEnquiry, {}, true);
  if (ports_.setupOpenIndication) ports_.setupOpenIndication(true);
  return ctx.IsLf() || ctx.IsHfFamily();
}

int JobSetupCommands::ApplySetupCallback(bool rateConfirmed) {
  const int rc = ApplyUnitSetup(rateConfirmed);
  if (rc == 0) {
    flags_.ClearAll();
    panel_.SetValue(unitpanel::kOpen, std::int64_t{0});
    if (ports_.setupOpenIndication) ports_.setupOpenIndication(false);
  } else {
    flags_.Set(currentTab_);
  }
  return rc;
}

void JobSetupCommands::CancelJobSetup() {
  flags_.ClearAll();
  panelOpen_ = false;
  panel_.SetValue(unitpanel::kOpen, std::int64_t{0});
  if (ports_.setupOpenIndication) ports_.setupOpenIndication(false);
}

void JobSetupCommands::TabChanged(UnitTab tab) {
  currentTab_ = tab;
  flags_.Set(tab);
}

int JobSetupCommands::SendJobEnquireCallback(UnitTab pressedOn) {
  return ConfirmEnquiry(pressedOn) ? ReadJobSetup() : 1;
}

bool JobSetupCommands::ConfirmEnquiry(UnitTab pressedOn) {
  const std::vector<std::string> buttons = {"Continue", "Cancel"};
  if (pressedOn == UnitTab::kHf && flags_.Changed(UnitTab::kSpecialFeatures)) {
    if (operator_.Confirm("Confirm", kResetSpecialFeaturesText, buttons) != 0) return false;
    flags_.Set(UnitTab::kSpecialFeatures, false);
  } else if (pressedOn == UnitTab::kSpecialFeatures && flags_.Changed(UnitTab::kHf)) {
    if (operator_.Confirm("Confirm", kResetAurisondSetupText, buttons) != 0) return false;
    flags_.Set(UnitTab::kHf, false);
  }
  return true;
}

void JobSetupCommands::SendEpochEnquireCallback() {
  const SetupContext ctx = Context();
  if ((ctx.IsLf() && ctx.firmware >= Firmware(2, 4, 1)) || (ctx.IsHfFamily() && ctx.firmware >= Firmware(1, 4, 1)))
    link_.Send(cmd::kEpochEnquiry, {}, true);
}

// ---- Setup files ----------------------------------------------------------------------

std::filesystem::path JobSetupCommands::SetupFileFolder() const {
  if (setupFileFolder_) return *setupFileFolder_;
  return ports_.dataFolder ? ports_.dataFolder() : std::filesystem::path{};
}

int JobSetupCommands::SaveHfSetupFile() {
  auto chosen = operator_.ChooseFile("Save Setup File", SetupFileFolder(), "*.cfg", true);
  if (!chosen || chosen->empty()) return 1;
  if (!chosen->has_extension()) chosen->replace_extension(".cfg");
  setupFileFolder_ = chosen->parent_path();
  const SetupContext ctx = Context();
  Notices notices;
  bool written = false;
  JobSetup copy;
  {
    std::lock_guard guard(lock_);
    written = WriteSetupFile(*chosen, setup_, ctx, notices);
    ApplyPanelRules(setup_, ctx);
    copy = setup_;
  }
  // Saving applies the corrections a send would, so the panel shows what the file holds.
  Publish(copy, ctx);
  ShowAll(notices);
  return written ? 0 : -1;
}

int JobSetupCommands::LoadHfSetupFile() {
  const auto chosen = operator_.ChooseFile("Load Setup File", SetupFileFolder(), "*.cfg", false);
  if (!chosen || chosen->empty()) return 1;
  setupFileFolder_ = chosen->parent_path();
  const SetupContext ctx = Context();
  const std::uint32_t now = Now();
  Notices notices;
  JobSetup copy;
  {
    std::lock_guard guard(lock_);
    ReadSetupFile(*chosen, setup_, ctx, notices, now);
    ApplyPanelRules(setup_, ctx);
    copy = setup_;
  }
  Publish(copy, ctx);
  ShowAll(notices);
  // A loaded setup is meant to be applied, also the sync pin of the special-features tab.
  flags_.Set(UnitTab::kHf);
  return 0;
}

}  // namespace hylo::setup

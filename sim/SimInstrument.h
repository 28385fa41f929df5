#pragma once
// The instrument behind the command link: answers one command frame at a time. Transport-free,
// so the TCP link, the pty and the tests all drive the same logic.
#include <cstdint>
#include <optional>
#include <vector>

#include "SimFileSystem.h"
#include "SimFrameParser.h"
#include "SimIdentity.h"
#include "SimOptions.h"
#include "SimScene.h"
#include "SimSetupStore.h"

namespace hylo::sim {

struct SimReply {
  char letter = 0;
  std::vector<std::uint8_t> payload;
};

struct SimAction {
  std::vector<SimReply> replies;
  bool reboot = false;                // "Y": drop the link and come back later
  bool stopStreams = false;           // "Q"
  bool setupChanged = false;          // "D" stored a new setup
  std::optional<std::uint32_t> baud;  // "B" with a new rate
};

struct SimEpochTrigger {
  std::vector<std::uint8_t> record;  // 16 (LF) or 24 bytes (HF family)
};

class SimInstrument {
 public:
  explicit SimInstrument(const SimOptions& options);
  SimInstrument(const SimInstrument&) = delete;  // its identity refers to its own options
  SimInstrument& operator=(const SimInstrument&) = delete;

  SimAction Handle(const SimFrame& frame);

  SimSetupStore& Setup() { return setup_; }
  const SimSetupStore& Setup() const { return setup_; }
  const SimOptions& Options() const { return o_; }
  // One line to stderr and to the command log: the clock and unit enquiries and stream starts.
  void LogCommand(const std::string& line) const;
  const std::vector<SimEpochTrigger>& EpochTriggers() const { return triggers_; }
  // Changes whenever the trigger list changes, so watchers can restart their trigger states.
  std::uint64_t TriggerGeneration() const { return triggerGeneration_; }

  std::uint32_t Now() const;  // instrument clock, seconds since 1970
  std::uint32_t Baud() const { return baud_; }

  // Status-reply content for a request mask.
  std::vector<std::uint8_t> StatusReply(std::uint16_t mask);

  static constexpr std::size_t kMaxTriggers = 5;

 private:
  std::uint8_t AddTrigger(const std::vector<std::uint8_t>& record);
  std::vector<std::uint8_t> FftBlock();
  std::vector<std::uint8_t> WaveBlock();

  const SimOptions o_;  // a copy: callers may pass a temporary
  SimIdentity identity_;
  SimSetupStore setup_;
  std::optional<SimFileSystem> files_;  // with --storage
  std::int64_t clockOffset_ = 0;
  std::uint32_t baud_;
  std::vector<SimEpochTrigger> triggers_;
  std::uint64_t triggerGeneration_ = 0;
  // Data carried in status replies comes from its own copy of the scene.
  SimScene statusScene_;
  std::uint16_t waveBlockIndex_ = 0;
  std::uint16_t fftRecordIndex_ = 0;
  std::uint32_t lastWaveTime_ = 0;
  std::uint32_t lastWaveStart_ = 0;
  std::uint32_t lastFftTime_ = 0;
};

}  // namespace hylo::sim

#pragma once
// Message types carried by message nodes between worker threads.
#include <cstddef>
#include <cstdint>

namespace hylo {

enum MessageType : std::int32_t {
  MSG_SPECTRUM = 0,
  MSG_WAVEFORM = 1,
  MSG_REFERENCE = 2,
  MSG_FILE_OP = 3,
  MSG_WAVE_STREAM_BYTES = 4,
  MSG_FFT_STREAM_BYTES = 5,
  MSG_STATUS_STREAM_BYTES = 6,
  MSG_QUIT = 7,
  MSG_RESET_CHARTS = 8,
  MSG_SEND_COMMAND = 9,
  MSG_REPLY_FRAME = 10,
  MSG_SET_PERIOD = 12,
  MSG_REFRESH = 13,
  MSG_REPLAY_STEP = 14,
  MSG_TEXT = 15,
  MSG_TRIGGER_CONFIG = 16,
  MSG_STATUS_LEDS = 17,
  MSG_EPOCH_LOG_SETTING = 18,
  MSG_SPECTRUM_REPLAYED = 19,
  MSG_CANCEL_COMMANDS = 20,
  MSG_RESET_COUNTER = 21,
  MSG_REPLAY_START = 22,
  MSG_REPLAY_STOP = 23,
  MSG_REPLAY_NEXT = 24,
  MSG_CONNECT_REQUEST = 25,
  MSG_FORGET_UNITS = 26,
  MSG_FFT_DISPLAY = 27,
  MSG_DISPLAY_SETUP = 28,
  MSG_PEAK_MODE = 29,
  MSG_WAVE_TAIL = 30,  // at Stop: the wave ring's last partial second, then the logs close
  MSG_RESET_PROCESSING = 31,
  MSG_BARRIER = 32,  // counted by the worker loop: everything queued before it has been handled
  MSG_FTP_JOB = 33,
  MSG_IMPULSE = 34,
  MSG_REPLAY_FILE = 35,  // the replayed file the records after it come from; empty: live data again
};

// A replayed file's name in a MSG_REPLAY_FILE payload, its terminator included.
inline constexpr std::size_t kReplayNameBytes = 260;

// Data records are the only messages that scanning pause and stop hold or drop.
constexpr bool IsDataRecord(std::int32_t type) { return type == MSG_SPECTRUM || type == MSG_WAVEFORM; }
// Messages laid out as a waveform record, whose first member is a sample-buffer reference.
constexpr bool CarriesSampleBuffer(std::int32_t type) { return type == MSG_WAVEFORM || type == MSG_WAVE_TAIL; }

}  // namespace hylo

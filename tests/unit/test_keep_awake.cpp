// The sleep lock against a real D-Bus daemon started for the test, with a stand-in logind on it
// (the machine's own logind, where there is one, is never asked).
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <systemd/sd-bus.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <sstream>
#include <thread>

#include "platform/KeepAwake.h"
#include "support/RunTool.h"

namespace {

using hylo::platform::KeepAwake;

struct StandInLogind {
  std::string what, who, mode;
  int lockRead = -1;  // our end of the lock handed out; EOF once every holder closed theirs
  std::atomic<int> calls{0};

  static int Inhibit(sd_bus_message* m, void* self, sd_bus_error*) {
    auto& s = *static_cast<StandInLogind*>(self);
    const char *what = nullptr, *who = nullptr, *why = nullptr, *mode = nullptr;
    if (sd_bus_message_read(m, "ssss", &what, &who, &why, &mode) < 0) return -EINVAL;
    s.what = what, s.who = who, s.mode = mode;
    int p[2];
    if (pipe(p) != 0) return -errno;
    s.lockRead = p[0];
    ++s.calls;  // before the reply: the caller checks it as soon as the reply is in
    const int r = sd_bus_reply_method_return(m, "h", p[1]);
    close(p[1]);  // the reply carries its own copy
    return r;
  }
};

const sd_bus_vtable kManager[] = {
    SD_BUS_VTABLE_START(0),
    SD_BUS_METHOD("Inhibit", "ssss", "h", StandInLogind::Inhibit, SD_BUS_VTABLE_UNPRIVILEGED),
    SD_BUS_VTABLE_END,
};

bool ClosedByEveryHolder(int fd) {
  pollfd p{fd, POLLIN, 0};
  if (poll(&p, 1, 2000) != 1) return false;
  char c;
  return read(fd, &c, 1) == 0;
}

TEST(KeepAwake, HoldsALogindSleepLockUntilReleased) {
  if (!hylo::test::HaveTool("dbus-daemon")) GTEST_SKIP() << "dbus-daemon is not installed";
  const auto started = hylo::test::RunTool("dbus-daemon --session --fork --print-address=1 --print-pid=1");
  std::istringstream lines(started.output);
  std::string address;
  pid_t daemon = 0;
  lines >> address >> daemon;
  ASSERT_TRUE(address.starts_with("unix:") && daemon > 0) << started.output;
  setenv("DBUS_SYSTEM_BUS_ADDRESS", address.c_str(), 1);

  sd_bus* bus = nullptr;
  ASSERT_GE(sd_bus_new(&bus), 0);
  sd_bus_set_address(bus, address.c_str());
  sd_bus_set_bus_client(bus, 1);
  ASSERT_GE(sd_bus_start(bus), 0);
  StandInLogind logind;
  sd_bus_slot* slot = nullptr;
  ASSERT_GE(sd_bus_add_object_vtable(bus, &slot, "/org/freedesktop/login1", "org.freedesktop.login1.Manager", kManager,
                                     &logind),
            0);
  ASSERT_GE(sd_bus_request_name(bus, "org.freedesktop.login1", 0), 0);
  std::atomic<bool> stop{false};
  std::thread serve([&] {
    while (!stop) {
      if (sd_bus_process(bus, nullptr) > 0) continue;
      sd_bus_wait(bus, 50'000);
    }
  });

  {
    KeepAwake awake;
    awake.Acquire();
    awake.Acquire();  // one request however often it is asked
    EXPECT_TRUE(awake.Inhibiting()) << awake.LastError();
    EXPECT_EQ(logind.calls.load(), 1);
    EXPECT_EQ(logind.what, "sleep:idle");
    EXPECT_EQ(logind.who, "Hylo");
    EXPECT_EQ(logind.mode, "block");
    awake.Release();
    EXPECT_FALSE(awake.Held());
    EXPECT_TRUE(ClosedByEveryHolder(logind.lockRead)) << "the lock outlived Release";
    close(logind.lockRead);

    awake.Acquire();  // held again after a release; the destructor lets go
    EXPECT_EQ(logind.calls.load(), 2);
  }
  EXPECT_TRUE(ClosedByEveryHolder(logind.lockRead)) << "the lock outlived its holder";
  close(logind.lockRead);

  stop = true;
  serve.join();
  sd_bus_slot_unref(slot);
  sd_bus_flush_close_unref(bus);
  kill(daemon, SIGTERM);
}

TEST(KeepAwake, WithoutASystemBusItHoldsNothingAndSaysWhy) {
  setenv("DBUS_SYSTEM_BUS_ADDRESS", "unix:path=/nonexistent/hylo-test-bus", 1);
  KeepAwake awake;
  awake.Acquire();
  EXPECT_TRUE(awake.Held());
  EXPECT_FALSE(awake.Inhibiting());
  EXPECT_NE(awake.LastError().find("no system bus"), std::string::npos) << awake.LastError();
  awake.Release();
}

}  // namespace

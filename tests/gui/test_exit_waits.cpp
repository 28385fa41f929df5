// Exit never hangs on a wait: quitting during a connect to a unit that never answers.
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QApplication>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <thread>
#include <vector>

#include "ConnectionPanel.h"
#include "MainWindow.h"
#include "support/GuiContext.h"
#include "support/SimProcess.h"

using namespace hylo;

namespace {

// A loopback listener that accepts connections and never says a word.
class SilentUnit {
 public:
  SilentUnit() {
    fd_ = socket(AF_INET, SOCK_STREAM, 0);
    auto address = test::Loopback(0);
    socklen_t length = sizeof address;
    if (bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || listen(fd_, 8) != 0) return;
    getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &length);
    port_ = ntohs(address.sin_port);
    acceptor_ = std::thread([this] {
      while (!stop_) {
        pollfd p{fd_, POLLIN, 0};
        if (poll(&p, 1, 100) > 0) {
          const int client = accept(fd_, nullptr, nullptr);
          if (client >= 0) {
            clients_.push_back(client);
            ++accepted_;
          }
        }
      }
    });
  }
  ~SilentUnit() {
    stop_ = true;
    if (acceptor_.joinable()) acceptor_.join();
    for (int c : clients_) close(c);
    close(fd_);
  }
  int Port() const { return port_; }
  int Accepted() const { return accepted_; }

 private:
  int fd_ = -1;
  int port_ = 0;
  std::atomic<bool> stop_{false};
  std::atomic<int> accepted_{0};
  std::vector<int> clients_;  // acceptor thread only, until joined
  std::thread acceptor_;
};

}  // namespace

TEST(ExitGui, ExitDuringAConnectToAUnitThatNeverAnswersReturns) {
  SilentUnit unit;
  ASSERT_GT(unit.Port(), 0);
  test::GuiContext gui;
  Hylo& hylo = *gui.hylo;
  ASSERT_EQ(hylo.Start(), 0);
  app::MainWindow window(hylo);
  app::ConnectionPanel panel(hylo);
  window.show();
  hylo.RecordUiThread();
  gui.notices.Open();

  panel.LinkType()->setCurrentIndex(panel.LinkType()->findText("Ethernet"));
  panel.Address()->setText("127.0.0.1");
  panel.Port()->setValue(unit.Port());
  panel.TcpTimeout()->setValue(20000);  // each identify attempt would wait 20 s
  panel.ConnectButton()->click();
  ASSERT_TRUE(test::PumpUntil([&] { return unit.Accepted() > 0; }, 15000)) << "the connect reached the listener";
  QCoreApplication::processEvents(QEventLoop::AllEvents, 200);  // the identify is on its way

  std::atomic<bool> exited{false};
  std::thread watchdog([&] {
    for (int i = 0; i < 100 && !exited; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(100));
    if (!exited) {
      std::fprintf(stderr, "exit did not return within 10 s\n");
      std::abort();
    }
  });
  window.close();  // the exit control
  exited = true;
  watchdog.join();
  EXPECT_TRUE(hylo.Exiting());
  EXPECT_EQ(hylo.Threads().AbandonedThreads(), 0) << "every thread ended: none was left waiting";
  gui.notices.Close();
}

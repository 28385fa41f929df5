#pragma once
// The FTP server of HF and AF units from v2.0.0: a pyftpdlib child process rooted at the
// storage folder, on the control port the port base gives, with the home, data and update
// folders made at start. On "Y" the unit acts on what was uploaded: an update package is
// applied (taken away, the logged data cleared), the clean-data trigger clears the data.
#include <sys/types.h>

#include <string>
#include <vector>

#include "SimOptions.h"

namespace hylo::sim {

class SimFtpServer {
 public:
  explicit SimFtpServer(const SimOptions& options) : o_(options) {}
  ~SimFtpServer() { Stop(); }
  SimFtpServer(const SimFtpServer&) = delete;
  SimFtpServer& operator=(const SimFtpServer&) = delete;

  // Starts the child and waits for it to listen; throws when it cannot.
  void Start();
  void Stop();
  int Port() const { return port_; }

 private:
  const SimOptions& o_;
  pid_t pid_ = -1;
  int port_ = 0;
};

// What the unit does with its storage when it reboots; one line per action, for the log.
std::vector<std::string> ApplyUploadsOnReboot(const std::string& storage);

}  // namespace hylo::sim

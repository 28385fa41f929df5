#pragma once
// A passive-mode FTP client on one control connection (libcurl underneath): log in, change
// folder, make a folder, delete, a raw listing command with its data, retrieve and store with
// the data handed over in pieces. Every operation says whether it succeeded; Error() says why
// not. Paths are absolute remote paths; a path or command holding CR, LF or NUL is refused.
#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>

namespace hylo::platform {

class FtpClient {
 public:
  // Pieces arriving on the data connection; false stops the transfer (it then fails).
  using Sink = std::function<bool(std::span<const char>)>;
  // Fills the span with the next piece; 0 at the end; kStop to abort the transfer.
  using Source = std::function<std::size_t(std::span<char>)>;
  static constexpr std::size_t kStop = static_cast<std::size_t>(-1);

  struct Options {
    std::chrono::milliseconds connectTimeout{5000};
    std::chrono::milliseconds replyTimeout{10000};
    // A transfer slower than one byte a second for this long has failed.
    std::chrono::seconds stallTime{15};
  };

  // `cancel` (may be null) aborts a running transfer when it becomes true.
  FtpClient(std::string host, std::uint16_t port, const std::atomic<bool>* cancel);
  FtpClient(std::string host, std::uint16_t port, const std::atomic<bool>* cancel, Options options);
  ~FtpClient();
  FtpClient(const FtpClient&) = delete;
  FtpClient& operator=(const FtpClient&) = delete;

  // Empty user name and password, passive mode.
  bool Login();
  void Close();
  bool LoggedIn() const { return loggedIn_; }

  bool ChangeDir(const std::string& path);
  // An existing folder counts as made.
  bool MakeDir(const std::string& path);
  // `evenWhenCancelled`: the clean-up after a cancelled upload, which the cancel must not stop.
  bool Delete(const std::string& path, bool evenWhenCancelled = false);
  // A command that answers on the data connection, such as "LIST /home".
  bool Command(const std::string& command, const Sink& sink);
  bool Retrieve(const std::string& path, const Sink& sink);
  bool Store(const std::string& path, std::uint64_t size, const Source& source);

  const std::string& Error() const { return error_; }
  // True when the last failure came from the cancel flag or a callback's stop.
  bool Stopped() const { return stopped_; }

 private:
  struct Curl;
  bool Perform(const std::string& what, bool honourCancel = true);
  bool Quote(const std::string& command, bool honourCancel = true);
  std::string Url(const std::string& path) const;

  std::string host_;
  std::uint16_t port_;
  const std::atomic<bool>* cancel_;
  Options options_;
  std::unique_ptr<Curl> curl_;
  bool loggedIn_ = false;
  bool stopped_ = false;
  std::string error_;
};

// Text that may travel in one FTP command line.
bool FtpSafeText(std::string_view text);

}  // namespace hylo::platform

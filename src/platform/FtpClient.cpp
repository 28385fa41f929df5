#include "platform/FtpClient.h"

#include <curl/curl.h>

#include <mutex>
#include <utility>

namespace hylo::platform {
namespace {

void GlobalInit() {
  static std::once_flag once;
  std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

struct SinkCall {
  const FtpClient::Sink* sink;
  bool stopped = false;
};

struct SourceCall {
  const FtpClient::Source* source;
  bool stopped = false;
};

std::size_t OnData(char* data, std::size_t size, std::size_t count, void* user) {
  auto* call = static_cast<SinkCall*>(user);
  const std::size_t n = size * count;
  if (call->sink && *call->sink && !(*call->sink)(std::span<const char>(data, n))) {
    call->stopped = true;
    return 0;  // anything short of n ends the transfer
  }
  return n;
}

std::size_t OnRead(char* data, std::size_t size, std::size_t count, void* user) {
  auto* call = static_cast<SourceCall*>(user);
  const std::size_t n = (*call->source)(std::span<char>(data, size * count));
  if (n == FtpClient::kStop || n > size * count) {
    call->stopped = true;
    return CURL_READFUNC_ABORT;
  }
  return n;
}

int OnProgress(void* user, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
  const auto* cancel = static_cast<const std::atomic<bool>*>(user);
  return cancel && cancel->load() ? 1 : 0;
}

std::size_t Discard(char*, std::size_t size, std::size_t count, void*) { return size * count; }

}  // namespace

bool FtpSafeText(std::string_view text) { return text.find_first_of(std::string_view("\r\n\0", 3)) == text.npos; }

struct FtpClient::Curl {
  CURL* handle = nullptr;
  curl_slist* quote = nullptr;
  Curl() : handle(curl_easy_init()) {}
  ~Curl() {
    if (quote) curl_slist_free_all(quote);
    if (handle) curl_easy_cleanup(handle);
  }
  Curl(const Curl&) = delete;
  Curl& operator=(const Curl&) = delete;
};

FtpClient::FtpClient(std::string host, std::uint16_t port, const std::atomic<bool>* cancel)
    : FtpClient(std::move(host), port, cancel, Options{}) {}

FtpClient::FtpClient(std::string host, std::uint16_t port, const std::atomic<bool>* cancel, Options options)
    : host_(std::move(host)), port_(port), cancel_(cancel), options_(options) {
  GlobalInit();
}

FtpClient::~FtpClient() = default;

std::string FtpClient::Url(const std::string& path) const {
  // "%2F" makes the path absolute on the server; every component is escaped on its own.
  std::string url = "ftp://" + host_ + ":" + std::to_string(port_) + "/";
  if (path.empty() || path == "/") return url;
  url += "%2F";
  std::size_t at = path.front() == '/' ? 1 : 0;
  while (at <= path.size()) {
    const auto slash = path.find('/', at);
    const std::string part = path.substr(at, slash == std::string::npos ? std::string::npos : slash - at);
    if (char* escaped = curl_easy_escape(curl_->handle, part.c_str(), static_cast<int>(part.size()))) {
      url += escaped;
      curl_free(escaped);
    }
    if (slash == std::string::npos) break;
    url += '/';
    at = slash + 1;
  }
  return url;
}

bool FtpClient::Perform(const std::string& what, bool honourCancel) {
  CURL* h = curl_->handle;
  curl_easy_setopt(h, CURLOPT_USERNAME, "");
  curl_easy_setopt(h, CURLOPT_PASSWORD, "");
  curl_easy_setopt(h, CURLOPT_FTP_USE_EPSV, 0L);  // plain PASV: what the instrument answers
  curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(h, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(options_.connectTimeout.count()));
  curl_easy_setopt(h, CURLOPT_SERVER_RESPONSE_TIMEOUT, static_cast<long>((options_.replyTimeout.count() + 999) / 1000));
  curl_easy_setopt(h, CURLOPT_LOW_SPEED_LIMIT, 1L);
  curl_easy_setopt(h, CURLOPT_LOW_SPEED_TIME, static_cast<long>(options_.stallTime.count()));
  curl_easy_setopt(h, CURLOPT_NOPROGRESS, 0L);
  curl_easy_setopt(h, CURLOPT_XFERINFOFUNCTION, OnProgress);
  curl_easy_setopt(h, CURLOPT_XFERINFODATA, honourCancel ? const_cast<std::atomic<bool>*>(cancel_) : nullptr);
  char message[CURL_ERROR_SIZE] = {};
  curl_easy_setopt(h, CURLOPT_ERRORBUFFER, message);
  const CURLcode rc = curl_easy_perform(h);
  curl_easy_setopt(h, CURLOPT_ERRORBUFFER, nullptr);
  if (rc == CURLE_OK) return true;
  stopped_ = rc == CURLE_ABORTED_BY_CALLBACK || (honourCancel && cancel_ && cancel_->load());
  error_ = what + ": " + (message[0] ? message : curl_easy_strerror(rc));
  return false;
}

bool FtpClient::Login() {
  Close();
  curl_ = std::make_unique<Curl>();
  if (!curl_->handle) {
    error_ = "FTP: no client available";
    return false;
  }
  stopped_ = false;
  curl_easy_setopt(curl_->handle, CURLOPT_URL, Url("").c_str());
  curl_easy_setopt(curl_->handle, CURLOPT_NOBODY, 1L);
  loggedIn_ = Perform("login");
  return loggedIn_;
}

void FtpClient::Close() {
  curl_.reset();
  loggedIn_ = false;
}

bool FtpClient::Quote(const std::string& command, bool honourCancel) {
  if (!curl_) {
    error_ = "FTP: not logged in";
    return false;
  }
  if (!FtpSafeText(command)) {
    error_ = "FTP: refused a command with a line break or NUL";
    return false;
  }
  stopped_ = false;
  curl_easy_reset(curl_->handle);
  if (curl_->quote) curl_slist_free_all(curl_->quote);
  curl_->quote = curl_slist_append(nullptr, command.c_str());
  curl_easy_setopt(curl_->handle, CURLOPT_URL, Url("").c_str());
  curl_easy_setopt(curl_->handle, CURLOPT_NOBODY, 1L);
  curl_easy_setopt(curl_->handle, CURLOPT_QUOTE, curl_->quote);
  const bool ok = Perform(command.substr(0, command.find(' ')), honourCancel);
  curl_easy_setopt(curl_->handle, CURLOPT_QUOTE, nullptr);
  return ok;
}

// As a folder URL rather than a quoted CWD: a refused CWD then leaves the control connection
// in use, where a failed quote command makes libcurl drop it.
bool FtpClient::ChangeDir(const std::string& path) {
  if (!curl_ || !FtpSafeText(path)) {
    error_ = curl_ ? "FTP: refused a path with a line break or NUL" : "FTP: not logged in";
    return false;
  }
  std::string folder = path;
  while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
  stopped_ = false;
  CURL* h = curl_->handle;
  curl_easy_reset(h);
  curl_easy_setopt(h, CURLOPT_URL, (Url(folder) + (folder == "/" ? "" : "/")).c_str());
  curl_easy_setopt(h, CURLOPT_FTP_FILEMETHOD, static_cast<long>(CURLFTPMETHOD_SINGLECWD));
  curl_easy_setopt(h, CURLOPT_NOBODY, 1L);
  return Perform("CWD");
}

bool FtpClient::MakeDir(const std::string& path) {
  if (Quote("MKD " + path)) return true;
  const std::string why = error_;
  if (!stopped_ && ChangeDir(path)) return true;
  error_ = why;
  return false;
}

bool FtpClient::Delete(const std::string& path, bool evenWhenCancelled) {
  return Quote("DELE " + path, !evenWhenCancelled);
}

bool FtpClient::Command(const std::string& command, const Sink& sink) {
  if (!curl_ || !FtpSafeText(command)) {
    error_ = curl_ ? "FTP: refused a command with a line break or NUL" : "FTP: not logged in";
    return false;
  }
  stopped_ = false;
  SinkCall call{&sink};
  CURL* h = curl_->handle;
  curl_easy_reset(h);
  curl_easy_setopt(h, CURLOPT_URL, Url("").c_str());
  curl_easy_setopt(h, CURLOPT_CUSTOMREQUEST, command.c_str());
  curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, OnData);
  curl_easy_setopt(h, CURLOPT_WRITEDATA, &call);
  const bool ok = Perform(command.substr(0, command.find(' ')));
  stopped_ = stopped_ || call.stopped;
  return ok;
}

bool FtpClient::Retrieve(const std::string& path, const Sink& sink) {
  if (!curl_ || !FtpSafeText(path)) {
    error_ = curl_ ? "FTP: refused a path with a line break or NUL" : "FTP: not logged in";
    return false;
  }
  stopped_ = false;
  SinkCall call{&sink};
  CURL* h = curl_->handle;
  curl_easy_reset(h);
  curl_easy_setopt(h, CURLOPT_URL, Url(path).c_str());
  curl_easy_setopt(h, CURLOPT_FTP_FILEMETHOD, static_cast<long>(CURLFTPMETHOD_NOCWD));
  curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, OnData);
  curl_easy_setopt(h, CURLOPT_WRITEDATA, &call);
  const bool ok = Perform("RETR");
  stopped_ = stopped_ || call.stopped;
  return ok;
}

bool FtpClient::Store(const std::string& path, std::uint64_t size, const Source& source) {
  if (!curl_ || !FtpSafeText(path)) {
    error_ = curl_ ? "FTP: refused a path with a line break or NUL" : "FTP: not logged in";
    return false;
  }
  stopped_ = false;
  SourceCall call{&source};
  CURL* h = curl_->handle;
  curl_easy_reset(h);
  curl_easy_setopt(h, CURLOPT_URL, Url(path).c_str());
  curl_easy_setopt(h, CURLOPT_FTP_FILEMETHOD, static_cast<long>(CURLFTPMETHOD_NOCWD));
  curl_easy_setopt(h, CURLOPT_UPLOAD, 1L);
  curl_easy_setopt(h, CURLOPT_INFILESIZE_LARGE, static_cast<curl_off_t>(size));
  curl_easy_setopt(h, CURLOPT_READFUNCTION, OnRead);
  curl_easy_setopt(h, CURLOPT_READDATA, &call);
  curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, Discard);
  const bool ok = Perform("STOR");
  stopped_ = stopped_ || call.stopped;
  return ok;
}

}  // namespace hylo::platform

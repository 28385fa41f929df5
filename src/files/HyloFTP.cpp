#include "files/HyloFTP.h"

#include <algorithm>
#include <fstream>

#include "platform/LogFile.h"

namespace hylo::files {
namespace {

constexpr std::size_t kPiece = 1048576;  // the most handed over in one step
constexpr std::size_t kListCap = 64u << 20;

std::string Trimmed(std::string path) {
  std::string out;
  for (char c : path)
    if (c != '/' || out.empty() || out.back() != '/') out += c;
  while (out.size() > 1 && out.back() == '/') out.pop_back();
  return out;
}

std::string LastComponent(const std::string& path) {
  const std::string t = Trimmed(path);
  const auto slash = t.rfind('/');
  return slash == std::string::npos ? t : t.substr(slash + 1);
}

bool HasLogExtension(const std::string& name) {
  return name.find(".wav") != std::string::npos || name.find(".txt") != std::string::npos;
}

}  // namespace

namespace ftp {

std::string DownloadFailed(std::size_t retrieved, std::size_t total) {
  return "Download Failed: " + std::to_string(retrieved) + " of " + std::to_string(total) + " Files Retrieved";
}

Progress FtpProgress(const std::string& name, std::uint64_t done, std::uint64_t total) {
  if (total == 0) return {name, 0, {}};
  const int percent = static_cast<int>(std::min<std::uint64_t>(100, done * 100 / total));
  return {name, percent, std::to_string(done / 1000000) + " / " + std::to_string(total / 1000000) + " MB"};
}

std::optional<std::uint16_t> FtpControlPort(int portBase) {
  const long port = portBase == 0 ? 21L : 2021L + portBase;
  if (port <= 0 || port > 65535) return std::nullopt;
  return static_cast<std::uint16_t>(port);
}

bool IsHomeFolder(std::string_view path) { return Trimmed(std::string(path)) == "/home/Aurisond"; }

}  // namespace ftp

HyloFTP::HyloFTP(std::string host, std::uint16_t port, Reboot reboot)
    : HyloFTP(std::move(host), port, std::move(reboot), platform::FtpClient::Options{}) {}

HyloFTP::HyloFTP(std::string host, std::uint16_t port, Reboot reboot, platform::FtpClient::Options options)
    : client_(std::move(host), port, &cancel_, options), reboot_(std::move(reboot)) {}

FilesResult HyloFTP::Failure(std::string_view what) {
  if (client_.Stopped() && Cancelled()) return {{}, true};
  return FilesResult::Fail(std::string(what) + (client_.Error().empty() ? "" : " (" + client_.Error() + ")"));
}

bool HyloFTP::EnsureLogin(FilesResult& failure) {
  if (client_.LoggedIn() || client_.Login()) return true;
  failure = Failure(ftp::kLoginFailed);
  return false;
}

bool HyloFTP::Relogin() { return client_.Login(); }

void HyloFTP::Tick(const std::string& name) { Report(ftp::FtpProgress(name, transferred_.load(), total_.load())); }

FilesResult HyloFTP::List(const std::string& folder, bool, std::vector<RemoteEntry>& out) {
  out.clear();
  const std::string at = Trimmed(folder);
  if (at.empty() || at == "/") {
    out.push_back({"/home/Aurisond", "Aurisond", -1, true, {}});
    return {};
  }
  FilesResult failure;
  if (!EnsureLogin(failure)) return failure;
  if (!client_.ChangeDir(at)) return Failure("Error: cannot open the folder " + at);
  std::string reply;
  bool tooLong = false;
  const bool ok = client_.Command("LIST " + at, [&](std::span<const char> piece) {
    if (reply.size() + piece.size() > kListCap) {
      tooLong = true;
      return false;
    }
    reply.append(piece.data(), piece.size());
    return !Cancelled();
  });
  if (tooLong) return FilesResult::Fail("Error: the listing of " + at + " is too long");
  if (!ok) return Failure("Error: cannot list the folder " + at);
  for (auto& e : ParseListing(reply)) {
    if (!e.refusal.empty()) {
      out.push_back({at + "/?", e.name, -1, false, e.refusal});
      continue;
    }
    const std::int64_t size = !e.folder && e.size ? static_cast<std::int64_t>(*e.size) : -1;
    out.push_back({at + "/" + e.name, e.name, size, e.folder, {}});
  }
  return {};
}

FilesResult HyloFTP::Retrieve(const std::string& remoteFile, const std::filesystem::path& localFile,
                              std::uint64_t& bytes) {
  const std::string remote = Trimmed(remoteFile);
  const std::string name = LastComponent(remote);
  if (!PlainRemoteName(name) || !platform::FtpSafeText(remote))
    return FilesResult::Fail("Error: unusable name \"" + name + "\"");
  FilesResult failure;
  if (!EnsureLogin(failure)) return failure;
  // The size for the progress line; a LIST that fails costs this file and a fresh login.
  std::string listed;
  const bool listOk = client_.Command("LIST " + remote, [&](std::span<const char> piece) {
    if (listed.size() < kMaxListLine + 2)
      listed.append(piece.data(), std::min(piece.size(), kMaxListLine + 2 - listed.size()));
    return !Cancelled();
  });
  if (!listOk) {
    FilesResult r = Failure("Error: cannot list " + remote);
    if (!r.cancelled && !Relogin()) r.error += "; the instrument's FTP server does not take a new login";
    return r;
  }
  const std::uint64_t size = ListedSize(listed).value_or(0);
  transferred_ = 0;
  total_ = size;

  std::error_code ec;
  if (localFile.has_parent_path()) std::filesystem::create_directories(localFile.parent_path(), ec);
  // Written under a side name that becomes the file's own only when whole.
  std::filesystem::path part = localFile;
  part += ".part";
  int error = 0;
  platform::LogFile out = platform::LogFile::OpenForAppend(part, true, error);
  if (!out.IsOpen())
    return FilesResult::Fail("ERROR: Failed to write local file.\nPlease verify local path and try again.");
  bool localFailed = false;
  std::uint64_t got = 0;
  std::uint64_t lastShown = 0;
  Tick(name);
  const bool ok = client_.Retrieve(remote, [&](std::span<const char> piece) {
    if (Cancelled()) return false;
    for (std::size_t at = 0; at < piece.size(); at += kPiece) {
      const auto n = std::min(kPiece, piece.size() - at);
      const auto w = out.Write(std::span(reinterpret_cast<const std::uint8_t*>(piece.data() + at), n));
      if (w.error != 0 || w.written != n) {
        localFailed = true;
        return false;
      }
    }
    got += piece.size();
    transferred_ = got;
    if (got - lastShown >= (1u << 18)) {
      lastShown = got;
      Tick(name);
    }
    return true;
  });
  const int closed = out.Close();
  auto drop = [&](FilesResult r) {
    std::filesystem::remove(part, ec);
    return r;
  };
  if (localFailed || closed != 0)
    return drop(FilesResult::Fail("ERROR: Failed to write local file.\nPlease verify local path and try again."));
  if (!ok) return drop(Failure("Error: transfer of " + remote + " failed"));
  if (size != 0 && got != size)
    return drop(FilesResult::Fail("Error: " + remote + " arrived with " + std::to_string(got) + " of " +
                                  std::to_string(size) + " bytes"));
  std::filesystem::rename(part, localFile, ec);
  if (ec) return drop(FilesResult::Fail("ERROR: Failed to write local file.\nPlease verify local path and try again."));
  Tick(name);
  bytes += got;
  return {};
}

DownloadSummary HyloFTP::RetrieveNames(const std::vector<std::string>& names,
                                       const std::filesystem::path& localFolder) {
  DownloadSummary s;
  s.total = names.size();
  FilesResult failure;
  if (!EnsureLogin(failure)) {
    s.loginLost = true;
    return s;
  }
  for (const auto& n : names) {
    if (Cancelled()) {
      s.cancelled = true;
      break;
    }
    if (platform::FtpSafeText(n) && client_.ChangeDir(n)) {  // a folder: its files are named on their own
      --s.total;
      continue;
    }
    const std::string base = LastComponent(n);
    if (!PlainRemoteName(base)) continue;  // names no place on this PC: counted as not retrieved
    std::uint64_t bytes = 0;
    const FilesResult r = Retrieve(n, localFolder / base, bytes);
    if (r.Ok()) {
      ++s.retrieved;
    } else if (r.cancelled) {
      s.cancelled = true;
      break;
    } else if (!client_.LoggedIn()) {
      s.loginLost = true;
      break;
    }
  }
  if (!s.cancelled)
    s.message = s.retrieved == s.total ? std::string(ftp::kDownloadDone) : ftp::DownloadFailed(s.retrieved, s.total);
  return s;
}

FilesResult HyloFTP::Delete(const std::string& remote) {
  if (ftp::IsHomeFolder(remote)) return FilesResult::Fail(std::string(ftp::kHomeRefused));
  const std::string path = Trimmed(remote);
  if (!PlainRemoteName(LastComponent(path)) || !platform::FtpSafeText(path))
    return FilesResult::Fail("Error: unusable name \"" + LastComponent(path) + "\"");
  FilesResult failure;
  if (!EnsureLogin(failure)) return failure;
  if (!HasLogExtension(LastComponent(path)) && client_.ChangeDir(path))
    return FilesResult::Fail(std::string(ftp::kFolderNotDeleted));
  if (!client_.Delete(path)) return Failure("Error: cannot delete " + path);
  return {};
}

FilesResult HyloFTP::Upload(const std::filesystem::path& local, const std::string& remote) {
  std::ifstream in(local, std::ios::binary);
  std::error_code ec;
  const auto size = std::filesystem::file_size(local, ec);
  if (!in || ec) return FilesResult::Fail("Error: cannot read " + local.string());
  FilesResult failure;
  if (!EnsureLogin(failure)) return failure;
  const std::string name = local.filename().string();
  transferred_ = 0;
  total_ = size;
  Tick(name);
  bool readFailed = false;
  const bool ok = client_.Store(remote, size, [&](std::span<char> into) -> std::size_t {
    if (Cancelled()) return platform::FtpClient::kStop;
    in.read(into.data(), static_cast<std::streamsize>(std::min(into.size(), kPiece)));
    const auto n = static_cast<std::size_t>(in.gcount());
    if (n == 0 && !in.eof()) {
      readFailed = true;
      return platform::FtpClient::kStop;
    }
    transferred_ += n;
    Tick(name);
    return n;
  });
  if (readFailed) return FilesResult::Fail("Error: cannot read " + local.string());
  if (!ok) return Failure("Error: upload of " + name + " failed");
  if (transferred_.load() != size) return FilesResult::Fail("Error: " + local.string() + " changed while it was sent");
  return {};
}

FilesResult HyloFTP::AfterUpload(FilesResult r, const std::string& remote, std::string_view done) {
  if (!r.Ok()) {
    // What arrived of it must not be taken for a whole package or trigger.
    if (!client_.LoggedIn()) Relogin();
    client_.Delete(remote, true);
    return r;
  }
  if (!reboot_ || !reboot_())
    return FilesResult::Fail("Error: the file was sent but the instrument could not be told to reboot.");
  r.note = std::string(done);
  return r;
}

FilesResult HyloFTP::Write(const std::filesystem::path& localFile, const std::string& remoteFolder) {
  const std::string name = localFile.filename().string();
  if (!PlainRemoteName(name)) return FilesResult::Fail("Error: unusable name \"" + name + "\"");
  const std::string remote = Trimmed(remoteFolder) + "/" + name;
  FilesResult r = Upload(localFile, remote);
  if (!r.Ok()) {
    if (!client_.LoggedIn()) Relogin();
    client_.Delete(remote, true);
  }
  return r;
}

FilesResult HyloFTP::UpdateFirmware(const std::filesystem::path& package, const std::function<bool()>&) {
  const std::string name = package.filename().string();
  if (!PlainRemoteName(name)) return FilesResult::Fail("Error: unusable name \"" + name + "\"");
  FilesResult failure;
  if (!EnsureLogin(failure)) return failure;
  if (!client_.MakeDir(std::string(ftp::kUpdate))) return Failure("Error: cannot make the update folder");
  const std::string remote = std::string(ftp::kUpdate) + "/" + name;
  return AfterUpload(Upload(package, remote), remote, ftp::kUploaded);
}

FilesResult HyloFTP::ClearData() {
  FilesResult failure;
  if (!EnsureLogin(failure)) return failure;
  const std::string remote(ftp::kCleanData);
  transferred_ = 0;
  total_ = 0;
  const bool ok =
      client_.Store(remote, 0, [&](std::span<char>) { return Cancelled() ? platform::FtpClient::kStop : 0; });
  return AfterUpload(ok ? FilesResult{} : Failure("Error: cannot write " + remote), remote, ftp::kClearing);
}

}  // namespace hylo::files

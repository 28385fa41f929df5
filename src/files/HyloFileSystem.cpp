#include "files/HyloFileSystem.h"

#include <algorithm>
#include <fstream>
#include <thread>

namespace hylo::files {
namespace {

constexpr int kTries = 10;
// Bounds on waits the instrument alone would end: a unit that is always busy, or that keeps a
// request in its pending list for ever, fails the try instead of hanging the thread.
constexpr int kBusyEnquiries = 1000;
constexpr int kPendingPolls = 100000;
constexpr std::size_t kFrameHead = 4;  // "*", letter, length (2)

// The payload of the first reply in a Transact answer.
std::span<const std::uint8_t> FirstPayload(const std::vector<std::uint8_t>& replies) {
  if (replies.size() < kFrameHead) return {};
  const std::size_t n = static_cast<std::size_t>(replies[2]) | (static_cast<std::size_t>(replies[3]) << 8);
  return std::span<const std::uint8_t>(replies).subspan(kFrameHead, std::min(n, replies.size() - kFrameHead));
}

bool SameContents(const std::filesystem::path& a, const std::filesystem::path& b) {
  std::error_code ec;
  if (!std::filesystem::exists(a, ec) || !std::filesystem::exists(b, ec)) return false;
  if (std::filesystem::file_size(a, ec) != std::filesystem::file_size(b, ec) || ec) return false;
  std::ifstream fa(a, std::ios::binary), fb(b, std::ios::binary);
  std::array<char, 100> pa{}, pb{};
  while (fa && fb) {
    fa.read(pa.data(), pa.size());
    fb.read(pb.data(), pb.size());
    if (fa.gcount() != fb.gcount() || !std::equal(pa.begin(), pa.begin() + fa.gcount(), pb.begin())) return false;
  }
  return fa.eof() && fb.eof();
}

std::optional<std::vector<std::uint8_t>> ReadWhole(const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary);
  if (!in) return std::nullopt;
  std::vector<std::uint8_t> data((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (in.bad() || data.size() > 0xFFFFFFFFu) return std::nullopt;
  return data;
}

std::optional<RemotePath> Place(const std::string& text, FilesResult& failure) {
  std::string error;
  auto path = ParseRemotePath(text, error);
  if (!path) {
    failure = FilesResult::Fail("Error: " + error);
    return std::nullopt;
  }
  if (!AddressableDepth(*path)) {
    failure = FilesResult::Fail(std::string(text::kTooDeep));
    return std::nullopt;
  }
  return path;
}

}  // namespace

bool FirmwarePasswordOk(std::string_view entered) { return entered.substr(0, 12) == "AUR505"; }

std::optional<std::vector<std::uint8_t>> HyloFileSystem::Exchange(std::uint8_t letter,
                                                                  std::span<const std::uint8_t> payload,
                                                                  std::size_t replyBytes) {
  auto reply = replyBytes > 0 || payload.size() > 64 ? link_.TransactLong(letter, payload, replyBytes, cancel_)
                                                     : link_.Transact(letter, payload, 1, false, cancel_);
  if (!reply || reply->size() < kFrameHead) {
    ++missed_;
    return std::nullopt;
  }
  const auto p = FirstPayload(*reply);
  return std::vector<std::uint8_t>(p.begin(), p.end());
}

HyloFileSystem::Stage HyloFileSystem::RunOnce(std::uint8_t letter, std::span<const std::uint8_t> frame,
                                              std::size_t replyBytes, std::uint16_t number,
                                              std::optional<FetchedResult>& result) {
  // Submit.
  bool accepted = false;
  for (int tries = kTries; tries > 0 && !accepted; --tries) {
    if (cancel_) return Stage::kCancelled;
    const auto reply = Exchange(letter, frame);
    if (!reply) continue;
    if (Accepted(*reply)) {
      accepted = true;
      break;
    }
    static constexpr std::uint8_t kBusy[] = {kExchange};
    for (int i = 0; i < kBusyEnquiries && !cancel_; ++i) {
      const auto busy = Exchange(letter::kStatus, kBusy);
      if (!busy || !StillBusy(*busy)) break;
    }
  }
  if (cancel_) return Stage::kCancelled;
  if (!accepted) return Stage::kOutOfTries;
  // Wait while the instrument lists the request as pending.
  int polls = 0;
  for (int tries = kTries; tries > 0; --tries) {
    if (cancel_) return Stage::kCancelled;
    const auto reply = Exchange(letter::kPending, {});
    if (!reply) continue;
    const auto pending = ParsePending(*reply);
    if (!pending) continue;
    if (std::find(pending->begin(), pending->end(), number) == pending->end()) break;
    if (++polls > kPendingPolls) return Stage::kOutOfTries;
    tries = kTries + 1;
  }
  // Fetch the result.
  static constexpr std::uint8_t kFetch[] = {kExchange, 0x00};
  for (int tries = kTries; tries > 0; --tries) {
    if (cancel_) return Stage::kCancelled;
    const auto reply = Exchange(letter::kStatus, kFetch, replyBytes);
    if (!reply) continue;
    result = ParseFetch(*reply, number);
    if (result) return Stage::kDone;
  }
  return Stage::kOutOfTries;
}

HyloFileSystem::Outcome HyloFileSystem::Request(std::uint8_t letter, std::vector<std::uint8_t> body,
                                                std::span<const std::uint8_t> second, std::size_t replyBytes) {
  body.insert(body.end(), second.begin(), second.end());
  for (int reposts = 0;; ++reposts) {
    const std::uint16_t number = transaction_++;
    SetTransaction(body, number);
    Outcome out;
    switch (RunOnce(letter, body, replyBytes, number, out.result)) {
      case Stage::kDone:
        consecutiveFailures_ = 0;
        return out;
      case Stage::kCancelled:
        out.failure.cancelled = true;
        return out;
      case Stage::kOutOfTries:
        break;
    }
    ++consecutiveFailures_;
    if (options_.maxReposts >= 0 && reposts >= options_.maxReposts) {
      out.failure = FilesResult::Fail(std::string(text::kAccessError));
      return out;
    }
    const auto pause = consecutiveFailures_ >= 10 ? options_.longRepostPause : options_.repostPause;
    for (auto waited = std::chrono::milliseconds(0); waited < pause && !cancel_;
         waited += std::chrono::milliseconds(100))
      std::this_thread::sleep_for(std::min(std::chrono::milliseconds(100), pause - waited));
  }
}

FilesResult HyloFileSystem::Failed(std::uint8_t status) const {
  const auto own = StatusText(status);
  return FilesResult::Fail(std::string(own.empty() ? text::kAccessError : own));
}

FilesResult HyloFileSystem::ListFolder(const RemotePath& folder, bool sizes, std::vector<RemoteEntry>& out) {
  auto o = Request(letter::kList, ListBody(folder));
  if (!o.result) return o.failure;
  if (o.result->status != 0) return Failed(o.result->status);
  const Listing listing = ParseListing(o.result->data);
  if (!listing.ok) return FilesResult::Fail(std::string(text::kAccessError));
  for (const auto& name : listing.names) {
    const RemotePath child = folder.Child(name);
    RemoteEntry e{child.Text(), name, -1, child.IsFolder(), {}};
    if (!AddressableDepth(child)) {
      e.refusal = std::string(text::kTooDeep);
    } else if (sizes && !e.folder) {
      FilesResult failure;
      if (const auto size = OpenSize(child, failure)) e.size = *size;
      if (failure.cancelled) return failure;
    }
    out.push_back(std::move(e));
  }
  for (const auto& raw : listing.refused)
    out.push_back({folder.Text() + "/?", raw, -1, false,
                   "Error: the instrument listed a name that names no file: \"" + raw + "\""});
  return {};
}

FilesResult HyloFileSystem::List(const std::string& folder, bool sizes, std::vector<RemoteEntry>& out) {
  if (folder.empty() || folder == "/") {
    // Volume 2 is shown only when its root can be listed.
    out.push_back({"/1", "Volume 1", -1, true, {}});
    std::vector<RemoteEntry> ignored;
    if (ListFolder(RemotePath{2, {}, {}}, false, ignored).Ok()) out.push_back({"/2", "Volume 2", -1, true, {}});
    return {};
  }
  FilesResult failure;
  const auto path = Place(folder, failure);
  if (!path) return failure;
  if (!path->IsFolder()) return FilesResult::Fail("Error: not a folder: " + folder);
  StatusLine("Directory Command Sent");
  return ListFolder(*path, sizes, out);
}

std::optional<std::uint32_t> HyloFileSystem::OpenSize(const RemotePath& file, FilesResult& failure) {
  auto o = Request(letter::kOpen, NameBody(file));
  if (!o.result) {
    failure = o.failure;
    return std::nullopt;
  }
  if (o.result->status != 0) {
    failure = Failed(o.result->status);
    return std::nullopt;
  }
  const auto size = ParseOpenSize(o.result->data);
  if (!size) failure = FilesResult::Fail(std::string(text::kAccessError));
  return size;
}

FilesResult HyloFileSystem::ReadInto(const RemotePath& file, const std::filesystem::path& localFile,
                                     std::uint64_t& bytes) {
  FilesResult failure;
  const auto size = OpenSize(file, failure);
  if (!size) return failure;
  if (*size == 0) return {std::string(text::kNoData), false, true};
  std::error_code ec;
  if (localFile.has_parent_path()) std::filesystem::create_directories(localFile.parent_path(), ec);
  // The blocks go to a side file that takes the name only when whole: a cancel or a failure
  // never leaves a partial file, nor an older file's tail, under the retrieved name.
  std::filesystem::path part = localFile;
  part += ".part";
  std::ofstream out(part, std::ios::binary | std::ios::trunc);
  auto fail = [&](FilesResult r) {
    out.close();
    std::filesystem::remove(part, ec);
    return r;
  };
  if (!out) return fail(FilesResult::Fail(std::string(text::kLocalWrite)));
  const std::string shown = file.name;
  for (const Block& b : ReadBlocks(*size)) {
    auto o = Request(letter::kRead, BlockBody(file, b.offset, b.length), {}, b.length + 7);
    if (!o.result) return fail(o.failure);
    if (o.result->status != 0 && o.result->status != 6) return fail(Failed(o.result->status));
    const auto data = ParseBlock(o.result->data, b.length);
    if (!data) return fail(FilesResult::Fail(std::string(text::kAccessError)));
    out.seekp(b.offset);
    out.write(reinterpret_cast<const char*>(data->data()), static_cast<std::streamsize>(data->size()));
    if (!out) return fail(FilesResult::Fail(std::string(text::kLocalWrite)));
    Report({shown, ProgressPercent(b.offset + b.length, *size), ProgressText(b.offset + b.length, *size)});
  }
  out.close();
  if (!out) return fail(FilesResult::Fail(std::string(text::kLocalWrite)));
  std::filesystem::rename(part, localFile, ec);
  if (ec) return fail(FilesResult::Fail(std::string(text::kLocalWrite)));
  bytes += *size;
  return {};
}

FilesResult HyloFileSystem::Retrieve(const std::string& remoteFile, const std::filesystem::path& localFile,
                                     std::uint64_t& bytes) {
  FilesResult failure;
  const auto path = Place(remoteFile, failure);
  if (!path) return failure;
  if (path->IsFolder()) return FilesResult::Fail("Error: not a file: " + remoteFile);
  StatusLine("Read Process Initiated");
  return ReadInto(*path, localFile, bytes);
}

FilesResult HyloFileSystem::Delete(const std::string& remote) {
  FilesResult failure;
  const auto path = Place(remote, failure);
  if (!path) return failure;
  if (path->IsFolder()) {
    if (path->folders.empty() || path->FolderName() == "AURISOND")
      return FilesResult::Fail(std::string(text::kFolderRefused));
  } else if (path->name.substr(0, path->name.find('.')) == "UNIT") {
    return FilesResult::Fail(std::string(text::kFileRefused));
  }
  const bool folder = path->IsFolder();
  auto o = Request(folder ? letter::kDeleteFolder : letter::kDeleteFile, folder ? ListBody(*path) : NameBody(*path));
  StatusLine(folder ? "Delete Directory Command Sent" : "Delete Command Sent");
  if (!o.result) return o.failure;
  if (o.result->status != 0 && o.result->status != 2) return Failed(o.result->status);
  return {};
}

FilesResult HyloFileSystem::WriteFile(const std::filesystem::path& localFile, const RemotePath& target) {
  const auto data = ReadWhole(localFile);
  if (!data) return FilesResult::Fail("Error: cannot read " + localFile.string());
  const auto size = static_cast<std::uint32_t>(data->size());
  for (const Block& b : WriteBlocks(size)) {
    const auto piece = std::span<const std::uint8_t>(*data).subspan(b.offset, b.length);
    auto o = Request(letter::kWrite, BlockBody(target, b.offset, b.length, piece));
    if (!o.result) return o.failure;
    if (o.result->status != 0) return Failed(o.result->status);
    Report({target.name, ProgressPercent(b.offset + b.length, size), ProgressText(b.offset + b.length, size)});
  }
  return {};
}

FilesResult HyloFileSystem::Write(const std::filesystem::path& localFile, const std::string& remoteFolder) {
  FilesResult failure;
  const auto folder = Place(remoteFolder, failure);
  if (!folder) return failure;
  if (!folder->IsFolder()) return FilesResult::Fail("Error: not a folder: " + remoteFolder);
  RemotePath target = *folder;
  target.name = SplitShortName(localFile.filename().string()).Text();
  if (!ValidEntryName(target.name) || target.name.find('.') == std::string::npos)
    return FilesResult::Fail("Error: the instrument cannot hold a file named \"" + localFile.filename().string() +
                             "\"");
  StatusLine("Write Process Initiated");
  return WriteFile(localFile, target);
}

FilesResult HyloFileSystem::UpdateFirmware(const std::filesystem::path& package, const std::function<bool()>& confirm) {
  auto failed = [](FilesResult r) {
    if (!r.cancelled) r.error = std::string(text::kFirmwareFailed);
    return r;
  };
  StatusLine("Firmware Update Initiated");
  const RemotePath update{1, {}, "UPDATE.BIN"};
  if (auto r = WriteFile(package, update); !r.Ok()) return failed(r);
  std::filesystem::path check = package;
  check += "2";
  std::error_code ec;
  std::filesystem::remove(check, ec);
  std::uint64_t bytes = 0;
  if (auto r = ReadInto(update, check, bytes); !r.Ok()) return failed(r);
  const bool same = SameContents(package, check);
  std::filesystem::remove(check, ec);
  if (!same) return FilesResult::Fail(std::string(text::kFirmwareFailed));
  const RemotePath boot{1, {}, std::string(kHiddenBootFile)};
  auto copy = Request(letter::kCopy, NameBody(boot), SecondName(SplitShortName("BOOT5505.BAK"), 71));
  if (!copy.result) return failed(copy.failure);
  if (copy.result->status != 0) return FilesResult::Fail(std::string(text::kFirmwareFailed));
  if (!confirm || !confirm()) return FilesResult::Fail(std::string(text::kFirmwareFailed));
  auto rename = Request(letter::kRename, NameBody(update), SecondName(SplitShortName(kHiddenBootFile), 11));
  if (!rename.result || rename.result->status != 0) {
    FilesResult r = rename.failure;
    r.error = std::string(text::kFirmwareFatal);
    r.cancelled = false;
    return r;
  }
  StatusLine("Firmware Update Completed");
  return {};
}

FilesResult HyloFileSystem::UpdateConfig(const std::filesystem::path& file) {
  StatusLine("Config File Update Initiated");
  return WriteFile(file, RemotePath{1, {"AURISOND"}, "UNIT.CFG"});
}

}  // namespace hylo::files

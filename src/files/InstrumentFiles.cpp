#include "files/InstrumentFiles.h"

namespace hylo::files {
namespace {

// A listed name used as one local path component: nothing that could climb out of the
// destination or name another place.
bool PlainComponent(const std::string& name) {
  return !name.empty() && name != "." && name != ".." &&
         name.find_first_of(std::string("/\\:\0", 4)) == std::string::npos;
}

void Walk(InstrumentFiles& files, const RemoteEntry& at, const std::filesystem::path& local, TreeSummary& out) {
  if (files.Cancelled()) {
    out.cancelled = true;
    return;
  }
  if (!at.refusal.empty() || !PlainComponent(at.name)) {
    out.failed.push_back(at.path);
    out.errors.push_back(at.refusal.empty() ? "Error: unusable name \"" + at.name + "\"" : at.refusal);
    return;
  }
  const std::filesystem::path here = local / at.name;
  if (!at.folder) {
    const FilesResult r = files.Retrieve(at.path, here, out.bytes);
    if (r.cancelled) {
      out.cancelled = true;
    } else if (r.Ok()) {
      out.retrieved.push_back(here.string());
    } else if (!r.skipped) {
      out.failed.push_back(at.path);
      out.errors.push_back(r.error);
    }
    return;
  }
  std::vector<RemoteEntry> entries;
  const FilesResult r = files.List(at.path, false, entries);
  if (r.cancelled) {
    out.cancelled = true;
    return;
  }
  if (!r.Ok()) {
    out.failed.push_back(at.path);
    out.errors.push_back(r.error);
    return;
  }
  for (const auto& e : entries) {
    Walk(files, e, here, out);
    if (out.cancelled) return;
  }
}

}  // namespace

TreeSummary RetrieveTree(InstrumentFiles& files, const std::string& remote, const std::filesystem::path& localFolder) {
  TreeSummary out;
  std::string path = remote;
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  const auto slash = path.rfind('/');
  RemoteEntry top{path,
                  path.substr(slash == std::string::npos ? 0 : slash + 1),
                  -1,
                  path.find('.', slash == std::string::npos ? 0 : slash) == std::string::npos,
                  {}};
  if (top.folder) {
    // A folder's files land directly in the destination, its sub-folders below it.
    std::vector<RemoteEntry> entries;
    const FilesResult r = files.List(top.path, false, entries);
    if (!r.Ok()) {
      out.cancelled = r.cancelled;
      if (!r.cancelled) {
        out.failed.push_back(top.path);
        out.errors.push_back(r.error);
      }
      return out;
    }
    for (const auto& e : entries) {
      Walk(files, e, localFolder, out);
      if (out.cancelled) break;
    }
    return out;
  }
  Walk(files, top, localFolder, out);
  return out;
}

}  // namespace hylo::files

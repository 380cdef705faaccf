#include "afc_path.h"

#include <fcntl.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <deque>
#include <filesystem>
#include <vector>

#if defined(SYS_openat2) && __has_include(<linux/openat2.h>)
#include <linux/openat2.h>
#define VDEVICE_HAS_OPENAT2 1
#endif

#include "afc_protocol.h"

namespace vdevice {

namespace fs = std::filesystem;

namespace {

constexpr size_t kMaxDevicePathBytes = 4096;

// Cleared once the kernel turns out not to know openat2; every check then takes the long way.
std::atomic<bool> g_resolve_beneath{true};

// Folds "/", "." and ".." into a path relative to the top ("a/b/c", empty for the top itself);
// false when ".." would climb above the top.
bool Normalize(std::string_view device_path, std::string* relative) {
  relative->clear();
  size_t start = 0;
  while (start <= device_path.size()) {
    size_t slash = device_path.find('/', start);
    if (slash == std::string_view::npos) slash = device_path.size();
    const std::string_view part = device_path.substr(start, slash - start);
    start = slash + 1;
    if (part.empty() || part == ".") continue;
    if (part == "..") {
      if (relative->empty()) return false;
      const size_t cut = relative->rfind('/');
      relative->resize(cut == std::string::npos ? 0 : cut);
      continue;
    }
    if (!relative->empty()) relative->push_back('/');
    relative->append(part);
  }
  return true;
}

// As many links as a path may pass through before it counts as a loop (the kernel's own limit).
constexpr int kMaxLinks = 40;

std::string CanonicalOf(const std::string& path) {
  std::error_code error;
  fs::path canonical = fs::weakly_canonical(path, error);
  return error ? std::string() : canonical.string();
}

}  // namespace

AfcPathMapper::AfcPathMapper(const std::string& root) {
  root_ = CanonicalOf(root);
  if (root_.empty()) root_ = root;
  while (root_.size() > 1 && root_.back() == '/') root_.pop_back();
  root_fd_ = ::open(root_.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
}

AfcPathMapper::~AfcPathMapper() {
  if (root_fd_ >= 0) ::close(root_fd_);
}

bool AfcPathMapper::Inside(const std::string& canonical) const {
  if (canonical.empty()) return false;
  return canonical == root_ || (canonical.compare(0, root_.size(), root_) == 0 && canonical.size() > root_.size() &&
                                canonical[root_.size()] == '/');
}

// The kernel resolves the path one component at a time from the folder down, links included, and
// fails with EXDEV at the first step that would leave it. So a path that merely does not exist
// (ENOENT, or ENOTDIR below a file) has already had its existing part resolved inside.
bool AfcPathMapper::ResolvesBeneath(const std::string& relative, bool* settled) const {
  *settled = false;
#ifdef VDEVICE_HAS_OPENAT2
  if (root_fd_ < 0 || !g_resolve_beneath.load(std::memory_order_relaxed)) return false;
  open_how how{};
  how.flags = O_PATH | O_CLOEXEC;
  how.resolve = RESOLVE_BENEATH | RESOLVE_NO_MAGICLINKS;
  const long fd = ::syscall(SYS_openat2, root_fd_, relative.c_str(), &how, sizeof(how));
  if (fd >= 0) {
    ::close(static_cast<int>(fd));
    *settled = true;
    return true;
  }
  if (errno == ENOENT || errno == ENOTDIR) {
    *settled = true;
    return true;
  }
  if (errno == ENOSYS) g_resolve_beneath.store(false, std::memory_order_relaxed);
#else
  (void)relative;
#endif
  // EXDEV may still be a link with an absolute target inside the folder: the long way decides.
  return false;
}

bool AfcPathMapper::ResolvesInside(const std::string& relative) const {
  if (relative.empty()) return true;
  bool settled = false;
  const bool inside = ResolvesBeneath(relative, &settled);
  if (settled) return inside;
  return WalksInside(relative);
}

// Resolves the path one component at a time as the kernel would, following every link, dangling
// ones included (an open that creates a file follows those too), and fails at the first step that
// leaves the folder. A link may name a place inside the folder by its full path.
bool AfcPathMapper::WalksInside(const std::string& relative) const {
  std::vector<std::string> resolved;  // components below the folder
  std::deque<std::string> pending;
  auto push_front_parts = [&pending](const std::string& path) {
    std::vector<std::string> parts;
    for (const fs::path& part : fs::path(path).relative_path()) parts.push_back(part.string());
    pending.insert(pending.begin(), parts.begin(), parts.end());
  };
  push_front_parts(relative);
  int links = 0;
  while (!pending.empty()) {
    const std::string part = std::move(pending.front());
    pending.pop_front();
    if (part.empty() || part == ".") continue;
    if (part == "..") {
      if (resolved.empty()) return false;
      resolved.pop_back();
      continue;
    }
    std::string here = root_;
    for (const std::string& piece : resolved) here.append("/").append(piece);
    here.append("/").append(part);
    std::error_code error;
    if (!fs::is_symlink(fs::symlink_status(here, error))) {
      resolved.push_back(part);
      continue;
    }
    const fs::path target = fs::read_symlink(here, error);
    if (error || ++links > kMaxLinks) return false;
    if (target.is_absolute()) {
      const std::string text = target.lexically_normal().string();
      if (!Inside(text) && text != root_ + "/") return false;
      resolved.clear();
      push_front_parts(fs::path(text).lexically_relative(root_).string());
    } else {
      push_front_parts(target.string());
    }
  }
  return true;
}

bool AfcPathMapper::IsRoot(std::string_view device_path) {
  std::string relative;
  return Normalize(device_path, &relative) && relative.empty();
}

int AfcPathMapper::Map(std::string_view device_path, FinalLink final_link, std::string* host_path) const {
  if (device_path.size() > kMaxDevicePathBytes || device_path.find('\0') != std::string_view::npos) {
    return kAfcInvalidArgument;
  }
  std::string relative;
  if (!Normalize(device_path, &relative)) return kAfcPermissionDenied;
  const size_t slash = relative.rfind('/');
  if (!ResolvesInside(slash == std::string::npos ? std::string() : relative.substr(0, slash))) {
    return kAfcPermissionDenied;
  }
  if (final_link == FinalLink::kFollow && !ResolvesInside(relative)) return kAfcPermissionDenied;
  host_path->reserve(root_.size() + 1 + relative.size());
  *host_path = root_;
  if (!relative.empty()) host_path->append("/").append(relative);
  return kAfcSuccess;
}

}  // namespace vdevice

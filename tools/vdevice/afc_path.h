// Keeps every AFC path inside the folder the service serves. A device path is taken relative to
// that folder whether or not it starts with "/"; ".." may climb back up but never above it, and
// symbolic links are not followed out of it. An escape is refused and touches nothing.
//
// The check runs for every request, so it asks the kernel to resolve the path beneath the folder
// in one call (openat2 with RESOLVE_BENEATH) instead of reading every link on the way. What that
// call cannot settle (a link with an absolute target, a kernel without the call) is settled the
// long way: the links on the path followed one by one.
#pragma once

#include <string>
#include <string_view>

namespace vdevice {

enum class FinalLink {
  kFollow,     // the operation acts on what a final symbolic link points at (open, list)
  kDontFollow  // the operation acts on the link itself (stat, remove, rename)
};

class AfcPathMapper {
 public:
  // `root` must exist; it is made canonical once here.
  explicit AfcPathMapper(const std::string& root);
  ~AfcPathMapper();
  AfcPathMapper(const AfcPathMapper&) = delete;
  AfcPathMapper& operator=(const AfcPathMapper&) = delete;

  // Returns 0 with the computer path, or an AFC error (permission denied for an escape,
  // invalid argument for an unusable path).
  int Map(std::string_view device_path, FinalLink final_link, std::string* host_path) const;
  // True when the device path names the served folder itself.
  static bool IsRoot(std::string_view device_path);
  const std::string& root() const { return root_; }

 private:
  // Whether `relative` (no "." or ".." left, "" for the folder itself) resolves inside the folder.
  bool ResolvesInside(const std::string& relative) const;
  bool ResolvesBeneath(const std::string& relative, bool* settled) const;
  bool WalksInside(const std::string& relative) const;
  bool Inside(const std::string& canonical) const;

  std::string root_;
  int root_fd_ = -1;  // the folder, opened for resolving beneath it
};

}  // namespace vdevice

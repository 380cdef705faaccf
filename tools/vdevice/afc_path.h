// Keeps every AFC path inside the folder the service serves. A device path is taken relative to
// that folder whether or not it starts with "/"; ".." may climb back up but never above it, and
// symbolic links are not followed out of it. An escape is refused and touches nothing.
#pragma once

#include <string>

namespace vdevice {

enum class FinalLink {
  kFollow,     // the operation acts on what a final symbolic link points at (open, list)
  kDontFollow  // the operation acts on the link itself (stat, remove, rename)
};

class AfcPathMapper {
 public:
  // `root` must exist; it is made canonical once here.
  explicit AfcPathMapper(const std::string& root);

  // Returns 0 with the computer path, or an AFC error (permission denied for an escape,
  // invalid argument for an unusable path).
  int Map(const std::string& device_path, FinalLink final_link, std::string* host_path) const;
  // True when the device path names the served folder itself.
  static bool IsRoot(const std::string& device_path);
  const std::string& root() const { return root_; }

 private:
  bool Inside(const std::string& canonical) const;

  std::string root_;
};

}  // namespace vdevice

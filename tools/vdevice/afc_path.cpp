#include "afc_path.h"

#include <filesystem>
#include <vector>

#include "afc_protocol.h"

namespace vdevice {

namespace fs = std::filesystem;

namespace {

constexpr size_t kMaxDevicePathBytes = 4096;

// Splits and folds "." and ".."; false when ".." would climb above the top.
bool Normalize(const std::string& device_path, std::vector<std::string>* parts) {
  size_t start = 0;
  while (start <= device_path.size()) {
    size_t slash = device_path.find('/', start);
    if (slash == std::string::npos) slash = device_path.size();
    std::string part = device_path.substr(start, slash - start);
    start = slash + 1;
    if (part.empty() || part == ".") continue;
    if (part == "..") {
      if (parts->empty()) return false;
      parts->pop_back();
      continue;
    }
    parts->push_back(part);
  }
  return true;
}

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
}

bool AfcPathMapper::Inside(const std::string& canonical) const {
  if (canonical.empty()) return false;
  return canonical == root_ || (canonical.compare(0, root_.size(), root_) == 0 && canonical.size() > root_.size() &&
                                canonical[root_.size()] == '/');
}

bool AfcPathMapper::IsRoot(const std::string& device_path) {
  std::vector<std::string> parts;
  return Normalize(device_path, &parts) && parts.empty();
}

int AfcPathMapper::Map(const std::string& device_path, FinalLink final_link, std::string* host_path) const {
  if (device_path.size() > kMaxDevicePathBytes || device_path.find('\0') != std::string::npos) {
    return kAfcInvalidArgument;
  }
  std::vector<std::string> parts;
  if (!Normalize(device_path, &parts)) return kAfcPermissionDenied;
  std::string parent = root_;
  for (size_t i = 0; i + 1 < parts.size(); ++i) parent += "/" + parts[i];
  std::string full = parts.empty() ? root_ : parent + "/" + parts.back();
  // Links inside the tree may point anywhere; what they resolve to must still be inside.
  if (!Inside(CanonicalOf(parent))) return kAfcPermissionDenied;
  if (final_link == FinalLink::kFollow && !Inside(CanonicalOf(full))) return kAfcPermissionDenied;
  *host_path = full;
  return kAfcSuccess;
}

}  // namespace vdevice

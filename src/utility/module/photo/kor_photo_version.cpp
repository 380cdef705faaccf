#include "utility/module/photo/kor_photo_version.h"

#include <cstdlib>
#include <cstring>

int KorCompareDottedVersion(const std::string& a, const std::string& b) {
  const char* left = a.c_str();
  const char* right = b.c_str();
  for (;;) {
    int left_number = std::atoi(left);
    int right_number = std::atoi(right);
    if (left_number != right_number) return left_number < right_number ? -1 : 1;
    const char* left_dot = std::strchr(left, '.');
    const char* right_dot = std::strchr(right, '.');
    if (!left_dot && !right_dot) return 0;
    if (!left_dot) return -1;
    if (!right_dot) return 1;
    left = left_dot + 1;
    right = right_dot + 1;
  }
}

const std::vector<int>& KorPhotoSupportedVersions() {
  static const std::vector<int> kVersions = {4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14};
  return kVersions;
}

std::vector<int> KorPhotoTryOrder(const std::string& version) {
  const std::vector<int>& supported = KorPhotoSupportedVersions();
  std::vector<int> order;
  for (size_t i = 0; i < supported.size(); ++i) {
    if (KorCompareDottedVersion(std::to_string(supported[i]), version) <= 0) {
      order.insert(order.begin(), supported[i]);
      continue;
    }
    auto at = order.empty() ? order.begin() : order.begin() + 1;
    order.insert(at, supported.begin() + static_cast<std::ptrdiff_t>(i), supported.end());
    break;
  }
  return order;
}

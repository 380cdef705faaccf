// Ownership of libplist nodes.
#pragma once

#include <plist/plist.h>

#include <memory>

namespace devicefw {

struct PlistFree {
  void operator()(void* node) const { plist_free(static_cast<plist_t>(node)); }
};
using PlistHandle = std::unique_ptr<void, PlistFree>;

// Text that libplist allocated (plist_to_xml / plist_to_bin / dictionary keys).
struct PlistTextFree {
  void operator()(char* text) const { free(text); }
};
using PlistText = std::unique_ptr<char, PlistTextFree>;

}  // namespace devicefw

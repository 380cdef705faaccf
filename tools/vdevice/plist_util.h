// Owning handles and small accessors for libplist values, shared by every protocol of the device.
#pragma once

#include <plist/plist.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace vdevice {

struct PlistDeleter {
  void operator()(plist_t node) const { plist_free(node); }
};
// Owns a plist node (and so its whole tree).
using PlistPtr = std::unique_ptr<void, PlistDeleter>;

inline PlistPtr MakeDict() { return PlistPtr(plist_new_dict()); }
inline PlistPtr Copy(plist_t node) { return PlistPtr(node ? plist_copy(node) : nullptr); }

// Parses XML or binary property list text; null when it is not one.
PlistPtr ParsePlist(const char* data, size_t length);
std::string ToXml(plist_t node);
std::string ToBinary(plist_t node);

// Typed lookups in a dictionary; empty when the key is missing or of another type.
std::optional<std::string> DictString(plist_t dict, const char* key);
std::optional<uint64_t> DictUnsigned(plist_t dict, const char* key);
std::optional<bool> DictBool(plist_t dict, const char* key);
std::optional<std::string> DictData(plist_t dict, const char* key);
plist_t DictItem(plist_t dict, const char* key, plist_type type);

// Setters that take ownership of a fresh node, so call sites stay one line each.
void SetString(plist_t dict, const char* key, const std::string& value);
void SetUnsigned(plist_t dict, const char* key, uint64_t value);
void SetBool(plist_t dict, const char* key, bool value);
void SetData(plist_t dict, const char* key, const std::string& bytes);
void SetNode(plist_t dict, const char* key, PlistPtr value);

std::vector<std::string> DictKeys(plist_t dict);

// libplist keeps dates as seconds since 2001-01-01; these convert from and to the Unix epoch.
constexpr int64_t kAppleEpochOffset = 978307200;
PlistPtr MakeDateFromUnix(int64_t unix_seconds, int32_t microseconds = 0);
int64_t UnixSecondsOfDate(plist_t date);

}  // namespace vdevice

#include "plist_util.h"

#include <cstdlib>
#include <cstring>

namespace vdevice {

namespace {

bool LooksBinary(const char* data, size_t length) {
  return length >= 8 && std::memcmp(data, "bplist00", 8) == 0;
}

// Copies a buffer libplist allocated with malloc and frees it.
std::string TakeBuffer(char* bytes, size_t length) {
  std::string result(bytes ? bytes : "", bytes ? length : 0);
  std::free(bytes);
  return result;
}

}  // namespace

PlistPtr ParsePlist(const char* data, size_t length) {
  if (!data || length == 0 || length > UINT32_MAX) return nullptr;
  plist_t node = nullptr;
  if (LooksBinary(data, length)) {
    plist_from_bin(data, static_cast<uint32_t>(length), &node);
  } else {
    plist_from_xml(data, static_cast<uint32_t>(length), &node);
  }
  return PlistPtr(node);
}

std::string ToXml(plist_t node) {
  char* text = nullptr;
  uint32_t length = 0;
  plist_to_xml(node, &text, &length);
  return TakeBuffer(text, length);
}

std::string ToBinary(plist_t node) {
  char* bytes = nullptr;
  uint32_t length = 0;
  plist_to_bin(node, &bytes, &length);
  return TakeBuffer(bytes, length);
}

plist_t DictItem(plist_t dict, const char* key, plist_type type) {
  if (!dict || plist_get_node_type(dict) != PLIST_DICT) return nullptr;
  plist_t item = plist_dict_get_item(dict, key);
  return item && plist_get_node_type(item) == type ? item : nullptr;
}

std::optional<std::string> DictString(plist_t dict, const char* key) {
  plist_t item = DictItem(dict, key, PLIST_STRING);
  if (!item) return std::nullopt;
  char* text = nullptr;
  plist_get_string_val(item, &text);
  std::string result(text ? text : "");
  std::free(text);
  return result;
}

std::optional<uint64_t> DictUnsigned(plist_t dict, const char* key) {
  plist_t item = DictItem(dict, key, PLIST_UINT);
  if (!item) return std::nullopt;
  uint64_t value = 0;
  plist_get_uint_val(item, &value);
  return value;
}

std::optional<bool> DictBool(plist_t dict, const char* key) {
  plist_t item = DictItem(dict, key, PLIST_BOOLEAN);
  if (!item) return std::nullopt;
  uint8_t value = 0;
  plist_get_bool_val(item, &value);
  return value != 0;
}

std::optional<std::string> DictData(plist_t dict, const char* key) {
  plist_t item = DictItem(dict, key, PLIST_DATA);
  if (!item) return std::nullopt;
  char* bytes = nullptr;
  uint64_t length = 0;
  plist_get_data_val(item, &bytes, &length);
  return TakeBuffer(bytes, static_cast<size_t>(length));
}

void SetNode(plist_t dict, const char* key, PlistPtr value) {
  plist_dict_set_item(dict, key, value.release());
}

void SetString(plist_t dict, const char* key, const std::string& value) {
  SetNode(dict, key, PlistPtr(plist_new_string(value.c_str())));
}

void SetUnsigned(plist_t dict, const char* key, uint64_t value) {
  SetNode(dict, key, PlistPtr(plist_new_uint(value)));
}

void SetBool(plist_t dict, const char* key, bool value) {
  SetNode(dict, key, PlistPtr(plist_new_bool(value ? 1 : 0)));
}

void SetData(plist_t dict, const char* key, const std::string& bytes) {
  SetNode(dict, key, PlistPtr(plist_new_data(bytes.data(), bytes.size())));
}

std::vector<std::string> DictKeys(plist_t dict) {
  std::vector<std::string> keys;
  if (!dict || plist_get_node_type(dict) != PLIST_DICT) return keys;
  plist_dict_iter iter = nullptr;
  plist_dict_new_iter(dict, &iter);
  for (;;) {
    char* key = nullptr;
    plist_t value = nullptr;
    plist_dict_next_item(dict, iter, &key, &value);
    if (!key) break;
    keys.emplace_back(key);
    std::free(key);
  }
  std::free(iter);
  return keys;
}

PlistPtr MakeDateFromUnix(int64_t unix_seconds, int32_t microseconds) {
  int64_t apple = unix_seconds - kAppleEpochOffset;
  return PlistPtr(plist_new_date(static_cast<int32_t>(apple), microseconds));
}

int64_t UnixSecondsOfDate(plist_t date) {
  int32_t seconds = 0, microseconds = 0;
  plist_get_date_val(date, &seconds, &microseconds);
  return static_cast<int64_t>(seconds) + kAppleEpochOffset;
}

}  // namespace vdevice

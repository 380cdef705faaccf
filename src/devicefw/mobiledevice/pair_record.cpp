#include "mobiledevice/pair_record.h"

#include <usbmuxd.h>

#include "mobiledevice/device_handles.h"

namespace devicefw::md {

PlistHandle ReadPairRecord(const std::string& udid) {
  char* raw = nullptr;
  uint32_t size = 0;
  if (usbmuxd_read_pair_record(udid.c_str(), &raw, &size) != 0 || raw == nullptr) return nullptr;
  MallocHandle<char> bytes(raw);
  plist_t record = nullptr;
  plist_from_memory(bytes.get(), size, &record);
  PlistHandle owner(record);
  if (!owner || plist_get_node_type(record) != PLIST_DICT) return nullptr;
  return owner;
}

std::optional<std::string> PairRecordText(const PlistHandle& record, const char* key) {
  if (!record) return std::nullopt;
  plist_t node = plist_dict_get_item(static_cast<plist_t>(record.get()), key);
  if (node == nullptr || plist_get_node_type(node) != PLIST_STRING) return std::nullopt;
  char* text = nullptr;
  plist_get_string_val(node, &text);
  MallocHandle<char> owner(text);
  return text == nullptr ? std::nullopt : std::optional<std::string>(text);
}

}  // namespace devicefw::md

#include "sync_store.h"

#include <rapidjson/document.h>
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include <cstdlib>

#include "device_link.h"
#include "device_profile.h"
#include "platform/kst_fs.h"
#include "log.h"
#include "plist_json.h"

namespace vdevice {

namespace {

// Fields through which a dependent record names the records that own it (a phone number's
// "contact"): a dependent record whose owners are all deleted goes with them.
const char* const kOwnerFields[] = {"contact", "owner", "calendar", "parent"};

std::string EntityOf(plist_t record) {
  return DictString(record, "com.apple.syncservices.RecordEntityName").value_or(std::string());
}

std::set<std::string> StringSet(plist_t array) {
  std::set<std::string> names;
  for (uint32_t i = 0; array && i < plist_array_get_size(array); ++i) {
    char* text = nullptr;
    plist_t item = plist_array_get_item(array, i);
    if (plist_get_node_type(item) == PLIST_STRING) plist_get_string_val(item, &text);
    if (text) names.insert(text);
    std::free(text);
  }
  return names;
}

bool IsString(plist_t node, const std::string& text) {
  if (!node || plist_get_node_type(node) != PLIST_STRING) return false;
  char* value = nullptr;
  plist_get_string_val(node, &value);
  const bool same = value && text == value;
  std::free(value);
  return same;
}

// Removes `id` from an array; true when it was there.
bool RemoveFromArray(plist_t array, const std::string& id) {
  bool removed = false;
  for (uint32_t i = plist_array_get_size(array); i-- > 0;) {
    if (IsString(plist_array_get_item(array, i), id)) {
      plist_array_remove_item(array, i);
      removed = true;
    }
  }
  return removed;
}

}  // namespace

SyncSettings LoadSyncSettings(const std::string& folder) {
  SyncSettings settings;
  std::string error;
  PlistPtr json = LoadJsonAsPlist(folder + "/settings.json", &error);
  if (!json) return settings;
  settings.batch_size = DictUnsigned(json.get(), "batch_size").value_or(100);
  if (settings.batch_size == 0) settings.batch_size = 1;
  settings.refused = StringSet(DictItem(json.get(), "refused", PLIST_ARRAY));
  settings.cancelled = StringSet(DictItem(json.get(), "cancelled", PLIST_ARRAY));
  return settings;
}

bool SyncStore::Load(const std::string& folder, const std::string& data_class) {
  // A data class names its file; one that could leave the folder names none.
  if (data_class.empty() || data_class.find('/') != std::string::npos || data_class.find("..") != std::string::npos) {
    return false;
  }
  path_ = folder + "/" + data_class + ".json";
  std::string error;
  PlistPtr json = LoadJsonAsPlist(path_, &error);
  plist_t records = json ? DictItem(json.get(), "records", PLIST_DICT) : nullptr;
  if (!records) return false;
  records_ = Copy(records);
  for (const std::string& key : DictKeys(records_.get())) {
    next_id_ = std::max<uint64_t>(next_id_, std::strtoull(key.c_str(), nullptr, 10) + 1);
  }
  return true;
}

std::vector<PlistPtr> SyncStore::Batches(uint64_t batch_size) const {
  std::vector<PlistPtr> batches;
  batches.push_back(MakeDict());
  for (const std::string& key : DictKeys(records_.get())) {
    if (plist_dict_get_size(batches.back().get()) >= batch_size) batches.push_back(MakeDict());
    SetNode(batches.back().get(), key.c_str(), Copy(plist_dict_get_item(records_.get(), key.c_str())));
  }
  return batches;
}

PlistPtr SyncStore::Apply(plist_t entities) {
  PlistPtr remap = MakeDict();
  if (!entities || plist_get_node_type(entities) != PLIST_DICT) return remap;
  for (const std::string& key : DictKeys(entities)) {
    plist_t value = plist_dict_get_item(entities, key.c_str());
    if (IsString(value, kEmptyParameterString)) {
      Delete(key);
    } else if (plist_get_node_type(value) == PLIST_DICT) {
      std::string id = StoredIdentifier(key, value);
      if (id.empty()) id = std::to_string(next_id_++);
      if (id != key) SetString(remap.get(), key.c_str(), id);
      SetNode(records_.get(), id.c_str(), Copy(value));
    }
  }
  return remap;
}

std::string SyncStore::StoredIdentifier(const std::string& key, plist_t record) const {
  if (plist_dict_get_item(records_.get(), key.c_str())) return key;
  const size_t slash = key.find('/');
  if (slash == std::string::npos) return std::string();
  const std::string suffix = key.substr(slash + 1);
  plist_t stored = plist_dict_get_item(records_.get(), suffix.c_str());
  return stored && EntityOf(stored) == EntityOf(record) ? suffix : std::string();
}

void SyncStore::Delete(const std::string& id) {
  if (!plist_dict_get_item(records_.get(), id.c_str())) return;
  plist_dict_remove_item(records_.get(), id.c_str());
  std::vector<std::string> orphans;
  for (const std::string& key : DictKeys(records_.get())) {
    plist_t record = plist_dict_get_item(records_.get(), key.c_str());
    for (const std::string& field : DictKeys(record)) {
      plist_t array = plist_dict_get_item(record, field.c_str());
      if (plist_get_node_type(array) != PLIST_ARRAY || !RemoveFromArray(array, id)) continue;
      for (const char* owner : kOwnerFields) {
        if (field == owner && plist_array_get_size(array) == 0) orphans.push_back(key);
      }
    }
  }
  for (const std::string& orphan : orphans) Delete(orphan);
}

size_t SyncStore::size() const { return records_ ? plist_dict_get_size(records_.get()) : 0; }

bool SyncStore::Save() const {
  rapidjson::Document document(rapidjson::kObjectType);
  document.AddMember("records", JsonFromPlist(records_.get(), document.GetAllocator()), document.GetAllocator());
  rapidjson::StringBuffer buffer;
  rapidjson::Writer<rapidjson::StringBuffer> writer(buffer);
  document.Accept(writer);
  return kst::WriteWholeFile(path_, buffer.GetString());
}

}  // namespace vdevice

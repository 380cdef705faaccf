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

SyncSettings LoadSyncSettings(const std::string& folder) {
  SyncSettings settings;
  std::string error;
  PlistPtr json = LoadJsonAsPlist(folder + "/settings.json", &error);
  if (!json) return settings;
  settings.batch_size = DictUnsigned(json.get(), "batch_size").value_or(100);
  if (settings.batch_size == 0) settings.batch_size = 1;
  plist_t refused = DictItem(json.get(), "refused", PLIST_ARRAY);
  for (uint32_t i = 0; refused && i < plist_array_get_size(refused); ++i) {
    char* text = nullptr;
    plist_t item = plist_array_get_item(refused, i);
    if (plist_get_node_type(item) == PLIST_STRING) plist_get_string_val(item, &text);
    if (text) settings.refused.insert(text);
    std::free(text);
  }
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
    if (plist_get_node_type(value) == PLIST_STRING) {
      char* text = nullptr;
      plist_get_string_val(value, &text);
      if (text && std::string(text) == kEmptyParameterString) plist_dict_remove_item(records_.get(), key.c_str());
      std::free(text);
    } else if (plist_get_node_type(value) == PLIST_DICT) {
      std::string id = key;
      if (!plist_dict_get_item(records_.get(), key.c_str())) {
        id = std::to_string(next_id_++);
        SetString(remap.get(), key.c_str(), id);
      }
      SetNode(records_.get(), id.c_str(), Copy(value));
    }
  }
  return remap;
}

bool SyncStore::Save() const {
  rapidjson::Document document(rapidjson::kObjectType);
  document.AddMember("records", JsonFromPlist(records_.get(), document.GetAllocator()), document.GetAllocator());
  rapidjson::StringBuffer buffer;
  rapidjson::Writer<rapidjson::StringBuffer> writer(buffer);
  document.Accept(writer);
  return kst::WriteWholeFile(path_, buffer.GetString());
}

}  // namespace vdevice

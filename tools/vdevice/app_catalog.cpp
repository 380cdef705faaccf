#include "app_catalog.h"

#include <rapidjson/prettywriter.h>
#include <rapidjson/stringbuffer.h>

#include <mutex>

#include "device_profile.h"
#include "log.h"
#include "platform/kst_fs.h"
#include "plist_json.h"

namespace vdevice {

namespace {

// Every catalog of the process shares one lock: installs are rare and the files are small.
std::mutex& CatalogMutex() {
  static std::mutex mutex;
  return mutex;
}

}  // namespace

std::optional<std::string> BundleIdOf(plist_t record) { return DictString(record, "CFBundleIdentifier"); }

AppCatalog::AppCatalog(std::string data_folder)
    : apps_file_(data_folder + "/apps.json"), archives_file_(data_folder + "/archives.json") {}

std::vector<PlistPtr> AppCatalog::Load(const std::string& file) const {
  std::vector<PlistPtr> records;
  if (!kst::PathExists(file)) return records;
  std::string error;
  PlistPtr list = LoadJsonAsPlist(file, &error);
  if (!list || plist_get_node_type(list.get()) != PLIST_ARRAY) {
    LogLine("installation_proxy: %s is not an array of applications %s", file.c_str(), error.c_str());
    return records;
  }
  for (uint32_t i = 0; i < plist_array_get_size(list.get()); ++i) {
    plist_t item = plist_array_get_item(list.get(), i);
    if (plist_get_node_type(item) == PLIST_DICT && BundleIdOf(item)) records.push_back(Copy(item));
  }
  return records;
}

bool AppCatalog::Save(const std::string& file, const std::vector<PlistPtr>& records) const {
  rapidjson::Document document(rapidjson::kArrayType);
  for (const PlistPtr& record : records) {
    document.PushBack(JsonFromPlist(record.get(), document.GetAllocator()), document.GetAllocator());
  }
  rapidjson::StringBuffer buffer;
  rapidjson::PrettyWriter<rapidjson::StringBuffer> writer(buffer);
  document.Accept(writer);
  return kst::CreateDirectories(kst::ParentFolder(file)) &&
         kst::WriteWholeFile(file, std::string(buffer.GetString(), buffer.GetSize()) + "\n");
}

std::vector<PlistPtr> AppCatalog::Records() const {
  std::lock_guard<std::mutex> lock(CatalogMutex());
  return Load(apps_file_);
}

PlistPtr AppCatalog::Find(const std::string& bundle_id) const {
  for (PlistPtr& record : Records()) {
    if (BundleIdOf(record.get()) == bundle_id) return std::move(record);
  }
  return nullptr;
}

bool AppCatalog::Put(PlistPtr record) {
  std::optional<std::string> id = BundleIdOf(record.get());
  if (!id) return false;
  std::lock_guard<std::mutex> lock(CatalogMutex());
  std::vector<PlistPtr> records = Load(apps_file_);
  bool replaced = false;
  for (PlistPtr& existing : records) {
    if (BundleIdOf(existing.get()) == id) {
      existing = std::move(record);
      replaced = true;
      break;
    }
  }
  if (!replaced) records.push_back(std::move(record));
  return Save(apps_file_, records);
}

bool AppCatalog::Remove(const std::string& bundle_id) {
  std::lock_guard<std::mutex> lock(CatalogMutex());
  std::vector<PlistPtr> records = Load(apps_file_);
  size_t before = records.size();
  std::erase_if(records, [&](const PlistPtr& record) { return BundleIdOf(record.get()) == bundle_id; });
  return records.size() != before && Save(apps_file_, records);
}

bool AppCatalog::PutArchive(PlistPtr record) {
  std::lock_guard<std::mutex> lock(CatalogMutex());
  std::vector<PlistPtr> archives = Load(archives_file_);
  archives.push_back(std::move(record));
  return Save(archives_file_, archives);
}

std::vector<PlistPtr> AppCatalog::Archives() const {
  std::lock_guard<std::mutex> lock(CatalogMutex());
  return Load(archives_file_);
}

}  // namespace vdevice

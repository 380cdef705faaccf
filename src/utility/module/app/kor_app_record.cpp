#include "utility/module/app/kor_app_record.h"

#include "iOSAPI/kor_base64.h"
#include "iOSAPI/kor_service_message.h"
#include "platform/kst_log.h"

namespace {

constexpr const char* kPlainMembers[] = {"ApplicationType",  "CFBundleIdentifier",         "CFBundleDisplayName",
                                         "CFBundleName",     "CFBundleShortVersionString", "CFBundleVersion",
                                         "Path"};

struct Renaming {
  const char* metadata_key;
  const char* record_key;
};

constexpr Renaming kMetadataMembers[] = {
    {"softwareVersionBundleId", "CFBundleIdentifier"},
    {"bundleShortVersionString", "CFBundleShortVersionString"},
    {"bundleVersion", "CFBundleVersion"},
    {"bundleDisplayName", "CFBundleDisplayName"},
    {"releaseDate", "releaseDate"},
    {"artistName", "artistName"},
    {"itemName", "itemName"},
    {"softwareIcon57x57URL", "softwareIcon57x57URL"},
    {"appleId", "AppleID"},
    {"purchaseDate", "purchaseDate"},
};

// Strings and integers are copied; any other kind of value is left out.
bool SetScalar(rapidjson::Value* record, const char* key, const KorValue& value,
               rapidjson::Document::AllocatorType& allocator) {
  rapidjson::Value json;
  if (value.IsString()) {
    json.SetString(value.AsString().c_str(), static_cast<rapidjson::SizeType>(value.AsString().size()), allocator);
  } else if (value.IsInteger()) {
    json.SetInt64(value.AsInteger());
  } else {
    return false;
  }
  rapidjson::Value::MemberIterator existing = record->FindMember(key);
  if (existing != record->MemberEnd()) {
    existing->value = json;
  } else {
    record->AddMember(rapidjson::Value(key, allocator), json, allocator);
  }
  return true;
}

KorValue Member(const KorValue& dictionary, const char* key) {
  return dictionary.IsDictionary() ? dictionary.AsDictionary()->Get(key) : KorValue();
}

}  // namespace

bool KorApplyITunesMetadata(const std::string& base64, rapidjson::Value* record,
                            rapidjson::Document::AllocatorType& allocator) {
  std::string bytes;
  KorValue metadata;
  if (!KorBase64Decode(base64, &bytes) || bytes.empty() || bytes.size() > kKorMaxServiceMessage ||
      !KorMessageToValue(reinterpret_cast<const uint8_t*>(bytes.data()), static_cast<uint32_t>(bytes.size()),
                         &metadata) ||
      !metadata.IsDictionary()) {
    return false;
  }
  for (const Renaming& renaming : kMetadataMembers) {
    SetScalar(record, renaming.record_key, Member(metadata, renaming.metadata_key), allocator);
  }
  // Older purchases keep the date and the account only in the store's download information.
  KorValue download = Member(metadata, "com.apple.iTunesStore.downloadInfo");
  if (!record->HasMember("purchaseDate")) SetScalar(record, "purchaseDate", Member(download, "purchaseDate"), allocator);
  if (!record->HasMember("AppleID")) {
    SetScalar(record, "AppleID", Member(Member(download, "accountInfo"), "AppleID"), allocator);
  }
  return true;
}

KorAppRecords::KorAppRecords() { records_.SetObject(); }

void KorAppRecords::AddRecord(const KorValue& app) {
  KorValue id = Member(app, "CFBundleIdentifier");
  if (!id.IsString() || id.AsString().empty() || records_.HasMember(id.AsString().c_str())) return;
  auto& allocator = records_.GetAllocator();
  rapidjson::Value record(rapidjson::kObjectType);
  for (const char* key : kPlainMembers) {
    KorValue value = Member(app, key);
    if (value.IsString()) SetScalar(&record, key, value, allocator);
  }
  KorValue metadata = Member(app, "iTunesMetadata");
  if (metadata.IsString() && !KorApplyITunesMetadata(metadata.AsString(), &record, allocator)) {
    KLOG(WARNING) << "iTunesMetadata of " << id.AsString() << " does not decode; plain members kept";
  }
  records_.AddMember(rapidjson::Value(id.AsString().c_str(), allocator), record, allocator);
}

void KorAppRecords::AddSizes(const KorValue& app) {
  KorValue id = Member(app, "CFBundleIdentifier");
  if (!id.IsString()) return;
  rapidjson::Value::MemberIterator record = records_.FindMember(id.AsString().c_str());
  if (record == records_.MemberEnd()) return;
  auto& allocator = records_.GetAllocator();
  KorValue data_size = Member(app, "DynamicDiskUsage");
  KorValue app_size = Member(app, "StaticDiskUsage");
  SetScalar(&record->value, "data-size", data_size.IsInteger() ? data_size : KorValue::Int64(0), allocator);
  SetScalar(&record->value, "app-size", app_size.IsInteger() ? app_size : KorValue::Int64(0), allocator);
}

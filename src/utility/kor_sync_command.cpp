#include "utility/kor_sync_command.h"

#include <rapidjson/document.h>

#include "iOSAPI/kor_cf_value.h"
#include "iOSAPI/kor_plist_xml.h"
#include "iOSAPI/kor_sync_anchor.h"
#include "iOSAPI/kor_sync_session.h"
#include "platform/kst_local_time.h"
#include "platform/kst_log.h"
#include "platform/vel_json_util.h"
#include "utility/ios/kor_device.h"
#include "utility/ios/kor_device_handles.h"

int KorRunDeviceSync(const std::shared_ptr<KorDevice>& device, const KorSyncDataClass& data_class,
                     const KorSyncSequence& sequence, KorSyncReplyHandler* handler, const KorSyncPushSource& pushes) {
  int result = 0;
  auto service = KorDeviceHandles::Get().GetService(device->Device(), &result, kKorSyncServiceName, nullptr, false);
  if (!service) {
    KLOG(WARNING) << "cannot start " << kKorSyncServiceName << " for " << data_class.name << ": " << result;
    return kKorSyncNoService;
  }
  KorSyncSession session(KorFrameworkIo(service->Connection()), data_class, handler);
  KorRunSyncSequence(session, sequence, KorComputerAnchor(KstLocalTimeNow()), pushes);
  return 0;
}

int64_t KorSyncListingCount(const std::shared_ptr<KorDevice>& device, size_t records, const char* settings_key) {
  if (records != 0) return static_cast<int64_t>(records);
  // Domain values are read in a session.
  int result = 0;
  auto session = KorDeviceHandles::Get().GetSession(device->Device(), &result);
  if (!session) KLOG(WARNING) << "no session for reading the synchronisation settings: " << result;
  return KorDataClassSyncedElsewhere(device->Device(), settings_key) ? -1 : 0;
}

std::vector<std::string> KorSyncDeletionElements(const std::string& id) {
  return {KorPlistDict({{id, KorPlistString(kKorDLEmptyParameter)}})};
}

KorSyncPushSource KorSyncPushOnce(std::vector<std::string> elements) {
  return [elements = std::move(elements)](int, std::vector<std::string>* out) {
    *out = elements;
    return true;
  };
}

std::string KorSyncRemapJson(const std::vector<std::pair<std::string, const KorSyncRemap*>>& tables) {
  rapidjson::Document json(rapidjson::kObjectType);
  auto& allocator = json.GetAllocator();
  for (const auto& table : tables) {
    if (table.second->empty()) continue;
    rapidjson::Value ids(rapidjson::kObjectType);
    for (const auto& entry : *table.second) VelJsonUtil::AddJsonDictStringValue(ids, allocator, entry.first.c_str(), entry.second);
    json.AddMember(rapidjson::Value(table.first.c_str(), allocator), ids, allocator);
  }
  return VelJsonUtil::ToString(json);
}

std::string KorReplaceAll(std::string text, const std::string& from, const std::string& to) {
  if (from.empty()) return text;
  for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size())) {
    text.replace(at, from.size(), to);
  }
  return text;
}

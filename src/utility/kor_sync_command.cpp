#include "utility/kor_sync_command.h"

#include <rapidjson/document.h>

#include <sys/socket.h>
#include <sys/time.h>

#include <cstdlib>

#include "iOSAPI/kor_cf_value.h"
#include "iOSAPI/kor_plist_xml.h"
#include "iOSAPI/kor_sync_anchor.h"
#include "iOSAPI/kor_sync_session.h"
#include "platform/kst_local_time.h"
#include "platform/kst_log.h"
#include "platform/kst_process.h"
#include "platform/vel_json_util.h"
#include "utility/ios/kor_device.h"
#include "utility/ios/kor_device_handles.h"

std::chrono::milliseconds KorSyncReplyTimeout() {
  std::string text = kst::GetEnv("TANDREL_SYNC_REPLY_TIMEOUT_MS");
  long value = text.empty() ? 0 : std::strtol(text.c_str(), nullptr, 10);
  return value > 0 ? std::chrono::milliseconds(value) : kKorSyncDefaultReplyTimeout;
}

namespace {

// The framework's receive gives up when the socket's receive time-out runs out.
void BoundReceives(AMDServiceConnectionRef connection, std::chrono::milliseconds timeout) {
  const int socket = MobileApi().AMDServiceConnectionGetSocket(connection);
  timeval value{};
  value.tv_sec = static_cast<time_t>(timeout.count() / 1000);
  value.tv_usec = static_cast<suseconds_t>((timeout.count() % 1000) * 1000);
  if (socket < 0 || setsockopt(socket, SOL_SOCKET, SO_RCVTIMEO, &value, sizeof(value)) != 0) {
    KLOG(WARNING) << "no receive time-out on the " << kKorSyncServiceName << " connection";
  }
}

}  // namespace

int KorRunDeviceSync(const std::shared_ptr<KorDevice>& device, const KorSyncDataClass& data_class,
                     const KorSyncSequence& sequence, KorSyncReplyHandler* handler, const KorSyncPushSource& pushes,
                     std::shared_ptr<KorDeviceService>* keep_service) {
  int result = 0;
  auto service = KorDeviceHandles::Get().GetService(device->Device(), &result, kKorSyncServiceName, nullptr, false);
  if (!service) {
    KLOG(WARNING) << "cannot start " << kKorSyncServiceName << " for " << data_class.name << ": " << result;
    return kKorSyncNoService;
  }
  const std::chrono::milliseconds timeout = KorSyncReplyTimeout();
  BoundReceives(service->Connection(), timeout);
  {
    KorSyncSession session(KorFrameworkIo(service->Connection()), data_class, handler, timeout);
    KorRunSyncSequence(session, sequence, KorComputerAnchor(KstLocalTimeNow()), pushes);
  }
  if (keep_service) *keep_service = std::move(service);
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

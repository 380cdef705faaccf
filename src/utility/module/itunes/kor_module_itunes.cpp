#include "utility/module/itunes/kor_module_itunes.h"

#include <chrono>
#include <ctime>
#include <thread>

#include "iOSAPI/kor_cf_value.h"
#include "iOSAPI/kor_service_message.h"
#include "platform/console_redirector.h"
#include "platform/kst_fs.h"
#include "platform/kst_log.h"
#include "platform/kst_process.h"
#include "platform/kst_socket.h"
#include "platform/vel_json_util.h"
#include "Tandrel/kor_process.h"
#include "utility/ios/kor_device.h"
#include "utility/ios/kor_device_handles.h"
#include "utility/kor_module_registry.h"
#include "utility/module/itunes/kor_backup_extract_event.h"
#include "utility/module/itunes/kor_backup_info_plist.h"
#include "utility/module/itunes/kor_backup_plist_file.h"
#include "utility/module/itunes/kor_backup_summary.h"
#include "utility/module/itunes/kor_backup_transfer.h"
#include "utility/module/itunes/kor_backup_wanted.h"

namespace {

constexpr const char* kServiceStartFailed = "DeviceOpenAFCServiceFail";
constexpr const char* kRestoreServiceStartFailed = "MonitorDeviceOpenAFCServiceFail";

std::string WithSlash(std::string folder) {
  if (folder.empty() || folder.back() != '/') folder += '/';
  return folder;
}

std::string JsonObjectText(const char* key, const std::string& value) {
  rapidjson::Document object(rapidjson::kObjectType);
  VelJsonUtil::AddJsonDictStringValue(object, object.GetAllocator(), key, value);
  return VelJsonUtil::ToString(object);
}

// True when the device reports the boolean value as true; domain values are read in a session.
bool DeviceFlag(const std::shared_ptr<KorDevice>& device, const char* domain, const char* key) {
  int result = 0;
  auto session = KorDeviceHandles::Get().GetSession(device->Device(), &result);
  if (!session) KLOG(WARNING) << "no session for reading " << domain << " " << key << ": " << result;
  KorValue value;
  return KorDeviceValue(device->Device(), domain, key, &value) && value.IsBool() && value.AsBool();
}

int64_t NowSeconds() { return static_cast<int64_t>(std::time(nullptr)); }

// The paths of a new backup under the root, named after the start second. A folder of that name
// already there (a backup started within the same second) is never shared: the name of the next
// second is taken instead.
KorBackupPaths NewBackupPaths(const std::string& root, const std::string& udid, int64_t* start) {
  for (;;) {
    *start = NowSeconds();
    KorBackupPaths paths(root, udid, KorBackupFolderSuffix(*start));
    if (!kst::PathExists(paths.Folder())) return paths;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
}

}  // namespace

KorModuleiTunes* KorModuleiTunes::Instance() { return KorModuleRegistry::Get().FindModule<KorModuleiTunes>(); }

int KorModuleiTunes::OnCommand(kst::IPCPacket* packet) {
  KorCommandPayload payload = KorParseCommandPayload(packet);
  DeviceCommand command;
  int early_reply = 0;
  if (!BeginDeviceCommand(packet, payload, &command, &early_reply)) return early_reply;
  const rapidjson::Document& json = command.json;
  const std::string& uuid = command.uuid;
  const std::shared_ptr<KorDevice>& device = command.device;
  if (payload.format != 1) return SendResult(packet, uuid, kKorOk);
  Reply reply = Dispatch(packet, payload, json, device);
  if (reply.message.empty()) return SendResult(packet, uuid, reply.code);
  return SendResult(packet, uuid, reply.code, JsonObjectText("error", reply.message));
}

KorModuleiTunes::Reply KorModuleiTunes::Dispatch(kst::IPCPacket* packet, const KorCommandPayload& payload,
                                                 const rapidjson::Value& json,
                                                 const std::shared_ptr<KorDevice>& device) {
  const bool needs_parameters = packet->command == kKorCommandBackup || packet->command == kKorCommandRestore ||
                                packet->command == kKorCommandListBackups ||
                                packet->command == kKorCommandBackupPassword;
  rapidjson::Document parameters;
  if (needs_parameters && !ParseCommandParameters(payload, &parameters)) return {kKorBadParameters, ""};
  switch (packet->command) {
    case kKorCommandBackup:
      return Backup(packet, parameters, device);
    case kKorCommandRestore:
      return Restore(packet, parameters, device);
    case kKorCommandListBackups:
      return ListBackups(packet, parameters, device->UniqueDeviceId());
    case kKorCommandFindMyDevice:
      return {DeviceFlag(device, "com.apple.fmip", "IsAssociated") ? kKorOk : kKorStateNo, ""};
    case kKorCommandBackupEncryption:
      return {DeviceFlag(device, "com.apple.mobile.backup", "WillEncrypt") ? kKorOk : kKorStateNo, ""};
    case kKorCommandBackupPassword:
      return ChangePassword(parameters, device);
    case kKorCommandMediaAppRunning:
      return {kst::AnyProcessMatches("*iTunes.exe*") ? kKorOk : kKorStateNo, ""};
    case kKorCommandEndMediaApp: {
      SyncRedirector redirector;
      int exit_code = -1;
      std::string output = redirector.RunProgram("pkill", {"-KILL", "-x", "iTunes.exe"}, &exit_code);
      KLOG(INFO) << "end media application: " << exit_code << " " << output;
      return {exit_code, ""};
    }
    case kKorCommandExtractDatabases:
      return Extract(packet, json, device);
    default:
      return {kKorOk, ""};
  }
}

void KorModuleiTunes::SendInfo(const kst::IPCPacket* packet, const std::string& uuid, int stage,
                               const std::string& info) {
  KorMessage message;
  message.stage = stage;
  message.uuid = uuid;
  message.info = info;
  SendIntermediate(packet, message);
}

std::shared_ptr<KorDeviceService> KorModuleiTunes::StartBackupService(const std::shared_ptr<KorDevice>& device) {
  KorCFHolder options = KorXmlToPropertyList(
      KorPlistDocument(KorPlistDict({{"UnlockEscrowBag", KorPlistBool(true)}}), KorPlistDoctype::kAppleComputer));
  int result = 0;
  auto service =
      KorDeviceHandles::Get().GetService(device->Device(), &result, kKorBackupService, options.As<CFDictionaryRef>(), false);
  if (!service) KLOG(WARNING) << "backup service did not start: " << result;
  return service;
}

KorBackupHooks KorModuleiTunes::TransferHooks(const kst::IPCPacket* packet, const std::shared_ptr<KorDevice>& device,
                                              const std::shared_ptr<KorDeviceService>& service) {
  KorBackupHooks hooks;
  hooks.device_gone = [device] { return device->State() == kKorDeviceGone; };
  hooks.stopped = [packet] { return IsStopped(packet); };
  const std::string udid = device->UniqueDeviceId();
  hooks.progress = [packet, udid](int hundredths) {
    KorMessage message;
    message.stage = 1;
    message.code = hundredths;
    message.uuid = udid;
    SendIntermediate(packet, message);
  };
  AMDServiceConnectionRef connection = service->Connection();
  hooks.interrupt = [connection] {
    // Shutting the socket down wakes the receive that waits for the device.
    kst::KstSocket socket(MobileApi().AMDServiceConnectionGetSocket(connection));
    socket.Shutdown();
    socket.Release();
  };
  return hooks;
}

KorModuleiTunes::Reply KorModuleiTunes::Backup(kst::IPCPacket* packet, const rapidjson::Value& parameters,
                                               const std::shared_ptr<KorDevice>& device) {
  std::string root;
  VelJsonUtil::GetString(parameters, "path", &root);
  root = WithSlash(root.empty() ? KorDefaultBackupRoot() : root);
  if (!kst::IsDirectory(root) && !kst::CreateDirectories(root)) KLOG(WARNING) << "backup root not created: " << root;
  const std::string udid = device->UniqueDeviceId();
  int64_t start = 0;
  KorBackupPaths paths = NewBackupPaths(root, udid, &start);
  kst::CreateDirectories(paths.Folder());
  SendInfo(packet, udid, 0, JsonObjectText("BackupDir", paths.Folder()));

  int result = 0;
  auto afc = KorDeviceHandles::Get().GetService(device->Device(), &result, kKorAfcService, nullptr, true);
  if (!KorWriteBackupInfoPlist(device, afc ? afc->Afc() : nullptr, paths.Folder(), start)) {
    KLOG(WARNING) << "Info.plist not written in " << paths.Folder();
  }
  auto service = StartBackupService(device);
  if (!service) {
    kst::RemoveTree(paths.Folder());
    return {kKorNoAfcService, kServiceStartFailed};
  }
  KorBackupTransfer transfer(KorFrameworkIo(service->Connection()), paths, TransferHooks(packet, device, service));
  transfer.Greet();
  transfer.RequestBackup(udid);
  KorBackupOutcome outcome = transfer.RunBackup();
  KLOG(INFO) << "backup of " << udid << " ended: " << outcome.code << " " << outcome.message;
  return {outcome.code, outcome.message};
}

KorModuleiTunes::Reply KorModuleiTunes::Restore(kst::IPCPacket* packet, const rapidjson::Value& parameters,
                                                const std::shared_ptr<KorDevice>& device) {
  std::string folder;
  std::string source;
  std::string password;
  if (!VelJsonUtil::GetString(parameters, "path", &folder) ||
      !VelJsonUtil::GetString(parameters, "sourceDeviceId", &source) ||
      !VelJsonUtil::GetString(parameters, "password", &password)) {
    return {kKorBadJson, "ParameterError"};
  }
  KorValue manifest;
  if (!KorReadPlistFile(WithSlash(folder) + "Manifest.plist", &manifest)) {
    return {kKorBackupManifestUnreadable, "BackupManifestPlistError"};
  }
  KorValue encrypted = manifest.AsDictionary()->Get("IsEncrypted");
  std::optional<std::string> request_password;
  if (encrypted.IsBool() && encrypted.AsBool()) request_password = password;
  auto service = StartBackupService(device);
  if (!service) return {kKorNoAfcService, kRestoreServiceStartFailed};
  const std::string udid = device->UniqueDeviceId();
  KorBackupTransfer transfer(KorFrameworkIo(service->Connection()), KorBackupPaths::ForFolder(folder, source),
                             TransferHooks(packet, device, service));
  transfer.Greet();
  transfer.RequestRestore(source, udid, request_password);
  KorBackupOutcome outcome = transfer.RunRestore();
  KLOG(INFO) << "restore of " << folder << " onto " << udid << " ended: " << outcome.code << " " << outcome.message;
  return {outcome.code, outcome.message};
}

KorModuleiTunes::Reply KorModuleiTunes::ListBackups(kst::IPCPacket* packet, const rapidjson::Value& parameters,
                                                    const std::string& uuid) {
  const rapidjson::Value* list = VelJsonUtil::GetArray(parameters, "paths");
  if (!list) return {kKorBadJson, ""};
  std::vector<std::string> roots;
  for (const auto& entry : list->GetArray()) {
    if (entry.IsString()) roots.emplace_back(entry.GetString(), entry.GetStringLength());
  }
  std::vector<std::pair<std::string, rapidjson::Document>> found;
  for (const std::string& folder : KorFindBackupFolders(roots, KorDefaultBackupRoot())) {
    rapidjson::Document summary;
    if (!KorReadBackupSummary(folder, &summary)) continue;
    SendInfo(packet, uuid, 0, VelJsonUtil::ToString(summary));
    found.emplace_back(folder, std::move(summary));
  }
  for (auto& [folder, summary] : found) {
    VelJsonUtil::AddJsonDictInt64Value(summary, summary.GetAllocator(), "Size", KorFolderSize(folder));
    SendInfo(packet, uuid, 1, VelJsonUtil::ToString(summary));
  }
  return {kKorOk, ""};
}

KorModuleiTunes::Reply KorModuleiTunes::ChangePassword(const rapidjson::Value& parameters,
                                                       const std::shared_ptr<KorDevice>& device) {
  std::string password;
  if (!VelJsonUtil::GetString(parameters, "password", &password)) return {kKorBadParameters, ""};
  SyncRedirector redirector;
  int exit_code = -1;
  std::string output = redirector.RunProgram(
      "idevicebackup2", {"-u", device->UniqueDeviceId(), "encryption", "on", password}, &exit_code);
  KLOG(INFO) << "idevicebackup2 encryption: exit " << exit_code << ": " << output;
  return {DeviceFlag(device, "com.apple.mobile.backup", "WillEncrypt") ? kKorOk : kKorStateNo, ""};
}

KorModuleiTunes::Reply KorModuleiTunes::Extract(kst::IPCPacket* packet, const rapidjson::Value& json,
                                                const std::shared_ptr<KorDevice>& device) {
  const rapidjson::Value* info = VelJsonUtil::GetObject(json, "info");
  const rapidjson::Value* types = info ? VelJsonUtil::GetArray(*info, "types") : nullptr;
  if (!types) return {kKorBadJson, ""};
  std::vector<int> wanted_types;
  for (const auto& type : types->GetArray()) {
    if (type.IsInt()) wanted_types.push_back(type.GetInt());
  }
  KorWantedTable wanted(wanted_types);
  const std::string root = KorProcess::Get().WorkFolder() + "Backup0/";
  kst::CreateDirectories(root);
  const std::string udid = device->UniqueDeviceId();
  int64_t start = 0;
  KorBackupPaths paths = NewBackupPaths(root, udid, &start);
  kst::CreateDirectories(paths.Folder());
  auto service = StartBackupService(device);
  if (!service) {
    kst::RemoveTree(paths.Folder());
    return {kKorNoAfcService, kServiceStartFailed};
  }
  KorBackupHooks hooks = TransferHooks(packet, device, service);
  hooks.file_arrived = [this, packet, device, &wanted](const std::string& local_path) {
    wanted.NoteFile(local_path);
    for (const KorWantedEntry& entry : wanted.TakeArrived()) {
      KLOG(INFO) << "extracted " << entry.name << " to " << entry.main.local_path;
      KorBackupExtractEvent event{packet, device, entry.name, entry.main.local_path};
      Notify(&event, kKorItunesBackupExtractFile);
    }
    return wanted.AllNotified();
  };
  KorBackupTransfer transfer(KorFrameworkIo(service->Connection()), paths, hooks);
  transfer.Greet();
  transfer.RequestBackup(udid);
  KorBackupOutcome outcome = transfer.RunBackup();
  if (outcome.code == kKorOk && !outcome.all_wanted_arrived && !wanted.AllNotified()) {
    return {kKorExtractIncomplete, ""};
  }
  return {outcome.code, outcome.message};
}

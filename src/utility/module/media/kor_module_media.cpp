#include "utility/module/media/kor_module_media.h"

#include "platform/vel_json_util.h"
#include "utility/ios/kor_device.h"
#include "utility/ios/kor_device_handles.h"
#include "utility/ios/kor_device_monitor.h"
#include "utility/module/media/kor_media_books.h"
#include "utility/module/media/kor_media_library.h"
#include "utility/module/media/kor_media_recordings.h"
#include "utility/module/media/kor_recording_collector.h"

namespace {

// 1011 acts on the item pids the front-end names; only their presence is checked.
bool HasItemPids(const rapidjson::Value& json) {
  const rapidjson::Value* info = VelJsonUtil::GetObject(json, "info");
  return info && VelJsonUtil::GetArray(*info, "item_pids") != nullptr;
}

}  // namespace

int KorModuleMedia::OnCommand(kst::IPCPacket* packet) {
  return RunDeviceCommand(packet, [this, packet](const KorCommandPayload& payload, const DeviceCommand& begun) -> int {
    if (packet->command == kKorCommandMediaItems) return HasItemPids(begun.json) ? kKorOk : kKorBadParameters;
    int result = 0;
    auto afc = KorDeviceHandles::Get().GetService(begun.device->Device(), &result, kKorAfcService, nullptr, true);
    if (!afc) return kKorNoAfcService;
    KorMediaCommand command;
    command.packet = packet;
    command.payload = &payload;
    command.json = &begun.json;
    command.uuid = begun.device->UniqueDeviceId();
    command.device = begun.device;
    command.afc = afc->Afc();
    command.staging_mutex = &module_mutex_;
    return Run(&command);
  });
}


int KorModuleMedia::Run(KorMediaCommand* command) {
  switch (command->packet->command) {
    case kKorCommandMusicList:
      return KorListMusicLibrary(*command);
    case kKorCommandPlaylistItems:
      return KorListPlaylistItems(*command);
    case kKorCommandBooksAndRingtones:
      return KorListBooksAndRingtones(*command);
    case kKorCommandRecordings:
      return KorListRecordings(*command);
    case kKorCommandAddBook:
      return KorAddBook(*command);
    case kKorCommandRemoveBooks:
      return KorRemoveBooks(*command);
    default:
      return kKorOk;
  }
}

int KorModuleMedia::CollectRecordings(const std::string& uuid, std::vector<KorRecording>* out) {
  std::shared_ptr<KorDevice> device = KorDeviceMonitor::Get().FindDevice(uuid, INT64_MIN);
  if (!device) return kKorNoDevice;
  int result = 0;
  auto afc = KorDeviceHandles::Get().GetService(device->Device(), &result, kKorAfcService, nullptr, true);
  if (!afc) return kKorNoAfcService;
  return KorCollectRecordings(*device, afc->Afc(), &module_mutex_, out);
}

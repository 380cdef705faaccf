#include "utility/module/file/kor_module_file.h"

#include "platform/kst_log.h"
#include "platform/qr_task.h"
#include "platform/vel_json_util.h"
#include "utility/ios/kor_device.h"
#include "utility/ios/kor_device_monitor.h"
#include "utility/module/file/kor_file_export.h"
#include "utility/module/file/kor_file_transfer.h"

namespace {

constexpr int kStageOpen = 1;
constexpr int kStageContinue = 2;
constexpr int kStageEnd = 3;

std::shared_ptr<KorFileTransfer> TransferOf(const std::shared_ptr<QrTask>& task) {
  return task ? std::static_pointer_cast<KorFileTransfer>(task->GetTaskState()) : nullptr;
}

// Releases the task's transfer (closing its reader or writer) and reports the task finished.
void EndTransfer(const std::shared_ptr<QrTask>& task) {
  if (task) task->SetTaskState(nullptr);
}

std::shared_ptr<KorDeviceService> AfcOf(const std::shared_ptr<KorDevice>& device) {
  int result = 0;
  return KorDeviceHandles::Get().GetService(device->Device(), &result, kKorAfcService, nullptr, true);
}

}  // namespace

KorFileTransfer::~KorFileTransfer() {
  if (reader) KLOG(INFO) << "DoDownloadNewMode->readerData";
  if (writer) KLOG(INFO) << "DoUploadNewMode->writerData";
  reader.reset();
  writer.reset();
}

int KorModuleFile::OnCommand(kst::IPCPacket* packet) {
  KorCommandPayload payload = KorParseCommandPayload(packet);
  rapidjson::Document json;
  if (!ParseCommandJson(payload, &json)) return SendResult(packet, "", kKorBadParameters);
  std::string uuid;
  VelJsonUtil::GetString(json, "uuid", &uuid);
  if (IsStopped(packet)) return FinishStopped(packet, uuid);
  std::shared_ptr<KorDevice> device = FindCommandDevice(json, false);
  if (!device) return SendResult(packet, uuid, kKorNoDevice);
  if (payload.format != 1) return SendResult(packet, uuid, kKorOk);
  switch (packet->command) {
    case kKorCommandExport:
      return SendResult(packet, uuid, Export(packet, payload, device));
    case kKorCommandDownload:
      return Download(packet, payload, json, device);
    case kKorCommandUpload:
      return Upload(packet, payload, json, device);
    default:
      return SendResult(packet, uuid, kKorOk);
  }
}

int KorModuleFile::Export(kst::IPCPacket* packet, const KorCommandPayload& payload,
                          const std::shared_ptr<KorDevice>& device) {
  rapidjson::Document parameters;
  if (!ParseCommandParameters(payload, &parameters)) return kKorBadParameters;
  std::string folder;
  const rapidjson::Value* items = VelJsonUtil::GetArray(parameters, "items");
  if (!VelJsonUtil::GetString(parameters, "folder", &folder) || !items) return kKorBadParameters;
  auto afc = AfcOf(device);
  if (!afc) return kKorNoAfcService;
  std::string udid = device->UniqueDeviceId();
  for (const auto& item : items->GetArray()) {
    if (IsStopped(packet)) return kKorStopped;
    std::string path;
    std::string name;
    if (!item.IsObject() || !VelJsonUtil::GetString(item, "path", &path) || path.empty()) continue;
    if (!VelJsonUtil::GetString(item, "name", &name) || name.empty()) name = KorAfcLastComponent(path);
    KorExportedItem exported;
    if (!KorExportItem(afc->Afc(), path, name, folder, &exported)) continue;
    rapidjson::Document info(rapidjson::kObjectType);
    VelJsonUtil::AddJsonDictStringValue(info, info.GetAllocator(), "native_path", exported.native_path);
    VelJsonUtil::AddJsonDictStringValue(info, info.GetAllocator(), "name", exported.name);
    KorMessage message;
    message.stage = 2;
    message.uuid = udid;
    message.info = VelJsonUtil::ToString(info);
    SendIntermediate(packet, message);
  }
  return kKorOk;
}

int KorModuleFile::Download(kst::IPCPacket* packet, const KorCommandPayload& payload, const rapidjson::Value& json,
                            const std::shared_ptr<KorDevice>& device) {
  int stage = 0;
  VelJsonUtil::GetInt(json, "stage", &stage);
  std::string uuid = device->UniqueDeviceId();
  if (stage == kStageOpen) return OpenDownload(packet, payload, device);
  if (stage == kStageContinue) return SendDownloadBlock(packet, payload, uuid);
  EndTransfer(FindCommandTask(packet));
  return SendResult(packet, uuid, kKorOk);
}

int KorModuleFile::OpenDownload(kst::IPCPacket* packet, const KorCommandPayload& payload,
                                const std::shared_ptr<KorDevice>& device) {
  std::string uuid = device->UniqueDeviceId();
  rapidjson::Document parameters;
  std::string path;
  if (!ParseCommandParameters(payload, &parameters) || !VelJsonUtil::GetString(parameters, "path", &path)) {
    return SendResult(packet, uuid, kKorBadParameters);
  }
  auto transfer = std::make_shared<KorFileTransfer>();
  transfer->afc = AfcOf(device);
  if (!transfer->afc) return SendResult(packet, uuid, kKorNoAfcService);
  transfer->reader = std::make_unique<FilePacketReader>(transfer->afc->Afc(), path);
  if (!transfer->reader->Open()) {
    KLOG(WARNING) << "download: " << path << " is missing, empty or unreadable";
    return SendResult(packet, uuid, kKorFileUnreadable);
  }
  auto task = FindCommandTask(packet);
  if (!task) return FinishStopped(packet, uuid);
  task->SetTaskState(transfer);
  KorMessage message;
  message.stage = kStageOpen;
  message.uuid = uuid;
  message.info = transfer->reader->Description();
  SendIntermediate(packet, message);
  return kKorOk;
}

int KorModuleFile::SendDownloadBlock(kst::IPCPacket* packet, const KorCommandPayload& payload,
                                     const std::string& uuid) {
  auto task = FindCommandTask(packet);
  auto transfer = TransferOf(task);
  if (!transfer || !transfer->reader) return SendResult(packet, uuid, kKorNoTransfer);
  rapidjson::Document request;
  FileBlockMessage block;
  if (!ParseCommandParameters(payload, &request) || !ParseFileBlockMessage(request, &block)) {
    return SendResult(packet, uuid, kKorBadParameters);
  }
  const uint8_t* data = nullptr;
  uint32_t length = 0;
  if (!transfer->reader->ReadBlock(block, &data, &length)) {
    EndTransfer(task);
    return SendResult(packet, uuid, kKorFileUnreadable);
  }
  KorMessage message;
  message.stage = kStageContinue;
  message.uuid = uuid;
  message.type = kKorMessageTypeRaw;
  message.info = VelJsonUtil::ToString(request);
  message.attachment = data;
  message.attachment_length = length;
  SendIntermediate(packet, message);
  if (!transfer->reader->AllBlocksRead()) return kKorOk;
  EndTransfer(task);
  return SendResult(packet, uuid, kKorOk);
}

int KorModuleFile::Upload(kst::IPCPacket* packet, const KorCommandPayload& payload, const rapidjson::Value& json,
                          const std::shared_ptr<KorDevice>& device) {
  int stage = 0;
  VelJsonUtil::GetInt(json, "stage", &stage);
  std::string uuid = device->UniqueDeviceId();
  if (stage == kStageOpen) return OpenUpload(packet, payload, json, device);
  if (stage == kStageContinue) return WriteUploadBlock(packet, payload, json, uuid);
  EndTransfer(FindCommandTask(packet));
  return SendResult(packet, uuid, kKorOk);
}

namespace {

// Where an upload goes: "dir" + name, or "/Books/" + name for media 0, or name alone for other media.
bool UploadDestination(const rapidjson::Value& json, std::string* destination) {
  const rapidjson::Value* info = VelJsonUtil::GetObject(json, "info");
  std::string name;
  if (!info || !VelJsonUtil::GetString(*info, "name", &name) || name.empty() ||
      name.find('/') != std::string::npos) {
    return false;
  }
  int64_t media = 0;
  std::string folder;
  if (VelJsonUtil::GetInt64(*info, "media", &media)) {
    folder = media == 0 ? "/Books/" : "";
  } else if (!VelJsonUtil::GetString(*info, "dir", &folder)) {
    return false;
  }
  if (!folder.empty() && folder.back() != '/') folder.push_back('/');
  *destination = folder + name;
  return true;
}

}  // namespace

int KorModuleFile::OpenUpload(kst::IPCPacket* packet, const KorCommandPayload& payload, const rapidjson::Value& json,
                              const std::shared_ptr<KorDevice>& device) {
  std::string uuid = device->UniqueDeviceId();
  std::string destination;
  rapidjson::Document description;
  if (!UploadDestination(json, &destination) || !ParseCommandParameters(payload, &description)) {
    return SendResult(packet, uuid, kKorBadParameters);
  }
  auto transfer = std::make_shared<KorFileTransfer>();
  transfer->afc = AfcOf(device);
  if (!transfer->afc) return SendResult(packet, uuid, kKorNoAfcService);
  transfer->writer = std::make_unique<FilePacketWriter>(transfer->afc->Afc(), destination);
  int state = transfer->writer->Open(description);
  if (state != kFilePacketReady) {
    KLOG(WARNING) << "upload to " << destination << " could not start: state " << state;
    return SendResult(packet, uuid, kKorFileNotWritable);
  }
  auto task = FindCommandTask(packet);
  if (!task) return FinishStopped(packet, uuid);
  task->SetTaskState(std::move(transfer));
  return RequestNextBlock(packet, uuid);
}

int KorModuleFile::WriteUploadBlock(kst::IPCPacket* packet, const KorCommandPayload& payload,
                                    const rapidjson::Value& json, const std::string& uuid) {
  auto task = FindCommandTask(packet);
  auto transfer = TransferOf(task);
  if (!transfer || !transfer->writer) return SendResult(packet, uuid, kKorNoTransfer);
  const rapidjson::Value* info = VelJsonUtil::GetObject(json, "info");
  FileBlockMessage block;
  if (!ParseFileBlockMessage(info ? *info : json, &block)) return SendResult(packet, uuid, kKorBadParameters);
  if (transfer->writer->WriteBlock(block, payload.attachment, payload.attachment_length) != kFilePacketReady) {
    KLOG(WARNING) << "upload block " << block.id << " was not written; it will be asked for again";
  }
  // The task alone must own the transfer when the last block ends it, so that the file is in
  // place before the final reply goes out.
  transfer.reset();
  return RequestNextBlock(packet, uuid);
}

int KorModuleFile::RequestNextBlock(kst::IPCPacket* packet, const std::string& uuid) {
  auto task = FindCommandTask(packet);
  auto transfer = TransferOf(task);
  if (!transfer || !transfer->writer) return FinishStopped(packet, uuid);
  KorMessage message;
  message.uuid = uuid;
  if (auto next = transfer->writer->NextRequest()) {
    std::string request = FileBlockMessageJson(*next);
    message.stage = kStageContinue;
    message.attachment = reinterpret_cast<const uint8_t*>(request.data());
    message.attachment_length = request.size();
    SendIntermediate(packet, message);
    return kKorOk;
  }
  rapidjson::Document state(rapidjson::kObjectType);
  VelJsonUtil::AddJsonDictIntValue(state, state.GetAllocator(), "status", kFilePacketReady);
  VelJsonUtil::AddJsonDictStringValue(state, state.GetAllocator(), "path", transfer->writer->Destination());
  message.stage = kStageEnd;
  message.info = VelJsonUtil::ToString(state);
  transfer.reset();
  EndTransfer(task);  // the writer puts the file in place, as the last owner

  SendIntermediate(packet, message);
  return SendResult(packet, uuid, kKorOk);
}

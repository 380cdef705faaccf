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

// Releases the task's transfer (closing its reader or writer).
void EndTransfer(const std::shared_ptr<QrTask>& task) {
  if (task) task->SetTaskState(nullptr);
}

// The info of an opening message whose description travels as its attachment.
const char* const kDescriptionInAttachment = R"({"description":"attachment"})";

int StageOf(const rapidjson::Value& json) {
  int stage = 0;
  VelJsonUtil::GetInt(json, "stage", &stage);
  return stage;
}

bool IsStagedCommand(uint32_t command) { return command == kKorCommandDownload || command == kKorCommandUpload; }

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
  if (IsLateTransferPacket(packet, json)) {
    KLOG(INFO) << "stage-" << StageOf(json) << " packet of task " << KorTaskIdText(packet)
               << " arrived after its transfer ended; dropped";
    FinishSilently(packet);
    return kKorOk;
  }
  if (IsStopped(packet)) return FinishStopped(packet, uuid);
  std::shared_ptr<KorDevice> device = FindCommandDevice(json, false);
  if (!device) return SendResult(packet, uuid, kKorNoDevice);
  if (payload.format != 1) return SendResult(packet, uuid, kKorOk);
  switch (packet->command) {
    case kKorCommandExport:
      return SendResult(packet, uuid, Export(packet, payload, device));
    case kKorCommandDownload:
    case kKorCommandUpload:
      return StagedTransfer(packet, payload, json, device);
    default:
      return SendResult(packet, uuid, kKorOk);
  }
}

int KorModuleFile::StagedTransfer(kst::IPCPacket* packet, const KorCommandPayload& payload,
                                  const rapidjson::Value& json, const std::shared_ptr<KorDevice>& device) {
  int stage = StageOf(json);
  std::string uuid = device->UniqueDeviceId();
  bool download = packet->command == kKorCommandDownload;
  if (stage == kStageOpen) {
    RememberOpenedTransfer(packet);
    return download ? OpenDownload(packet, payload, device) : OpenUpload(packet, payload, json, device);
  }
  if (stage != kStageContinue && stage != kStageEnd) {
    KLOG(WARNING) << "staged transfer of task " << KorTaskIdText(packet) << ": stage " << stage
                  << " is not 1, 2 or 3";
    return SendResult(packet, uuid, kKorBadParameters);
  }
  auto transfer = TransferOf(CommandTask(packet));
  if (!transfer || !(download ? static_cast<bool>(transfer->reader) : static_cast<bool>(transfer->writer))) {
    return SendResult(packet, uuid, kKorNoTransfer);
  }
  transfer.reset();
  if (stage == kStageEnd) return SendResult(packet, uuid, kKorOk);
  return download ? SendDownloadBlock(packet, payload, uuid) : WriteUploadBlock(packet, payload, json, uuid);
}

bool KorModuleFile::IsLateTransferPacket(const kst::IPCPacket* packet, const rapidjson::Value& json) {
  if (!IsStagedCommand(packet->command) || StageOf(json) == kStageOpen || TransferOf(CommandTask(packet))) return false;
  std::lock_guard<std::mutex> lock(module_mutex_);
  return opened_transfers_.count(KorTaskIdText(packet)) != 0;
}

void KorModuleFile::RememberOpenedTransfer(const kst::IPCPacket* packet) {
  std::lock_guard<std::mutex> lock(module_mutex_);
  if (!opened_transfers_.insert(KorTaskIdText(packet)).second) return;
  opened_order_.push_back(KorTaskIdText(packet));
  if (opened_order_.size() > kMaxRememberedTransfers) {
    opened_transfers_.erase(opened_order_.front());
    opened_order_.pop_front();
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
    if (SendIntermediate(packet, message) != kKorOk) return kKorMessageNotSent;
  }
  return kKorOk;
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
  std::string description = transfer->reader->Description();
  KorMessage message;
  message.stage = kStageOpen;
  message.uuid = uuid;
  message.info = description;
  if (!KorMessageTextFits(message)) {
    // A large file's block plan outgrows the message text: it goes as the compressed attachment.
    message.info = kDescriptionInAttachment;
    message.type = kKorMessageTypeCompressed;
    message.attachment = reinterpret_cast<const uint8_t*>(description.data());
    message.attachment_length = description.size();
  }
  return SendIntermediate(packet, message);
}

int KorModuleFile::SendDownloadBlock(kst::IPCPacket* packet, const KorCommandPayload& payload,
                                     const std::string& uuid) {
  auto task = CommandTask(packet);
  auto transfer = TransferOf(task);
  if (!transfer || !transfer->reader) return SendResult(packet, uuid, kKorNoTransfer);
  rapidjson::Document request;
  FileBlockMessage block;
  if (!ParseCommandParameters(payload, &request) || !ParseFileBlockMessage(request, &block)) {
    KLOG(WARNING) << "download of task " << KorTaskIdText(packet) << ": block request does not parse";
    return SendResult(packet, uuid, kKorBadParameters);
  }
  const uint8_t* data = nullptr;
  uint32_t length = 0;
  if (!transfer->reader->ReadBlock(block, &data, &length)) {
    KLOG(WARNING) << "download of task " << KorTaskIdText(packet) << ": block " << block.id << " cannot be read";
    return SendResult(packet, uuid, kKorFileUnreadable);
  }
  KorMessage message;
  message.stage = kStageContinue;
  message.uuid = uuid;
  message.type = kKorMessageTypeRaw;
  message.info = VelJsonUtil::ToString(request);
  message.attachment = data;
  message.attachment_length = length;
  int sent = SendIntermediate(packet, message);
  if (sent != kKorOk) return sent;
  if (!transfer->reader->AllBlocksRead()) return kKorOk;
  transfer.reset();
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
    return SendResult(packet, uuid, state == kFilePacketBadDescription ? kKorBadParameters : kKorFileNotWritable);
  }
  auto task = FindCommandTask(packet);
  if (!task) return FinishStopped(packet, uuid);
  task->SetTaskState(std::move(transfer));
  return RequestNextBlock(packet, uuid);
}

int KorModuleFile::WriteUploadBlock(kst::IPCPacket* packet, const KorCommandPayload& payload,
                                    const rapidjson::Value& json, const std::string& uuid) {
  auto transfer = TransferOf(CommandTask(packet));
  if (!transfer || !transfer->writer) return SendResult(packet, uuid, kKorNoTransfer);
  const rapidjson::Value* info = VelJsonUtil::GetObject(json, "info");
  FileBlockMessage block;
  if (!ParseFileBlockMessage(info ? *info : json, &block)) {
    KLOG(WARNING) << "upload of task " << KorTaskIdText(packet) << ": block message does not parse";
    return SendResult(packet, uuid, kKorBadParameters);
  }
  if (transfer->writer->WriteBlock(block, payload.attachment, payload.attachment_length) != kFilePacketReady) {
    KLOG(WARNING) << "upload block " << block.id << " was not written; it will be asked for again";
  }
  // The task alone must own the transfer when the last block ends it, so that the file is in
  // place before the final reply goes out.
  transfer.reset();
  return RequestNextBlock(packet, uuid);
}

int KorModuleFile::RequestNextBlock(kst::IPCPacket* packet, const std::string& uuid) {
  auto task = CommandTask(packet);
  auto transfer = TransferOf(task);
  if (!transfer || !transfer->writer) return FinishStopped(packet, uuid);
  KorMessage message;
  message.uuid = uuid;
  if (auto next = transfer->writer->NextRequest()) {
    std::string request = FileBlockMessageJson(*next);
    message.stage = kStageContinue;
    message.attachment = reinterpret_cast<const uint8_t*>(request.data());
    message.attachment_length = request.size();
    return SendIntermediate(packet, message);
  }
  rapidjson::Document state(rapidjson::kObjectType);
  VelJsonUtil::AddJsonDictIntValue(state, state.GetAllocator(), "status", kFilePacketReady);
  VelJsonUtil::AddJsonDictStringValue(state, state.GetAllocator(), "path", transfer->writer->Destination());
  message.stage = kStageEnd;
  message.info = VelJsonUtil::ToString(state);
  transfer.reset();
  EndTransfer(task);  // the writer puts the file in place, as the last owner
  int sent = SendIntermediate(packet, message);
  if (sent != kKorOk) return sent;
  return SendResult(packet, uuid, kKorOk);
}

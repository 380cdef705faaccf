#include "ipc/file_packet_writer.h"

#include "iOSAPI/mobile_export_fun.h"
#include "platform/kst_log.h"
#include "platform/vel_json_util.h"

namespace {

constexpr size_t kMaxStateFileBytes = 256u * 1024 * 1024;

}  // namespace

FilePacketWriter::FilePacketWriter(AFCConnectionRef afc, std::string destination)
    : afc_(afc),
      destination_(std::move(destination)),
      data_path_(destination_ + ".bak"),
      state_path_(destination_ + ".json") {}

FilePacketWriter::~FilePacketWriter() {
  data_file_.Close();
  if (!open_) return;
  KorAfcRemovePath(afc_, state_path_);
  if (Complete()) {
    if (MobileApi().AFCRenamePath(afc_, data_path_.c_str(), destination_.c_str()) != kAFCSuccess) {
      KLOG(ERROR) << "upload finished but " << data_path_ << " could not be renamed to " << destination_;
    }
  } else {
    KorAfcRemovePath(afc_, data_path_);
  }
}

int FilePacketWriter::Open(const rapidjson::Value& description) {
  if (!ParseDescription(description, &description_) || description_.version != "1" ||
      !ParsePlan(description, description_.size, &plan_)) {
    return kFilePacketBadDescription;
  }
  for (auto& [name, block] : plan_) block.written = false;
  KorAfcFileInfo existing;
  int state;
  if (KorAfcStat(afc_, data_path_, &existing) && existing.size == static_cast<int64_t>(description_.size)) {
    KorAfcFileInfo state_info;
    state = KorAfcStat(afc_, state_path_, &state_info) ? ResumeFromStateFile() : WriteStateFile();
  } else {
    state = CreateDataFile();
    if (state == kFilePacketReady) state = WriteStateFile();
  }
  if (state != kFilePacketReady) return state;
  if (!data_file_.Open(afc_, data_path_, kKorAfcModeWrite)) return kFilePacketFailed;
  open_ = true;
  return kFilePacketReady;
}

int FilePacketWriter::CreateDataFile() {
  KorAfcFile file(afc_, data_path_, kKorAfcModeWrite);
  if (!file.IsOpen() || !file.SetSize(description_.size)) return kFilePacketCannotCreate;
  return kFilePacketReady;
}

int FilePacketWriter::ResumeFromStateFile() {
  KorAfcFile file(afc_, state_path_, kKorAfcModeRead);
  if (!file.IsOpen()) return kFilePacketFailed;
  KorAfcFileInfo info;
  if (!KorAfcStat(afc_, state_path_, &info) || info.size < 0 || static_cast<size_t>(info.size) > kMaxStateFileBytes) {
    return kFilePacketFailed;
  }
  std::string text(static_cast<size_t>(info.size), '\0');
  int64_t read = text.empty() ? 0 : file.ReadFully(text.data(), static_cast<uint32_t>(text.size()));
  text.resize(read < 0 ? 0 : static_cast<size_t>(read));
  rapidjson::Document state;
  std::string version;
  FilePacketPlan saved;
  if (VelJsonUtil::Parse(text, &state) && VelJsonUtil::GetString(state, "version", &version) &&
      version == "1" && version == description_.version && ParsePlan(state, description_.size, &saved)) {
    plan_ = saved;
    return kFilePacketReady;
  }
  return WriteStateFile();
}

int FilePacketWriter::WriteStateFile() {
  FileDescription saved = description_;
  saved.path = KorAfcLastComponent(data_path_);
  std::string text = VelJsonUtil::ToPrettyString(DescriptionJson(saved, plan_));
  KorAfcFile file(afc_, state_path_, kKorAfcModeWrite);
  // The state file may be left from an earlier, longer plan: cut it before writing.
  if (!file.IsOpen() || !file.SetSize(0) || !file.Write(text.data(), static_cast<uint32_t>(text.size()))) {
    return kFilePacketFailed;
  }
  return kFilePacketReady;
}

int FilePacketWriter::WriteBlock(const FileBlockMessage& message, const uint8_t* bytes, size_t length) {
  auto found = plan_.find(std::to_string(message.id));
  if (!open_ || found == plan_.end() || !bytes) return kFilePacketFailed;
  FilePacketBlock& block = found->second;
  // The bytes must fall inside their block.
  if (message.offset < block.offset || length > block.length ||
      message.offset - block.offset > block.length - length) {
    KLOG(WARNING) << "upload block " << message.id << " at " << message.offset << " (" << length
                  << " bytes) lies outside its block";
    return kFilePacketFailed;
  }
  if (!data_file_.Seek(message.offset) || !data_file_.Write(bytes, static_cast<uint32_t>(length))) {
    return kFilePacketFailed;
  }
  block.received += message.offset_length;
  if (block.received == block.length) block.written = true;
  return kFilePacketReady;
}

std::optional<FileBlockMessage> FilePacketWriter::NextRequest() const {
  for (const auto& [name, block] : plan_) {
    if (!block.written) return FileBlockMessage{block.number, block.offset, block.length};
  }
  return std::nullopt;
}

bool FilePacketWriter::Complete() const { return !plan_.empty() && !NextRequest(); }

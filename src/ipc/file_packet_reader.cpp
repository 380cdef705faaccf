#include "ipc/file_packet_reader.h"

#include "platform/vel_json_util.h"

namespace {

// The reader does not checksum; the front-end ignores this text.
const std::string kReaderChecksum = "a";

}  // namespace

FilePacketReader::FilePacketReader(AFCConnectionRef afc, std::string device_path, uint64_t block_size)
    : afc_(afc), device_path_(std::move(device_path)), block_size_(block_size) {}

bool FilePacketReader::Open() {
  KorAfcFileInfo info;
  if (!KorAfcStat(afc_, device_path_, &info) || info.size <= 0) return false;
  if (block_size_ == 0 || block_size_ > kKorTransferBufferSize) return false;
  if (!file_.Open(afc_, device_path_, kKorAfcModeRead)) return false;
  description_.size = static_cast<uint64_t>(info.size);
  description_.md5 = kReaderChecksum;
  description_.file_name = KorAfcLastComponent(device_path_);
  plan_ = PlanBlocks(description_.size, block_size_);
  return true;
}

std::string FilePacketReader::Description() const {
  return VelJsonUtil::ToString(DescriptionJson(description_, plan_));
}

bool FilePacketReader::ReadBlock(const FileBlockMessage& message, const uint8_t** data, uint32_t* length) {
  auto found = plan_.find(std::to_string(message.id));
  if (found == plan_.end() || !file_.IsOpen()) return false;
  FilePacketBlock& block = found->second;
  std::vector<uint8_t>& buffer = KorTransferBuffer();
  if (!file_.Seek(block.offset)) return false;
  int64_t read = file_.ReadFully(buffer.data(), static_cast<uint32_t>(block.length));
  if (read < 0) return false;
  if (!block.written) {
    block.written = true;
    ++blocks_read_;
  }
  *data = buffer.data();
  *length = static_cast<uint32_t>(read);
  return true;
}

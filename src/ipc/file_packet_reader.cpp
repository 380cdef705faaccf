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

int64_t FilePacketReader::ReadInto(const FilePacketBlock& block, uint8_t* buffer) {
  // Blocks are usually asked for in order, so the file often stands at the offset already.
  if (position_ != block.offset && !file_.Seek(block.offset)) return -1;
  int64_t read = file_.ReadFully(buffer, static_cast<uint32_t>(block.length));
  position_ = read < 0 ? UINT64_MAX : block.offset + static_cast<uint64_t>(read);
  return read;
}

void FilePacketReader::MarkRead(FilePacketBlock* block) {
  last_read_ = block->number;
  if (block->written) return;
  block->written = true;
  ++blocks_read_;
}

bool FilePacketReader::ReadBlock(const FileBlockMessage& message, const uint8_t** data, uint32_t* length) {
  auto found = plan_.find(std::to_string(message.id));
  if (found == plan_.end() || !file_.IsOpen()) return false;
  FilePacketBlock& block = found->second;
  if (ahead_id_ == block.number) {
    ahead_id_ = 0;
    *data = ahead_.data();
    *length = ahead_length_;
    MarkRead(&block);
    return true;
  }
  std::vector<uint8_t>& buffer = KorTransferBuffer();
  int64_t read = ReadInto(block, buffer.data());
  if (read < 0) return false;
  MarkRead(&block);
  *data = buffer.data();
  *length = static_cast<uint32_t>(read);
  return true;
}

void FilePacketReader::ReadAhead() {
  auto next = plan_.find(std::to_string(last_read_ + 1));
  if (next == plan_.end() || next->second.written || !file_.IsOpen()) return;
  ahead_.resize(static_cast<size_t>(block_size_));
  int64_t read = ReadInto(next->second, ahead_.data());
  ahead_id_ = read < 0 ? 0 : next->second.number;
  ahead_length_ = read < 0 ? 0 : static_cast<uint32_t>(read);
}

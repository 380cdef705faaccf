#include "ipc/file_packet_reader.h"

#include "platform/vel_json_util.h"

namespace {

// The reader does not checksum; the front-end ignores this text.
const std::string kReaderChecksum = "a";
// Blocks read ahead and waiting for their request, besides the one being read.
constexpr size_t kReadAheadBlocks = 2;

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
  by_number_.assign(plan_.size(), FilePacketBlock{});
  for (const auto& entry : plan_) by_number_[static_cast<size_t>(entry.second.number - 1)] = entry.second;
  prefetch_ = std::make_unique<FileBlockPrefetch>(
      static_cast<int64_t>(by_number_.size()), static_cast<size_t>(block_size_), kReadAheadBlocks,
      [this](int64_t number, uint8_t* buffer) { return ReadInto(number, buffer); });
  prefetch_->Start(1);
  return true;
}

std::string FilePacketReader::Description() const {
  return VelJsonUtil::ToString(DescriptionJson(description_, plan_));
}

int64_t FilePacketReader::ReadInto(int64_t number, uint8_t* buffer) {
  const FilePacketBlock& block = by_number_[static_cast<size_t>(number - 1)];
  // The stream runs in order, so the file usually stands at the offset already.
  if (position_ != block.offset && !file_.Seek(block.offset)) return -1;
  int64_t read = file_.ReadFully(buffer, static_cast<uint32_t>(block.length));
  position_ = read < 0 ? UINT64_MAX : block.offset + static_cast<uint64_t>(read);
  return read;
}

void FilePacketReader::MarkRead(FilePacketBlock* block) {
  if (block->written) return;
  block->written = true;
  ++blocks_read_;
}

bool FilePacketReader::ReadBlock(const FileBlockMessage& message, const uint8_t** data, uint32_t* length) {
  auto found = plan_.find(std::to_string(message.id));
  if (found == plan_.end() || !prefetch_) return false;
  int64_t read = prefetch_->Take(found->second.number, data);
  if (read < 0) return false;
  MarkRead(&found->second);
  *length = static_cast<uint32_t>(read);
  return true;
}

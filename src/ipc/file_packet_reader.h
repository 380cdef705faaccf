// Cuts a device file into numbered blocks and hands out the block the front-end asks for.
#pragma once

#include <string>

#include "iOSAPI/kor_afc.h"
#include "ipc/file_packet.h"

class FilePacketReader {
 public:
  FilePacketReader(AFCConnectionRef afc, std::string device_path, uint64_t block_size = kFilePacketBlockSize);

  // False when the file is missing, empty or cannot be opened for reading.
  bool Open();
  // The file description JSON text.
  std::string Description() const;
  // Reads the block the message names into the thread's transfer buffer; false for an unknown
  // block or a read error. `*data` stays valid until the thread's next transfer.
  bool ReadBlock(const FileBlockMessage& message, const uint8_t** data, uint32_t* length);
  // True once every block was handed out at least once.
  bool AllBlocksRead() const { return blocks_read_ == plan_.size() && !plan_.empty(); }
  uint64_t Size() const { return description_.size; }
  const FilePacketPlan& Plan() const { return plan_; }

 private:
  AFCConnectionRef afc_;
  std::string device_path_;
  uint64_t block_size_;
  KorAfcFile file_;
  FileDescription description_;
  FilePacketPlan plan_;
  size_t blocks_read_ = 0;
};

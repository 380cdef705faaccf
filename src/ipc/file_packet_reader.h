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
  // Reads the block the message names; false for an unknown block or a read error. `*data`
  // stays valid until the next call on this reader or the thread's next transfer.
  bool ReadBlock(const FileBlockMessage& message, const uint8_t** data, uint32_t* length);
  // Reads the block after the last one read (in number order), so that the front-end's usual
  // next request is answered without waiting for the device.
  void ReadAhead();
  // True once every block was handed out at least once.
  bool AllBlocksRead() const { return blocks_read_ == plan_.size() && !plan_.empty(); }
  uint64_t Size() const { return description_.size; }
  const FilePacketPlan& Plan() const { return plan_; }

 private:
  // Reads a block into `buffer`; -1 on an error, else the count read.
  int64_t ReadInto(const FilePacketBlock& block, uint8_t* buffer);
  void MarkRead(FilePacketBlock* block);

  AFCConnectionRef afc_;
  std::string device_path_;
  uint64_t block_size_;
  KorAfcFile file_;
  FileDescription description_;
  FilePacketPlan plan_;
  size_t blocks_read_ = 0;
  uint64_t position_ = 0;  // where the device file's offset stands
  int64_t last_read_ = 0;
  // The block read ahead: its number (0 = none) and bytes.
  int64_t ahead_id_ = 0;
  std::vector<uint8_t> ahead_;
  uint32_t ahead_length_ = 0;
};

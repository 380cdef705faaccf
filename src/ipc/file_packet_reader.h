// Cuts a device file into numbered blocks and hands out the block the front-end asks for.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "iOSAPI/kor_afc.h"
#include "ipc/file_block_prefetch.h"
#include "ipc/file_packet.h"

class FilePacketReader {
 public:
  FilePacketReader(AFCConnectionRef afc, std::string device_path, uint64_t block_size = kFilePacketBlockSize);

  // False when the file is missing, empty or cannot be opened for reading.
  bool Open();
  // The file description JSON text.
  std::string Description() const;
  // Reads the block the message names; false for an unknown block or a read error. `*data`
  // stays valid until the next call on this reader. From Open on, the blocks after the last one
  // asked for are read ahead, so that the usual next request finds its block waiting.
  bool ReadBlock(const FileBlockMessage& message, const uint8_t** data, uint32_t* length);
  // True once every block was handed out at least once.
  bool AllBlocksRead() const { return blocks_read_ == plan_.size() && !plan_.empty(); }
  uint64_t Size() const { return description_.size; }
  const FilePacketPlan& Plan() const { return plan_; }

 private:
  // Reads block `number` into `buffer`; -1 on an error, else the count read. Runs on the
  // prefetch thread, the only one that touches the file after Open.
  int64_t ReadInto(int64_t number, uint8_t* buffer);
  void MarkRead(FilePacketBlock* block);

  AFCConnectionRef afc_;
  std::string device_path_;
  uint64_t block_size_;
  KorAfcFile file_;
  FileDescription description_;
  FilePacketPlan plan_;
  std::vector<FilePacketBlock> by_number_;  // the plan's blocks, block n at n - 1
  size_t blocks_read_ = 0;
  uint64_t position_ = 0;  // where the device file's offset stands
  // Last: it stops, and its thread leaves the file, before the file closes.
  std::unique_ptr<FileBlockPrefetch> prefetch_;
};

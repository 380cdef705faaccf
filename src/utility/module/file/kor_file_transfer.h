// What a staged transfer keeps between the packets of its task.
#pragma once

#include <memory>

#include "ipc/file_packet_reader.h"
#include "ipc/file_packet_writer.h"
#include "utility/ios/kor_device_handles.h"

struct KorFileTransfer {
  // The AFC service outlives the reader or writer that works on it.
  std::shared_ptr<KorDeviceService> afc;
  std::unique_ptr<FilePacketReader> reader;
  std::unique_ptr<FilePacketWriter> writer;
  ~KorFileTransfer();
};

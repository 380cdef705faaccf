#include "backup_file_framing.h"

#include <algorithm>
#include <vector>

#include "byte_order.h"
#include "log.h"

namespace vdevice {

namespace {

bool SendLength(ServiceStream& stream, uint32_t length) {
  uint8_t prefix[4];
  StoreBig(prefix, 4, length);
  return stream.Send({{prefix, sizeof(prefix)}});
}

bool SendName(ServiceStream& stream, const std::string& name) {
  uint8_t prefix[4];
  StoreBig(prefix, 4, name.size());
  return stream.Send({{prefix, sizeof(prefix)}, {name.data(), name.size()}});
}

bool SendBlock(ServiceStream& stream, uint8_t code, const char* payload, size_t length) {
  uint8_t header[5];
  StoreBig(header, 4, length + 1);
  header[4] = code;
  return stream.Send({{header, sizeof(header)}, {payload, length}});
}

bool ReadLength(ServiceStream& stream, uint32_t* length) {
  uint8_t prefix[4];
  if (!stream.ReadExact(prefix, sizeof(prefix))) return false;
  *length = static_cast<uint32_t>(LoadBig(prefix, 4));
  return true;
}

// Reads the blocks of one file into the sink. kComplete after its last block; *list_ended
// when a zero length took the place of a block.
FileListEnd ReceiveBlocks(ServiceStream& stream, HostFileSink& sink, bool* list_ended) {
  std::vector<char> buffer(kUploadBlockBytes);
  while (true) {
    uint32_t length = 0;
    if (!ReadLength(stream, &length)) return FileListEnd::kClosed;
    if (length == 0) {
      sink.End(false, "the file list ended inside a file");
      *list_ended = true;
      return FileListEnd::kComplete;
    }
    if (length > kMaxFramedBlockBytes) {
      LogLine("%s: data block of %u bytes exceeds the limit", stream.service().c_str(), length);
      return FileListEnd::kMalformed;
    }
    uint8_t code = 0;
    if (!stream.ReadExact(&code, 1)) return FileListEnd::kClosed;
    std::string error_text;
    for (uint32_t left = length - 1; left > 0;) {
      size_t part = std::min<size_t>(left, buffer.size());
      if (!stream.ReadExact(buffer.data(), part)) return FileListEnd::kClosed;
      if (code == kBlockFileData) sink.Data(buffer.data(), part);
      if (code != kBlockFileData && error_text.size() < 4096) error_text.append(buffer.data(), part);
      left -= static_cast<uint32_t>(part);
    }
    if (code == kBlockFileData) continue;
    sink.End(code == kBlockSuccess, error_text);
    return FileListEnd::kComplete;
  }
}

}  // namespace

bool UploadFile(ServiceStream& stream, const std::string& device_name, const std::string& backup_path,
                uint64_t size, const FileReader& read) {
  if (!SendName(stream, device_name) || !SendName(stream, backup_path)) return false;
  std::vector<char> buffer(static_cast<size_t>(std::min<uint64_t>(size, kUploadBlockBytes)));
  for (uint64_t offset = 0; offset < size;) {
    size_t part = static_cast<size_t>(std::min<uint64_t>(size - offset, kUploadBlockBytes));
    if (!read(offset, buffer.data(), part)) {
      LogLine("%s: cannot read %s on the device", stream.service().c_str(), device_name.c_str());
      return SendBlock(stream, kBlockRemoteError, "Input/output error", 18);
    }
    if (!SendBlock(stream, kBlockFileData, buffer.data(), part)) return false;
    offset += part;
  }
  return SendBlock(stream, kBlockSuccess, nullptr, 0);
}

bool UploadFileError(ServiceStream& stream, const std::string& device_name, const std::string& backup_path,
                     const std::string& text) {
  return SendName(stream, device_name) && SendName(stream, backup_path) &&
         SendBlock(stream, kBlockRemoteError, text.data(), text.size());
}

bool EndFileList(ServiceStream& stream) { return SendLength(stream, 0); }

FileListEnd ReceiveFileList(ServiceStream& stream, HostFileSink& sink) {
  while (true) {
    uint32_t length = 0;
    if (!ReadLength(stream, &length)) return FileListEnd::kClosed;
    if (length == 0) return FileListEnd::kComplete;
    if (length > kMaxFramedNameBytes) {
      LogLine("%s: file name of %u bytes exceeds the limit", stream.service().c_str(), length);
      return FileListEnd::kMalformed;
    }
    std::string name(length, '\0');
    if (!stream.ReadExact(name.data(), name.size())) return FileListEnd::kClosed;
    sink.Begin(name);
    bool list_ended = false;
    FileListEnd end = ReceiveBlocks(stream, sink, &list_ended);
    if (end != FileListEnd::kComplete || list_ended) return end;
  }
}

}  // namespace vdevice

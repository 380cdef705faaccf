// The raw framing in which the backup service moves file contents, outside the property-list
// messages. Lengths are 4-byte big-endian. A file is a name block (length, path bytes) followed
// by data blocks (length covering a code byte and the payload): code 0x0C carries file data,
// 0x00 ends the file, 0x06 and 0x0B carry an error text. A zero length where a name or a block
// is expected ends the list of files. Uploads (device to computer) send two name blocks per
// file: the device's own name, then the path inside the backup.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "service_stream.h"

namespace vdevice {

inline constexpr uint8_t kBlockFileData = 0x0C;
inline constexpr uint8_t kBlockSuccess = 0x00;
inline constexpr uint8_t kBlockLocalError = 0x06;
inline constexpr uint8_t kBlockRemoteError = 0x0B;

// Payload bytes per data block the device sends.
inline constexpr size_t kUploadBlockBytes = 64 * 1024;
// Hostile-input bounds for what the computer sends.
inline constexpr uint32_t kMaxFramedNameBytes = 4096;
inline constexpr uint32_t kMaxFramedBlockBytes = 8u << 20;

// Fills `buffer` with `length` bytes of the file from `offset`; false on a read failure.
using FileReader = std::function<bool(uint64_t offset, char* buffer, size_t length)>;

// Sends one file of `size` bytes: both name blocks, its data blocks, the success block.
bool UploadFile(ServiceStream& stream, const std::string& device_name, const std::string& backup_path,
                uint64_t size, const FileReader& read);
// Sends a file that failed on the device: the name blocks and a 0x0B block with `text`.
bool UploadFileError(ServiceStream& stream, const std::string& device_name, const std::string& backup_path,
                     const std::string& text);
// The zero length that ends a list of files.
bool EndFileList(ServiceStream& stream);

// Receives what the computer sends for a DLMessageDownloadFiles.
class HostFileSink {
 public:
  virtual ~HostFileSink() = default;
  virtual void Begin(const std::string& path) = 0;
  virtual void Data(const char* bytes, size_t length) = 0;
  // `ok`: the file ended with the success block; otherwise `error_text` is the computer's reason.
  virtual void End(bool ok, const std::string& error_text) = 0;
};

enum class FileListEnd { kComplete, kClosed, kMalformed };

// Reads files until the terminating zero length.
FileListEnd ReceiveFileList(ServiceStream& stream, HostFileSink& sink);

}  // namespace vdevice

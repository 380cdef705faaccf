#include "iOSAPI/kor_device_link_files.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "platform/kst_file.h"
#include "platform/kst_log.h"

namespace {

void PutBigEndian32(uint32_t value, uint8_t* bytes) {
  bytes[0] = static_cast<uint8_t>(value >> 24);
  bytes[1] = static_cast<uint8_t>(value >> 16);
  bytes[2] = static_cast<uint8_t>(value >> 8);
  bytes[3] = static_cast<uint8_t>(value);
}

bool SendAll(const KorServiceIo& io, const uint8_t* bytes, size_t length) {
  return io.send(bytes, length) == static_cast<int64_t>(length);
}

}  // namespace

bool KorDLFileReader::ReadLength(uint32_t* length) {
  uint8_t bytes[4];
  if (!KorReceiveExactly(io_, bytes, sizeof(bytes))) return false;
  *length = (uint32_t{bytes[0]} << 24) | (uint32_t{bytes[1]} << 16) | (uint32_t{bytes[2]} << 8) | uint32_t{bytes[3]};
  return true;
}

bool KorDLFileReader::ReadPayload(uint64_t count, const std::function<bool(const uint8_t*, size_t)>& sink) {
  bool wanted = true;
  while (count > 0) {
    const size_t piece = static_cast<size_t>(std::min<uint64_t>(count, piece_.size()));
    if (!KorReceiveExactly(io_, piece_.data(), piece)) return false;
    if (wanted) wanted = sink(piece_.data(), piece);
    count -= piece;
  }
  return true;
}

bool KorDLFileReader::Discard(uint64_t count) {
  return ReadPayload(count, [](const uint8_t*, size_t) { return false; });
}

KorDLRead KorDLFileReader::ReadName(std::string* name, bool* too_long) {
  name->clear();
  *too_long = false;
  uint32_t length = 0;
  if (!ReadLength(&length)) return KorDLRead::kFailed;
  if (length == 0) return KorDLRead::kEndOfList;
  if (length > kKorDLMaxName) {
    *too_long = true;
    return Discard(length) ? KorDLRead::kOk : KorDLRead::kFailed;
  }
  name->resize(length);
  return KorReceiveExactly(io_, reinterpret_cast<uint8_t*>(name->data()), length) ? KorDLRead::kOk
                                                                                  : KorDLRead::kFailed;
}

KorDLRead KorDLFileReader::ReadData(const std::function<bool(const uint8_t*, size_t)>& sink, KorDLFileEnd* end) {
  for (;;) {
    uint32_t length = 0;
    if (!ReadLength(&length)) return KorDLRead::kFailed;
    if (length == 0) return KorDLRead::kEndOfList;
    uint8_t code = 0;
    if (!KorReceiveExactly(io_, &code, 1)) return KorDLRead::kFailed;
    const uint64_t payload = length - 1;
    if (code == kKorDLFileData) {
      if (!ReadPayload(payload, sink)) return KorDLRead::kFailed;
      continue;
    }
    end->code = code;
    end->text.clear();
    const bool read = ReadPayload(payload, [end](const uint8_t* bytes, size_t count) {
      const size_t room = kKorDLMaxErrorText - end->text.size();
      end->text.append(reinterpret_cast<const char*>(bytes), std::min(room, count));
      return end->text.size() < kKorDLMaxErrorText;
    });
    return read ? KorDLRead::kOk : KorDLRead::kFailed;
  }
}

bool KorDLFileWriter::SendLength(uint32_t length) {
  uint8_t bytes[4];
  PutBigEndian32(length, bytes);
  return SendAll(io_, bytes, sizeof(bytes));
}

bool KorDLFileWriter::SendName(const std::string& device_path) {
  if (device_path.empty() || device_path.size() > UINT32_MAX) return false;
  return SendLength(static_cast<uint32_t>(device_path.size())) &&
         SendAll(io_, reinterpret_cast<const uint8_t*>(device_path.data()), device_path.size());
}

bool KorDLFileWriter::SendDataBlock(uint8_t code, const uint8_t* payload, size_t length) {
  if (length > kKorDLFilePiece) return false;
  PutBigEndian32(static_cast<uint32_t>(length + 1), block_.data());
  block_[4] = code;
  // A payload read straight into the block needs no copy.
  if (length > 0 && payload != block_.data() + 5) std::memcpy(block_.data() + 5, payload, length);
  return SendAll(io_, block_.data(), length + 5);
}

bool KorDLFileWriter::SendFile(const std::string& local_path) {
  kst::PathInfo info;
  int error = kst::StatPath(local_path, &info);
  if (error == 0 && info.type != kst::PathType::kFile) error = info.type == kst::PathType::kDirectory ? EISDIR : EINVAL;
  kst::KstFile file;
  if (error == 0) error = file.Open(local_path, kst::FileOpenMode::kRead);
  if (error != 0) {
    KLOG(WARNING) << "stat failed on '" << local_path << "': " << error;
    const std::string text = std::strerror(error);
    return SendDataBlock(kKorDLFileLocalError, reinterpret_cast<const uint8_t*>(text.data()), text.size());
  }
  uint8_t* piece = block_.data() + 5;
  for (;;) {
    size_t count = 0;
    if (int read_error = file.Read(piece, kKorDLFilePiece, &count); read_error != 0) {
      KLOG(WARNING) << "read error " << read_error << " on '" << local_path << "'";
      break;
    }
    if (count == 0) break;
    if (!SendDataBlock(kKorDLFileData, piece, count)) {
      KLOG(WARNING) << "could not send message  " << local_path;
      return false;
    }
  }
  return SendDataBlock(kKorDLFileSuccess, nullptr, 0);
}

bool KorDLFileWriter::SendEndOfList() { return SendLength(0); }

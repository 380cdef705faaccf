// The raw file framing that DeviceLink services put between messages on the same connection.
// Every length is a 4-byte big-endian unsigned integer. A file is a name block (length, path
// bytes) followed by data blocks (length covering a code byte and the payload); a zero length in
// place of a name or a data block ends the list of files.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "iOSAPI/kor_service_message.h"

enum KorDLFileCode : uint8_t {
  kKorDLFileSuccess = 0x00,      // end of this file
  kKorDLFileLocalError = 0x06,   // error text from the sender of the file
  kKorDLFileRemoteError = 0x0B,  // error text from the device
  kKorDLFileData = 0x0C,
};

// File data moves in pieces of at most this many bytes in both directions.
constexpr size_t kKorDLFilePiece = 32768;
// Longer names or error texts are read and dropped rather than kept.
constexpr uint32_t kKorDLMaxName = 4096;
constexpr uint32_t kKorDLMaxErrorText = 4096;

enum class KorDLRead {
  kOk,         // a name, or the end block of a file
  kEndOfList,  // a zero length
  kFailed,     // the connection failed
};

// How a file's data ended.
struct KorDLFileEnd {
  uint8_t code = kKorDLFileSuccess;
  std::string text;  // the error text of codes 6 and 11 (at most kKorDLMaxErrorText bytes)
};

class KorDLFileReader {
 public:
  explicit KorDLFileReader(KorServiceIo io) : io_(std::move(io)) {}

  // Reads a name block. A name longer than kKorDLMaxName is read, dropped and reported as
  // *too_long (the name is then empty).
  KorDLRead ReadName(std::string* name, bool* too_long);
  // Reads the data blocks of one file, handing each payload of code 12 to `sink` in pieces of at
  // most kKorDLFilePiece bytes. A sink that returns false gets no more pieces of this file (the
  // rest is still read). kOk when a block of another code ended the file (*end says which).
  KorDLRead ReadData(const std::function<bool(const uint8_t*, size_t)>& sink, KorDLFileEnd* end);

 private:
  bool ReadLength(uint32_t* length);
  // Reads and drops `count` bytes; false when the connection fails first.
  bool Discard(uint64_t count);
  bool ReadPayload(uint64_t count, const std::function<bool(const uint8_t*, size_t)>& sink);

  KorServiceIo io_;
  std::vector<uint8_t> piece_ = std::vector<uint8_t>(kKorDLFilePiece);
};

class KorDLFileWriter {
 public:
  explicit KorDLFileWriter(KorServiceIo io) : io_(std::move(io)) {}

  bool SendName(const std::string& device_path);
  bool SendDataBlock(uint8_t code, const uint8_t* payload, size_t length);
  // Sends a local file as data blocks and the success block; when it cannot be examined or
  // opened, one error block with code 6 and the system's text instead. False when the
  // connection failed (a file that fails to read part-way is logged and ends with its blocks
  // so far).
  bool SendFile(const std::string& local_path);
  bool SendEndOfList();

 private:
  bool SendLength(uint32_t length);

  KorServiceIo io_;
  std::vector<uint8_t> block_ = std::vector<uint8_t>(kKorDLFilePiece + 5);
};

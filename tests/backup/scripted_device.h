// A scripted device on the other end of a socket pair: the test plays the device's side of a
// DeviceLink conversation step by step while the code under test runs on another thread.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "iOSAPI/kor_service_message.h"
#include "iOSAPI/kor_value.h"

class ScriptedDevice {
 public:
  ScriptedDevice();
  ~ScriptedDevice();

  // The host's end. Each receive returns at most `max_piece` bytes (0: as many as asked for).
  KorServiceIo HostIo(size_t max_piece = 0);
  // Ends the host's end as a stop would: a blocked receive returns.
  void InterruptHost();

  // Sends a DeviceLink message made of XML elements.
  void Send(const std::vector<std::string>& elements);
  void SendRaw(const std::string& bytes);
  // Reads the host's next message; an empty value when the connection ended.
  KorValue Read();
  std::string ReadRaw(size_t count);
  // Closes the device's end.
  void Hangup();

 private:
  int host_ = -1;
  int device_ = -1;
};

// An in-memory connection (no peer needed, e.g. for 10 MiB length bounds): sends go nowhere,
// and what the host leaves unread stays in `input`.
KorServiceIo MemoryIo(std::string* input);

// Raw framing pieces.
std::string BigEndian(uint32_t value);
std::string NameBlock(const std::string& name);
std::string DataBlock(uint8_t code, const std::string& payload);
// One uploaded file: both name blocks, data blocks of `block` bytes, and the success block.
std::string UploadedFile(const std::string& path, const std::string& content, size_t block = 1000);

#include "scripted_device.h"

#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <stdexcept>

#include "iOSAPI/kor_device_link.h"
#include "iOSAPI/kor_plist_xml.h"

namespace {

bool WriteAll(int fd, const char* bytes, size_t length) {
  while (length > 0) {
    ssize_t sent = ::send(fd, bytes, length, MSG_NOSIGNAL);
    if (sent <= 0) return false;
    bytes += sent;
    length -= static_cast<size_t>(sent);
  }
  return true;
}

bool ReadAll(int fd, char* bytes, size_t length) {
  while (length > 0) {
    ssize_t got = ::recv(fd, bytes, length, 0);
    if (got <= 0) return false;
    bytes += got;
    length -= static_cast<size_t>(got);
  }
  return true;
}

}  // namespace

ScriptedDevice::ScriptedDevice() {
  int pair[2];
  if (::socketpair(AF_UNIX, SOCK_STREAM, 0, pair) != 0) throw std::runtime_error("socketpair");
  host_ = pair[0];
  device_ = pair[1];
}

ScriptedDevice::~ScriptedDevice() {
  ::close(host_);
  if (device_ >= 0) ::close(device_);
}

KorServiceIo ScriptedDevice::HostIo(size_t max_piece) {
  KorServiceIo io;
  const int fd = host_;
  io.send = [fd](const void* bytes, size_t length) -> int64_t {
    return WriteAll(fd, static_cast<const char*>(bytes), length) ? static_cast<int64_t>(length) : -1;
  };
  io.receive = [fd, max_piece](void* buffer, size_t length) -> int64_t {
    const size_t asked = max_piece == 0 ? length : std::min(length, max_piece);
    return ::recv(fd, buffer, asked, 0);
  };
  return io;
}

void ScriptedDevice::InterruptHost() { ::shutdown(host_, SHUT_RDWR); }

void ScriptedDevice::Send(const std::vector<std::string>& elements) {
  const std::string xml = KorPlistDocument(KorPlistArray(elements), KorPlistDoctype::kApple);
  SendRaw(BigEndian(static_cast<uint32_t>(xml.size())) + xml);
}

void ScriptedDevice::SendRaw(const std::string& bytes) { WriteAll(device_, bytes.data(), bytes.size()); }

KorValue ScriptedDevice::Read() {
  std::string prefix = ReadRaw(4);
  if (prefix.size() != 4) return KorValue();
  const auto* p = reinterpret_cast<const uint8_t*>(prefix.data());
  const uint32_t length = (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | p[3];
  std::string body = ReadRaw(length);
  KorValue value;
  if (body.size() != length || !KorDLDecode(reinterpret_cast<const uint8_t*>(body.data()), length, &value)) {
    return KorValue();
  }
  return value;
}

std::string ScriptedDevice::ReadRaw(size_t count) {
  std::string bytes(count, '\0');
  return ReadAll(device_, bytes.data(), count) ? bytes : std::string();
}

void ScriptedDevice::Hangup() {
  ::shutdown(device_, SHUT_RDWR);
  ::close(device_);
  device_ = -1;
}

KorServiceIo MemoryIo(std::string* input) {
  KorServiceIo io;
  io.send = [](const void*, size_t length) { return static_cast<int64_t>(length); };
  io.receive = [input](void* buffer, size_t length) -> int64_t {
    const size_t count = std::min(length, input->size());
    std::memcpy(buffer, input->data(), count);
    input->erase(0, count);
    return static_cast<int64_t>(count);
  };
  return io;
}

std::string BigEndian(uint32_t value) {
  return std::string{static_cast<char>(value >> 24), static_cast<char>(value >> 16), static_cast<char>(value >> 8),
                     static_cast<char>(value)};
}

std::string NameBlock(const std::string& name) { return BigEndian(static_cast<uint32_t>(name.size())) + name; }

std::string DataBlock(uint8_t code, const std::string& payload) {
  return BigEndian(static_cast<uint32_t>(payload.size() + 1)) + static_cast<char>(code) + payload;
}

std::string UploadedFile(const std::string& path, const std::string& content, size_t block) {
  std::string bytes = NameBlock(path) + NameBlock(path);
  for (size_t offset = 0; offset < content.size(); offset += block) {
    bytes += DataBlock(0x0C, content.substr(offset, block));
  }
  return bytes + DataBlock(0x00, "");
}

#include "frontend_link.h"

#include <rapidjson/document.h>

#include <algorithm>
#include <cstring>

#include "ipc/ipc_packet.h"
#include "platform/kst_fs.h"
#include "platform/kst_process.h"
#include "platform/vel_json_util.h"

namespace frontend {

namespace {

constexpr uint64_t kMaxPayload = kst::kMaxPacketPayload;
// Read first from every payload: enough for the text part of any block message.
constexpr size_t kTextProbeBytes = 64 * 1024;
// Buffers worth keeping for reuse, and how many are kept.
constexpr size_t kMinRecycledBytes = 256 * 1024;
constexpr size_t kMaxSpareBuffers = 8;

std::string DefaultTandrelPath() {
  return kst::ParentFolder(kst::ExecutablePath()) + "/Tandrel";
}

}  // namespace

Link::~Link() { Close(); }

int Link::Listen(uint16_t port) {
  listener_ = kst::TcpListenLoopback(port, 4);
  return listener_.Valid() ? listener_.LocalPort() : -1;
}

std::string Link::StartParameters(const StartOptions& options, int port) {
  rapidjson::Document document(rapidjson::kObjectType);
  auto& allocator = document.GetAllocator();
  int64_t pid = options.watched_pid != 0 ? options.watched_pid : kst::CurrentProcessId();
  VelJsonUtil::AddJsonDictIntValue(document, allocator, "kKorServerStartParamPort", port);
  VelJsonUtil::AddJsonDictInt64Value(document, allocator, "kKorServerStartParamPid", pid);
  VelJsonUtil::AddJsonDictIntValue(document, allocator, "kKorServerStartParamShowConsole", options.show_console);
  VelJsonUtil::AddJsonDictIntValue(document, allocator, "kKorServerStartParamOpenLog", options.open_log);
  VelJsonUtil::AddJsonDictIntValue(document, allocator, "kKorServerStartParamTestSelf", 0);
  VelJsonUtil::AddJsonDictStringValue(document, allocator, "kKorServerStartParamVersion", options.version);
  VelJsonUtil::AddJsonDictStringValue(document, allocator, "kKorServerStartParamBrand", options.brand);
  VelJsonUtil::AddJsonDictStringValue(document, allocator, "kKorServerStartParamProduct", options.product);
  VelJsonUtil::AddJsonDictIntValue(document, allocator, "kKorServerStartParamType", options.type);
  VelJsonUtil::AddJsonDictStringValue(document, allocator, "kKorServerStartParamTaskId", options.task_id);
  rapidjson::Value modules(rapidjson::kArrayType);
  for (const std::string& name : options.load_modules) VelJsonUtil::PushJsonArrayStringValue(modules, allocator, name);
  VelJsonUtil::AddJsonDictObjectValue(document, allocator, "kKorServerStartParamLoadModules", modules);
  return VelJsonUtil::ToString(document);
}

int64_t Link::StartTandrel(const StartOptions& options) {
  kst::SpawnOptions spawn;
  spawn.arguments.push_back(StartParameters(options, listener_.Valid() ? listener_.LocalPort() : 0));
  spawn.extra_env = options.environment;
  spawn.stderr_path = options.stderr_path;
  // Tandrel's own output must not mix with what a front-end prints on its standard output.
  spawn.stdout_to_stderr = true;
  std::string path = options.tandrel_path.empty() ? DefaultTandrelPath() : options.tandrel_path;
  tandrel_pid_ = kst::SpawnProcess(path, spawn);
  reaped_ = false;
  return tandrel_pid_;
}

bool Link::WaitConnected(std::chrono::milliseconds timeout) {
  if (connected_) return true;
  if (!listener_.Valid() || !listener_.WaitReadable(static_cast<int>(timeout.count()))) return false;
  connection_ = kst::Accept(listener_);
  if (!connection_.Valid()) return false;
  // Block requests go out while earlier ones are still unanswered; Nagle would hold them back.
  connection_.SetNoDelay(true);
  connected_ = true;
  reader_ = std::thread([this] { ReadLoop(); });
  return true;
}

bool Link::Send(uint32_t command, uint64_t task, const std::string& json, const std::string& attachment, int format) {
  std::string payload = EncodeCommandPayload(format, json, attachment);
  uint8_t header[kst::kPacketHeaderSize];
  kst::EncodePacketHeader(kst::PacketHeader{task, command, 0, payload.size()}, header);
  std::lock_guard<std::mutex> lock(send_mutex_);
  return connection_.SendAllParts({{header, sizeof(header)}, {payload.data(), payload.size()}});
}

bool Link::SendRaw(const std::string& bytes) {
  std::lock_guard<std::mutex> lock(send_mutex_);
  return connection_.SendAll(bytes.data(), bytes.size());
}

void Link::Push(Message message) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    inbox_.push_back(std::move(message));
  }
  signal_.notify_all();
}

bool Link::ReadPacket() {
  uint8_t first = 0;
  if (!connection_.RecvAll(&first, 1)) return false;
  if (first == kst::kHeartbeatByte) {
    uint8_t rest[7];
    if (!connection_.RecvAll(rest, sizeof(rest))) return false;
    ++heartbeats_;
    return true;
  }
  uint8_t header_bytes[kst::kPacketHeaderSize];
  header_bytes[0] = first;
  if (!connection_.RecvAll(header_bytes + 1, sizeof(header_bytes) - 1)) return false;
  kst::PacketHeader header;
  if (!kst::DecodePacketHeader(header_bytes, sizeof(header_bytes), &header) || header.length > kMaxPayload) {
    return false;  // the stream is out of step; nothing after this can be trusted
  }
  return ReadPayload(header);
}

bool Link::ReadPayload(const kst::PacketHeader& header) {
  // The text part comes first; the attachment after it is read straight into its own memory, so
  // that large blocks are neither moved nor copied once they are in.
  const size_t length = static_cast<size_t>(header.length);
  std::string text(std::min(length, kTextProbeBytes), '\0');
  if (!text.empty() && !connection_.RecvAll(text.data(), text.size())) return false;
  const size_t text_length = PayloadTextLength(text.data(), text.size());
  std::string attachment;
  if (text_length == std::string::npos) {
    // A text part longer than the probe, or no text part at all: the payload is read whole.
    const size_t have = text.size();
    text.resize(length);
    if (length > have && !connection_.RecvAll(text.data() + have, length - have)) return false;
  } else {
    const size_t already = text.size() - text_length;
    // A recycled buffer of a block's size is only cut to length; nothing is filled in.
    attachment = SpareBuffer();
    attachment.resize(length - text_length);
    std::memcpy(attachment.data(), text.data() + text_length, already);
    if (attachment.size() > already &&
        !connection_.RecvAll(attachment.data() + already, attachment.size() - already)) {
      return false;
    }
    text.resize(text_length);
  }
  Push(DecodeMessage(header.command, header.status, header.task_id, text, std::move(attachment),
                     !keep_compressed_.load()));
  return true;
}

void Link::Recycle(std::string&& attachment) {
  if (attachment.capacity() < kMinRecycledBytes) return;
  // Kept at full capacity, so that cutting it to the next length never fills anything in.
  attachment.resize(attachment.capacity());
  std::lock_guard<std::mutex> lock(mutex_);
  if (spares_.size() < kMaxSpareBuffers) spares_.push_back(std::move(attachment));
}

std::string Link::SpareBuffer() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (spares_.empty()) return std::string();
  std::string buffer = std::move(spares_.back());
  spares_.pop_back();
  return buffer;
}

void Link::PauseReading(bool paused) {
  {
    std::lock_guard<std::mutex> lock(pause_mutex_);
    paused_ = paused;
  }
  pause_signal_.notify_all();
}

void Link::ReadLoop() {
  for (;;) {
    {
      std::unique_lock<std::mutex> lock(pause_mutex_);
      pause_signal_.wait(lock, [this] { return !paused_; });
    }
    if (!ReadPacket()) break;
  }
  lost_ = true;
  signal_.notify_all();
}

std::optional<Message> Link::Take(const std::function<bool(const Message&)>& wanted,
                                   std::chrono::steady_clock::time_point deadline) {
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    for (auto it = inbox_.begin(); it != inbox_.end(); ++it) {
      if (!wanted(*it)) continue;
      Message message = std::move(*it);
      inbox_.erase(it);
      return message;
    }
    if (lost_) return std::nullopt;
    if (signal_.wait_until(lock, deadline) == std::cv_status::timeout && std::chrono::steady_clock::now() >= deadline) {
      bool any = false;
      for (const Message& message : inbox_) any = any || wanted(message);
      if (!any) return std::nullopt;
    }
  }
}

std::optional<Message> Link::Next(std::chrono::milliseconds timeout) {
  return Take([](const Message&) { return true; }, std::chrono::steady_clock::now() + timeout);
}

std::vector<Message> Link::CollectUntilFinal(uint64_t task, std::chrono::milliseconds timeout) {
  std::vector<Message> collected;
  auto deadline = std::chrono::steady_clock::now() + timeout;
  while (auto message = Take([task](const Message& m) { return m.task == task; }, deadline)) {
    collected.push_back(std::move(*message));
    if (IsFinalStatus(collected.back().status)) break;
  }
  return collected;
}

std::optional<Message> Link::NextFor(uint64_t task, std::chrono::milliseconds timeout) {
  return Take([task](const Message& m) { return m.task == task; }, std::chrono::steady_clock::now() + timeout);
}

std::optional<Message> Link::WaitFor(uint32_t command, std::chrono::milliseconds timeout) {
  return Take([command](const Message& m) { return m.command == command; },
              std::chrono::steady_clock::now() + timeout);
}

std::optional<Message> Link::Peek(uint32_t command, std::chrono::milliseconds timeout) {
  std::unique_lock<std::mutex> lock(mutex_);
  std::optional<Message> seen;
  signal_.wait_for(lock, timeout, [&] {
    for (const Message& message : inbox_) {
      if (message.command == command) {
        seen = message;
        return true;
      }
    }
    return lost_.load();
  });
  return seen;
}

int Link::WaitTandrelExit(std::chrono::milliseconds timeout) {
  if (tandrel_pid_ <= 0 || reaped_) return -1;
  int code = kst::WaitProcess(tandrel_pid_, static_cast<int>(timeout.count()));
  if (code >= 0) reaped_ = true;
  return code;
}

void Link::Close() {
  PauseReading(false);
  connection_.Shutdown();
  if (reader_.joinable()) reader_.join();
  connection_.Close();
  listener_.Close();
}

}  // namespace frontend

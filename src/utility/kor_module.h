// The base of every command module.
#pragma once

#include <rapidjson/document.h>

#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "ipc/ipc_packet.h"
#include "utility/kor_command.h"
#include "utility/kor_message.h"

class QrTask;
class KorDevice;

class KorModule {
 public:
  KorModule() = default;
  virtual ~KorModule() = default;
  KorModule(const KorModule&) = delete;
  KorModule& operator=(const KorModule&) = delete;

  virtual int Reserved1() { return 0; }
  // Handles one command packet on a task-pool thread. The packet stays the caller's.
  virtual int OnCommand(kst::IPCPacket* packet);
  virtual int Reserved3() { return 0; }
  virtual int OnElevatedPacket(kst::IPCPacket* packet);
  // The final reply of a command: status from the code, stage 0, type 0, no attachment.
  // It also reports the command's task finished (or stopped, for code 6).
  virtual int SendResult(kst::IPCPacket* packet, const std::string& uuid, int code,
                         const std::optional<std::string>& info = std::nullopt);

 protected:
  // True when the command's task is gone from the scheduler or was stopped.
  static bool IsStopped(const kst::IPCPacket* packet);
  static std::shared_ptr<QrTask> FindCommandTask(const kst::IPCPacket* packet);
  // Sends an intermediate message (status 2) of the command.
  static int SendIntermediate(const kst::IPCPacket* packet, KorMessage message);
  // Parses the command's JSON into `document`; false when it does not parse as an object.
  static bool ParseCommandJson(const KorCommandPayload& payload, rapidjson::Document* document);
  // Parses the command's zlib-compressed parameters; false when they are missing or do not parse.
  static bool ParseCommandParameters(const KorCommandPayload& payload, rapidjson::Document* document);
  // The device the command names: by "uuid", else by "code" (the device's number) when asked to.
  static std::shared_ptr<KorDevice> FindCommandDevice(const rapidjson::Value& json, bool also_by_code);
  // Reports a stopped command: status 5 to the scheduler and a reply with code 6.
  int FinishStopped(kst::IPCPacket* packet, const std::string& uuid);

  std::mutex module_mutex_;
};

// The base of every command module.
#pragma once

#include <rapidjson/document.h>

#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "ipc/ipc_packet.h"
#include "utility/kor_command.h"
#include "utility/kor_message.h"

class QrTask;
class KorDevice;

// Names the task whose packet this thread is handling while it lives, so that a final reply is
// counted on that task object even when the scheduler has already forgotten its ID.
class KorCommandTaskScope {
 public:
  explicit KorCommandTaskScope(std::shared_ptr<QrTask> task);
  ~KorCommandTaskScope();
  KorCommandTaskScope(const KorCommandTaskScope&) = delete;
  KorCommandTaskScope& operator=(const KorCommandTaskScope&) = delete;

 private:
  std::shared_ptr<QrTask> previous_;
};

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

  // After any packet of a stopped task still being handled: a command that still keeps state
  // between its packets (a staged transfer waiting for its next request) gets its final reply 6
  // and its state is released.
  static void PostStoppedReply(const std::shared_ptr<QrTask>& task);
  // Sends an intermediate message (status 2) of the command. When the message cannot be built
  // or sent, the command ends here with the final reply kKorMessageNotSent and that code is
  // returned: the caller stops its work.
  static int SendIntermediate(const kst::IPCPacket* packet, KorMessage message);
  // The same with `header_command` in the packet header in place of the command's own number:
  // listings that send several groups name each group there.
  static int SendIntermediateAs(const kst::IPCPacket* packet, uint32_t header_command, KorMessage message);
  // Claims the one final reply of `task` and ends the task (as stopped for code 6); false when its
  // final reply already went out. For a final reply sent without the command's packet (a plug-in's).
  static bool ClaimFinalReply(const std::shared_ptr<QrTask>& task, int code);

 protected:
  // True when the command's task is gone from the scheduler or was stopped.
  static bool IsStopped(const kst::IPCPacket* packet);
  static std::shared_ptr<QrTask> FindCommandTask(const kst::IPCPacket* packet);
  // The task this thread is handling the packet for, else the scheduler's task of its ID.
  static std::shared_ptr<QrTask> CommandTask(const kst::IPCPacket* packet);
  // True once the command of the packet's task has had its final reply.
  static bool FinalReplySent(const kst::IPCPacket* packet);
  // Ends the packet's task without a reply: its command already had its final reply.
  static void FinishSilently(const kst::IPCPacket* packet);
  // The final reply; the first one of a task goes out, any later one is logged and dropped.
  static int SendFinalReply(const kst::IPCPacket* packet, const std::string& uuid, int code,
                            const std::optional<std::string>& info = std::nullopt);
  // For a handler that still holds device handles: a successful command's final reply goes out at
  // once, so that the front-end does not wait for them to close. Returns `result`.
  static int ReplyBeforeClosing(const kst::IPCPacket* packet, const std::string& uuid, int result);
  // Parses the command's JSON into `document`; false when it does not parse as an object.
  static bool ParseCommandJson(const KorCommandPayload& payload, rapidjson::Document* document);
  // Parses the command's zlib-compressed parameters; false when they are missing or do not parse.
  static bool ParseCommandParameters(const KorCommandPayload& payload, rapidjson::Document* document);
  // The device the command names: by "uuid", else by "code" (the device's number) when asked to.
  static std::shared_ptr<KorDevice> FindCommandDevice(const rapidjson::Value& json, bool also_by_code);
  // Reports a stopped command: status 5 to the scheduler and a reply with code 6.
  int FinishStopped(kst::IPCPacket* packet, const std::string& uuid);

  // What most device commands start with.
  struct DeviceCommand {
    rapidjson::Document json;
    std::string uuid;
    std::shared_ptr<KorDevice> device;
  };
  // The command's JSON parses (21 otherwise), the device its "uuid" names is attached (7
  // otherwise) and its task still runs (6 otherwise). False when the final reply already went
  // out; `*result` is then what OnCommand returns.
  bool BeginDeviceCommand(kst::IPCPacket* packet, const KorCommandPayload& payload, DeviceCommand* command,
                          int* result);
  // What a device command handler returns when the final reply comes later from elsewhere (a
  // plug-in that took the command over).
  static constexpr int kKorReplyLater = -1;
  using DeviceCommandHandler = std::function<int(const KorCommandPayload& payload, const DeviceCommand& command)>;
  // The whole life of most device commands: BeginDeviceCommand; any "format" other than 1 is
  // answered 0 at once; then `handler` gives the command's result code. kKorStopped ends the
  // command as stopped; any other code becomes its final reply, unless the handler already sent
  // one or returned kKorReplyLater.
  int RunDeviceCommand(kst::IPCPacket* packet, const DeviceCommandHandler& handler);

  std::mutex module_mutex_;
};

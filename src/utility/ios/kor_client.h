// The process-wide link to the front-end: receives command packets and turns each into a task,
// routes it to its module by command number, and sends every reply and unsolicited message.
#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <set>
#include <string>

#include "ipc/ipc_packet_channel.h"
#include "utility/ios/kor_device.h"
#include "utility/ios/kor_outbox.h"
#include "utility/kor_message.h"

class KorModule;

class KorClient : public KorDeviceCallback {
 public:
  // Results of Send besides 0.
  static constexpr int kSendNoConnection = 1;
  static constexpr int kSendTextTooLong = 2;

  static KorClient& Instance();

  // Connects to the front-end's port with up to `attempts` tries `retry_delay` apart.
  bool ConnectFrontend(int port, int attempts = 11,
                       std::chrono::milliseconds retry_delay = std::chrono::milliseconds(1000));
  // Sends one message to every outgoing connection; text and attachment are never split.
  int Send(const KorPacketHeader& header, KorMessage message);
  // Sends one message on one given connection.
  int SendOn(kst::IPCConnection* connection, const KorPacketHeader& header, KorMessage message);
  // Queues a message for Send on the client's own sending thread and returns at once: for
  // senders that must never wait on the front-end's socket (the device monitor).
  void Post(const KorPacketHeader& header, const KorMessage& message);

  // The first packet an elevated instance sends: its JSON's "uuid" is the secret it was given.
  static constexpr uint32_t kElevatedHelloCommand = 1900;

  // Starts listening for the elevated instance on a free loopback port; returns the port or -1.
  // Only a connection whose first packet presents `secret` is ever relayed to or from.
  int StartElevatedChannel(const std::string& secret);
  // True while no elevated instance has connected and presented the secret.
  bool ElevatedInstanceAbsent();
  // Keeps a copy of a packet until the elevated instance connects; it is then run again.
  void QueueForElevated(const kst::IPCPacket* packet);
  // Takes every packet waiting for the elevated instance out of the queue.
  std::deque<kst::IPCPacketPtr> TakePending();
  // Sends a message text to every authenticated elevated instance; false when there is none.
  bool SendToElevated(const KorPacketHeader& header, const std::string& text);
  // Passes a packet unchanged to one front-end connection, if that connection still exists.
  bool PassToFrontend(const kst::IPCPacket& packet, kst::IPCConnection* connection);
  // The elevated instance's side: presents the secret on the link to the process that started it.
  int SendElevatedHello(const std::string& secret);

  // Device ready (1) → command 1; device gone (2) → command 8.
  void OnDeviceEvent(const std::shared_ptr<KorDevice>& device, uint32_t event) override;
  // The info text of the device-connected message, keys in their fixed order.
  static std::string DeviceConnectedInfo(const KorDeviceInfo& info, int64_t pid, int32_t start_type);

  // Closes the link (the process is ending).
  void Shutdown();

  kst::IPCPacketChannel& ClientChannel() { return *client_channel_; }

 private:
  using RunOperation = int (KorModule::*)(kst::IPCPacket*);

  KorClient();
  int OnClientPacket(kst::IPCPacket* packet);
  int OnElevatedPacket(kst::IPCPacket* packet);
  bool Authenticate(kst::IPCPacket* packet);
  void RunPending();
  void CreateCommandTask(kst::IPCPacket* packet, RunOperation operation);
  static void RunCommandTask(kst::IPCPacket* packet, RunOperation operation, const std::shared_ptr<class QrTask>& task);
  int WriteMessage(kst::IPCConnection* connection, const KorPacketHeader& header, const std::string& text,
                   const KorMessage& message);

  std::unique_ptr<kst::IPCPacketChannel> client_channel_;
  std::unique_ptr<kst::IPCPacketChannel> elevated_channel_;
  std::mutex send_mutex_;  // every send and relay, and the pending queue
  std::deque<kst::IPCPacketPtr> pending_;
  int elevated_port_ = -1;
  std::string elevated_secret_;
  std::set<kst::IPCConnection*> authenticated_;  // elevated connections that presented the secret
  std::unique_ptr<KorOutbox> outbox_;
};

// The heartbeat interval of the front-end connection; TANDREL_HEARTBEAT_MS overrides it (tests).
std::chrono::milliseconds KorHeartbeatInterval();
// How long a send to the front-end may make no progress before the connection counts as lost
// (default 30 s); TANDREL_SEND_TIMEOUT_MS overrides it (tests).
std::chrono::milliseconds KorSendTimeout();

// The front-end side of the link: listens on a loopback port, starts Tandrel with start
// parameters naming that port, accepts its connection, sends commands and collects messages.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "frontend_message.h"
#include "ipc/ipc_packet.h"
#include "platform/kst_socket.h"

namespace frontend {

struct StartOptions {
  std::string tandrel_path;   // empty: "Tandrel" beside this program
  std::string brand = "Tandrel";
  std::string version = "1.0.0";
  std::string product = "tandrelctl";
  int open_log = 0;
  int show_console = 0;
  int type = 0;
  std::string task_id = "1";
  std::vector<std::string> load_modules;
  int64_t watched_pid = 0;  // 0: this process
  std::map<std::string, std::string> environment;  // extra variables for Tandrel
  std::string stderr_path;  // where Tandrel's standard error goes (empty: inherited)
};

class Link {
 public:
  Link() = default;
  ~Link();
  Link(const Link&) = delete;
  Link& operator=(const Link&) = delete;

  // Listens on 127.0.0.1 (port 0 picks a free one); returns the port or -1.
  int Listen(uint16_t port = 0);
  // The start-parameter JSON text for a Tandrel that should connect to `port`.
  static std::string StartParameters(const StartOptions& options, int port);
  // Starts Tandrel; returns its process ID or -1.
  int64_t StartTandrel(const StartOptions& options);
  // Waits for Tandrel's connection; false on time-out.
  bool WaitConnected(std::chrono::milliseconds timeout);

  // Sends one command packet. `attachment` goes as it is (compress parameters beforehand).
  bool Send(uint32_t command, uint64_t task, const std::string& json, const std::string& attachment = std::string(),
            int format = 1);
  bool SendRaw(const std::string& bytes);

  // The next message, or nothing on time-out / when the connection is gone and drained.
  std::optional<Message> Next(std::chrono::milliseconds timeout);
  // Messages until the final reply (status 1, 5 or 6) of `task`; other tasks' messages are kept.
  std::vector<Message> CollectUntilFinal(uint64_t task, std::chrono::milliseconds timeout);
  // The next message of `task`; others are kept.
  std::optional<Message> NextFor(uint64_t task, std::chrono::milliseconds timeout);
  // Waits for the first message of `command` (any task); others are kept for Next.
  std::optional<Message> WaitFor(uint32_t command, std::chrono::milliseconds timeout);
  // Like WaitFor, but leaves the message in place, so that Next still yields it in order.
  std::optional<Message> Peek(uint32_t command, std::chrono::milliseconds timeout);

  // Hands a message's attachment back once it is used, so that the next large attachment is read
  // into memory that is already there instead of fresh pages.
  void Recycle(std::string&& attachment);

  // Type-0 attachments are inflated as they arrive unless kept compressed: a benchmark's reading
  // side stands for a consumer that costs nothing, so that it does not compete with Tandrel.
  void KeepCompressed(bool keep) { keep_compressed_.store(keep); }

  // While paused the link reads nothing from Tandrel, as a front-end that stopped reading does.
  void PauseReading(bool paused);

  bool Connected() const { return connected_.load(); }
  bool Lost() const { return lost_.load(); }
  int HeartbeatsReceived() const { return heartbeats_.load(); }
  int64_t TandrelPid() const { return tandrel_pid_; }
  // Waits for Tandrel to end; its exit code, or -1 on time-out.
  int WaitTandrelExit(std::chrono::milliseconds timeout);
  void Close();

 private:
  void ReadLoop();
  bool ReadPacket();
  bool ReadPayload(const kst::PacketHeader& header);
  void Push(Message message);
  // A recycled buffer (its old bytes still in it) or an empty one.
  std::string SpareBuffer();
  // Removes and returns the first message that `wanted` accepts, waiting until `deadline`.
  std::optional<Message> Take(const std::function<bool(const Message&)>& wanted,
                              std::chrono::steady_clock::time_point deadline);

  kst::KstSocket listener_;
  kst::KstSocket connection_;
  std::atomic<bool> connected_{false};
  std::atomic<bool> lost_{false};
  std::atomic<bool> keep_compressed_{false};
  std::atomic<int> heartbeats_{0};
  std::thread reader_;
  std::mutex mutex_;
  std::condition_variable signal_;
  std::deque<Message> inbox_;
  std::vector<std::string> spares_;
  std::mutex send_mutex_;
  std::mutex pause_mutex_;
  std::condition_variable pause_signal_;
  bool paused_ = false;
  int64_t tandrel_pid_ = -1;
  bool reaped_ = false;
};

// True for header status values that end a command.
inline bool IsFinalStatus(uint16_t status) { return status == 1 || status == 5 || status == 6; }

}  // namespace frontend

// One synchronisation session on a `com.apple.mobilesync` connection: the host messages of a
// data class and the three ways a reply is handled (wait for a name, read one, or hand every
// reply to the module's state-driven handler).
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "iOSAPI/kor_device_link.h"
#include "iOSAPI/kor_sync_data_class.h"

// The module's reply handler. `state` is set by the sequence before each exchange; the handler
// sees only replies whose root is an array. Setting *again reads one more reply; *result is kept
// across the replies of one exchange and becomes its result.
class KorSyncReplyHandler {
 public:
  virtual ~KorSyncReplyHandler() = default;
  virtual void OnReply(int state, const KorValue& reply, bool* again, int32_t* result) = 0;
  // True once a write cannot go on (the device assigned no identifier to the record the later
  // pushes name): the sequence then ends at once, without its further steps and its finish.
  virtual bool EndsSession() const { return false; }
};

class KorSyncReplyWorker;

enum class KorSyncReply {
  kWaitFor,  // read until a reply holds `name`
  kReadOne,  // read exactly one reply and ignore it
  kModule,   // the module handler in `state`
  kReadOneIs,  // read exactly one reply; the result is 1 when it holds `name`
};

struct KorSyncPolicy {
  KorSyncReply kind = KorSyncReply::kReadOne;
  const char* name = "";
  int state = 0;
};

constexpr KorSyncPolicy KorWaitFor(const char* name) { return {KorSyncReply::kWaitFor, name, 0}; }
constexpr KorSyncPolicy KorReadOne() { return {KorSyncReply::kReadOne, "", 0}; }
constexpr KorSyncPolicy KorModuleState(int state) { return {KorSyncReply::kModule, "", state}; }
constexpr KorSyncPolicy KorReadOneIs(const char* name) { return {KorSyncReply::kReadOneIs, name, 0}; }

class KorSyncSession {
 public:
  // `handler` may be null when no exchange of the session uses the module policy. With a
  // `reply_timeout`, a receive that fails after waiting that long means the device stopped
  // answering: the session's later exchanges then end at once, sending and reading nothing (the
  // connection's own receive must give up after that time, e.g. through the socket's time-out).
  KorSyncSession(KorServiceIo io, const KorSyncDataClass& data_class, KorSyncReplyHandler* handler,
                 std::chrono::milliseconds reply_timeout = std::chrono::milliseconds(0));
  // The receive function refers to the session.
  KorSyncSession(const KorSyncSession&) = delete;
  KorSyncSession& operator=(const KorSyncSession&) = delete;

  const KorSyncDataClass& DataClass() const { return data_class_; }

  // Discards the device's version message unparsed, then answers it and handles the reply.
  void Greeting(const KorSyncPolicy& reply);
  // Announces the data class with a fresh computer anchor and no device anchor.
  int32_t Announce(const std::string& computer_anchor, const KorSyncPolicy& reply);
  // Sends "<name>, <data class>" and handles the replies.
  int32_t Exchange(const char* message, const KorSyncPolicy& reply);
  // Sends "<name>, <data class>, <elements…>" (elements already XML) and handles the replies.
  int32_t ExchangeWith(const char* message, const std::vector<std::string>& elements, const KorSyncPolicy& reply);
  // Sends "<name>, <data class>" and reads the device's record batches ahead of the module
  // handler: a reply that holds "SDMessageProcessChanges" is acknowledged as soon as it is
  // decoded, and the device builds its next batch while the handler takes this one on a worker
  // thread (in arrival order; the reply to `message` in `first_state`, every later one in
  // `later_state`). The first reply to an acknowledgement that is no batch ends the exchange.
  // The messages are those of one exchange with the module policy followed by acknowledgements
  // for as long as the handler's result says a batch came, for a handler whose result is exactly
  // that (KorSyncBatchCollector's); the handler cannot ask for further replies. Returns once the
  // handler has taken every reply.
  void ReadBatchesAhead(const char* message, int first_state, int later_state);
  bool HandlerEndsSession() const { return handler_ != nullptr && handler_->EndsSession(); }
  // True once a reply did not come within the reply time-out.
  bool DeviceSilent() const { return silent_; }
  // Sends "<name>, <data class>" and reads nothing.
  void SendOnly(const char* message);

 private:
  // The connection's receive, timed: a failure after the whole time-out marks the device silent.
  KorServiceIo Watched(KorServiceIo io);
  int32_t SendAndHandle(const std::vector<std::string>& elements, const KorSyncPolicy& reply);
  // Handles the replies to a message already sent.
  int32_t Handle(const KorSyncPolicy& reply);
  int32_t RunModuleHandler(int state);
  // Sends "<name>, <data class>" and queues the reply, when it is an array, for the worker; true
  // when it is a record batch.
  bool SendAndQueue(const char* message, int state, KorSyncReplyWorker* worker);
  // Reads until a reply holds `name`; a reply that is no non-empty array, nothing to read, or the
  // device's cancellation or refusal ends the wait.
  void WaitFor(const char* name);

  KorSyncDataClass data_class_;
  KorSyncReplyHandler* handler_;
  std::chrono::milliseconds reply_timeout_;
  bool silent_ = false;
  KorDeviceLink link_;
};

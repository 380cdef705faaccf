#include "iOSAPI/kor_sync_session.h"

#include "iOSAPI/kor_bplist_peek.h"
#include "iOSAPI/kor_plist_xml.h"
#include "iOSAPI/kor_service_message.h"
#include "iOSAPI/kor_sync_reply_worker.h"
#include "platform/kst_log.h"

namespace {

constexpr const char* kBatch = "SDMessageProcessChanges";
constexpr const char* kAcknowledge = "SDMessageAcknowledgeChangesFromDevice";
// Decoded batches waiting for the handler: enough to ride out an uneven one, and a bound on the
// memory a handler slower than the device lets pile up.
constexpr size_t kBatchesAhead = 8;

}  // namespace

KorSyncSession::KorSyncSession(KorServiceIo io, const KorSyncDataClass& data_class, KorSyncReplyHandler* handler,
                               std::chrono::milliseconds reply_timeout)
    : data_class_(data_class),
      handler_(handler),
      reply_timeout_(reply_timeout),
      link_(Watched(std::move(io)), KorPlistDoctype::kApple) {}

KorServiceIo KorSyncSession::Watched(KorServiceIo io) {
  if (reply_timeout_.count() <= 0) return io;
  io.receive = [this, receive = std::move(io.receive)](void* buffer, size_t length) -> int64_t {
    // Nothing more is read from a device that has stopped answering: a late reply would be
    // taken for the answer to a later message.
    if (silent_) return -1;
    const auto begin = std::chrono::steady_clock::now();
    const int64_t got = receive(buffer, length);
    // The socket's time-out may end the wait a little before the full time has passed.
    if (got < 1 && std::chrono::steady_clock::now() - begin >= reply_timeout_ * 9 / 10) {
      silent_ = true;
      KLOG(WARNING) << "sync " << data_class_.name << ": the device sent no reply within " << reply_timeout_.count()
                    << " ms; the session ends without its further exchanges";
    }
    return got;
  };
  return io;
}

void KorSyncSession::Greeting(const KorSyncPolicy& reply) {
  if (silent_) return;
  link_.RawRead();
  SendAndHandle({KorPlistString("DLMessageVersionExchange"), KorPlistString("DLVersionsOk"), KorPlistInteger(100)},
                reply);
}

int32_t KorSyncSession::Announce(const std::string& computer_anchor, const KorSyncPolicy& reply) {
  return SendAndHandle({KorPlistString("SDMessageSyncDataClassWithDevice"), KorPlistString(data_class_.name),
                        KorPlistString(data_class_.anchor_key), KorPlistString(computer_anchor),
                        KorPlistInteger(data_class_.version), KorPlistString(kKorDLEmptyParameter)},
                       reply);
}

int32_t KorSyncSession::Exchange(const char* message, const KorSyncPolicy& reply) {
  return ExchangeWith(message, {}, reply);
}

int32_t KorSyncSession::ExchangeWith(const char* message, const std::vector<std::string>& elements,
                                     const KorSyncPolicy& reply) {
  std::vector<std::string> all{KorPlistString(message), KorPlistString(data_class_.name)};
  all.insert(all.end(), elements.begin(), elements.end());
  return SendAndHandle(all, reply);
}

void KorSyncSession::SendOnly(const char* message) {
  if (silent_) return;
  link_.Send({KorPlistString(message), KorPlistString(data_class_.name)});
}

int32_t KorSyncSession::SendAndHandle(const std::vector<std::string>& elements, const KorSyncPolicy& reply) {
  // A message that could not go out gets no reply: waiting for one would only hang.
  if (silent_ || !link_.Send(elements)) return 0;
  return Handle(reply);
}

int32_t KorSyncSession::Handle(const KorSyncPolicy& reply) {
  switch (reply.kind) {
    case KorSyncReply::kWaitFor:
      WaitFor(reply.name);
      return 0;
    case KorSyncReply::kReadOne:
      link_.RawRead();
      return 0;
    case KorSyncReply::kModule:
      return RunModuleHandler(reply.state);
    case KorSyncReply::kReadOneIs: {
      KorValue message;
      return link_.Receive(&message) == KorDLReceive::kMessage && KorDLHoldsName(message, reply.name) ? 1 : 0;
    }
  }
  return 0;
}

void KorSyncSession::WaitFor(const char* name) {
  for (;;) {
    KorValue reply;
    if (link_.Receive(&reply) != KorDLReceive::kMessage) return;
    if (!reply.IsArray() || reply.AsArray().empty() || KorDLHoldsName(reply, name)) return;
    // A device that cancelled the session or refused the class sends nothing more of it: waiting
    // on would only hang.
    if (KorDLHoldsName(reply, "SDMessageCancelSession") ||
        KorDLHoldsName(reply, "SDMessageRefuseToSyncDataClassWithComputer")) {
      KLOG(WARNING) << "sync " << data_class_.name << ": the device ended the session (" << KorDLMessageName(reply)
                    << ") while the computer waited for " << name;
      return;
    }
  }
}

int32_t KorSyncSession::RunModuleHandler(int state) {
  int32_t result = 0;
  if (handler_ == nullptr) {
    KLOG(ERROR) << "sync exchange in module state " << state << " without a module handler";
    return result;
  }
  for (;;) {
    KorValue reply;
    if (link_.Receive(&reply) != KorDLReceive::kMessage) return result;
    // A reply that is not an array is ignored: the exchange ends without collecting anything.
    if (!reply.IsArray()) return result;
    bool again = false;
    handler_->OnReply(state, reply, &again, &result);
    if (!again) return result;
  }
}

void KorSyncSession::ReadBatchesAhead(const char* message, int first_state, int later_state) {
  if (handler_ == nullptr) {
    KLOG(ERROR) << "sync batches read ahead in module state " << first_state << " without a module handler";
    return;
  }
  KorSyncReplyWorker worker(handler_, kBatchesAhead);
  SendAndQueue(message, first_state, &worker);
  while (SendAndQueue(kAcknowledge, later_state, &worker)) {
  }
}

bool KorSyncSession::SendAndQueue(const char* message, int state, KorSyncReplyWorker* worker) {
  if (silent_ || !link_.Send({KorPlistString(message), KorPlistString(data_class_.name)})) return false;
  std::vector<uint8_t> bytes;
  if (!link_.ReceiveFrame(&bytes)) return false;
  // Whether the reply is an array and a batch is read from its bytes, so that the batch is
  // acknowledged before it is parsed: the worker parses it while the device builds the next one.
  KorBplistTopArray peek = KorPeekBplistTopArray(bytes.data(), bytes.size(), kBatch);
  if (peek.decided) {
    if (!peek.is_array) return false;
    worker->Queue(state, std::move(bytes));
    return peek.holds_name;
  }
  // Not a binary property list this reader vouches for: parsed here, read into a tree by the worker.
  KorCFHolder reply = KorMessageToPropertyList(bytes.data(), static_cast<uint32_t>(bytes.size()));
  if (!reply || !KorDLParsedIsArray(reply)) return false;
  const bool batch = KorDLParsedHoldsName(reply, kBatch);
  worker->Queue(state, std::move(reply));
  return batch;
}

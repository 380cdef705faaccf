// The AFC client: request/response exchanges on a service channel. The host shares one AFC
// connection among all its threads, so each exchange (request out, whole reply in) holds the
// connection's lock; exchanges of different threads interleave but never mix. Replies are read
// defensively: the header must carry the magic, consistent lengths and the request's packet
// number, and no body may exceed what the request can legitimately produce. A reply that breaks
// these rules leaves the stream out of step, so the connection refuses all later requests. A
// pipelined exchange keeps a window of requests in flight under the same lock and reads their
// replies, checked the same way, in order.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "devicefw/device_framework_abi.h"
#include "mobiledevice/afc_wire.h"
#include "mobiledevice/service_channel.h"

namespace devicefw::md {

// Largest piece of file data asked for, or sent, in one request. Large pieces keep the number of
// round trips (the cost of AFC transfers) low; the host moves data in 4 MiB pieces too.
inline constexpr size_t kAfcMaxReadPiece = 4 << 20;
inline constexpr size_t kAfcMaxWritePiece = 4 << 20;
// Largest reply body accepted for listings and key/value replies.
inline constexpr uint64_t kAfcMaxReplyBody = 64 << 20;
// Requests of a pipelined exchange that may be unanswered at once. A device answers the requests
// of one connection strictly in order, so the replies of a window keep it busy while this side
// reads; the window is small enough that its requests and replies fit the socket buffers, so
// neither side ever blocks writing while the other is not reading.
inline constexpr size_t kAfcPipelineWindow = 64;

class AfcConnection {
 public:
  explicit AfcConnection(std::shared_ptr<ServiceChannel> channel) : channel_(std::move(channel)) {}

  // Sends `operation` and waits for its reply. A status reply gives its error number (0 with an
  // empty body); a reply of `reply_operation` gives 0 and its body (parameters and payload).
  afc_error_t Exchange(AfcOperation operation, const AfcParameters& parameters, uint64_t reply_operation,
                       std::vector<uint8_t>* body, const uint8_t* payload = nullptr, size_t payload_length = 0);
  // One read request whose data lands directly in `buffer` (at most `wanted` bytes).
  afc_error_t ReadPiece(uint64_t file, uint8_t* buffer, size_t wanted, size_t* got);

  // Fills in the parameters of request `index` of a pipelined exchange.
  using RequestBuilder = std::function<void(size_t index, AfcParameters* parameters)>;
  // Takes the answer to request `index`: 0 with the body of the expected reply, or the status's
  // error number (no body).
  using AnswerSink = std::function<void(size_t index, afc_error_t error, const uint8_t* body, size_t length)>;
  // Sends `count` requests of `operation` with up to kAfcPipelineWindow of them unanswered and hands
  // each reply, in request order, to `answer`. Replies are checked as in Exchange; the expected
  // reply body is at most `max_body` bytes. Returns 0 when every request was answered, else the
  // error that broke the stream (the connection then refuses later requests, and the requests
  // after the last answered one get no answer).
  afc_error_t ExchangeMany(AfcOperation operation, size_t count, uint64_t reply_operation, uint64_t max_body,
                           const RequestBuilder& build, const AnswerSink& answer);

 private:
  struct Destination {
    uint8_t* bytes;         // fixed buffer, or null to fill `vector`
    uint64_t capacity;      // the most body bytes accepted
    std::vector<uint8_t>* vector;
    size_t* length;         // bytes placed
  };

  afc_error_t ExchangeLocked(AfcOperation operation, const std::string& parameters, const uint8_t* payload,
                             size_t payload_length, uint64_t reply_operation, const Destination& destination);
  afc_error_t ExchangeManyLocked(AfcOperation operation, size_t count, uint64_t reply_operation, uint64_t max_body,
                                 const RequestBuilder& build, const AnswerSink& answer);
  // Appends request `index` of a pipelined exchange, numbered next, to `out`.
  void AppendRequest(AfcOperation operation, size_t index, const RequestBuilder& build, std::string* out);
  afc_error_t ReceiveStatus(const AfcHeader& header);
  afc_error_t ReceiveBody(const AfcHeader& header, const Destination& destination);
  // Marks the stream as unusable and returns `error`.
  afc_error_t Break(afc_error_t error);

  std::mutex mutex_;
  std::shared_ptr<ServiceChannel> channel_;
  uint64_t next_packet_ = 0;
  bool broken_ = false;
};

}  // namespace devicefw::md

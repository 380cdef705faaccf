// A device-side connection after usbmuxd handed it to a service: it reads requests, sends
// replies, and applies the faults armed for the service (drop after N bytes, stall or pace a reply).
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <initializer_list>
#include <optional>
#include <string>

#include "fault_table.h"
#include "platform/kst_socket.h"
#include "platform/kst_socket_io.h"

namespace vdevice {

// Sleeps, waking early when `stopping` (may be null) is set.
void SleepUnlessStopping(uint64_t milliseconds, const std::atomic<bool>* stopping);

class ServiceStream {
 public:
  // `faults` may be null (no fault injection); `stopping` turns long stalls short at shutdown.
  ServiceStream(const kst::KstSocket& socket, std::string service, FaultTable* faults,
                const std::atomic<bool>* stopping);

  bool ReadExact(void* buffer, size_t length);
  // Reads whatever has arrived, 1..capacity bytes (waiting for at least one); 0 once the
  // connection is closed or dropped, negative on failure.
  long ReadSome(void* buffer, size_t capacity);
  // Sends one reply made of several pieces; false once the connection is gone or dropped.
  bool Send(std::initializer_list<kst::ConstBuffer> pieces);
  bool Send(const std::string& bytes) { return Send({{bytes.data(), bytes.size()}}); }

  // Paces every send at this rate when no pace fault is armed (0: as fast as the socket goes).
  void SetDefaultPace(uint64_t megabytes_per_second) { default_pace_ = megabytes_per_second; }

  // The error armed for this service's next request, if any.
  std::optional<std::string> TakeInjectedError();
  // The length a bare length field armed for the service's next message announces, if any.
  std::optional<uint32_t> TakeFrameLength();

  const std::string& service() const { return service_; }
  const kst::KstSocket& socket() const { return socket_; }
  uint64_t bytes_sent() const { return bytes_sent_; }

 private:
  void ApplyStall();
  // Sends in small pieces, each after the time the armed pace allows for the bytes before it.
  bool SendPaced(std::initializer_list<kst::ConstBuffer> pieces, uint64_t megabytes_per_second);
  bool SendWithinBudget(std::initializer_list<kst::ConstBuffer> pieces);
  void Drop();

  const kst::KstSocket& socket_;
  std::string service_;
  FaultTable* faults_;
  const std::atomic<bool>* stopping_;
  std::optional<uint64_t> drop_after_;
  uint64_t bytes_sent_ = 0;
  bool dropped_ = false;
  uint64_t default_pace_ = 0;
  std::chrono::steady_clock::duration pace_credit_{};
  // When the paced bytes sent so far are due to have left; idle time earns no credit.
  std::chrono::steady_clock::time_point pace_due_;
};

}  // namespace vdevice

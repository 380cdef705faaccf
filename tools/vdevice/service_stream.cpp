#include "service_stream.h"

#include <algorithm>
#include <chrono>
#include <thread>

#include "log.h"

namespace vdevice {

namespace {

// A paced conversation (a device behind a slow cable) may catch up on gaps this short between its
// sends, as the link's buffers would let it; longer idle time earns nothing.
constexpr std::chrono::milliseconds kDefaultPaceCredit{20};

}  // namespace

void SleepUnlessStopping(uint64_t milliseconds, const std::atomic<bool>* stopping) {
  auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
  while (std::chrono::steady_clock::now() < until && !(stopping && stopping->load())) {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
}

ServiceStream::ServiceStream(const kst::KstSocket& socket, std::string service, FaultTable* faults,
                             const std::atomic<bool>* stopping)
    : socket_(socket), service_(std::move(service)), faults_(faults), stopping_(stopping) {
  if (!faults_) return;
  if (std::optional<Fault> drop = faults_->Take(service_, FaultKind::kDrop)) {
    drop_after_ = drop->amount;
    LogLine("fault: %s connection will be dropped after %llu bytes", service_.c_str(),
            static_cast<unsigned long long>(drop->amount));
    if (drop->amount == 0) Drop();
  }
}

bool ServiceStream::ReadExact(void* buffer, size_t length) {
  return !dropped_ && socket_.RecvAll(buffer, length);
}

long ServiceStream::ReadSome(void* buffer, size_t capacity) {
  if (dropped_) return 0;
  return socket_.Recv(buffer, capacity);
}

std::optional<std::string> ServiceStream::TakeInjectedError() {
  if (!faults_) return std::nullopt;
  std::optional<Fault> fault = faults_->Take(service_, FaultKind::kError);
  if (!fault) return std::nullopt;
  LogLine("fault: %s answers its next request with error %s", service_.c_str(), fault->value.c_str());
  return fault->value;
}

std::optional<uint32_t> ServiceStream::TakeFrameLength() {
  if (!faults_) return std::nullopt;
  std::optional<Fault> fault = faults_->Take(service_, FaultKind::kFrame);
  if (!fault) return std::nullopt;
  LogLine("fault: %s sends a bare length field of %llu in place of its next message", service_.c_str(),
          static_cast<unsigned long long>(fault->amount));
  return static_cast<uint32_t>(fault->amount);
}

void ServiceStream::ApplyStall() {
  if (!faults_) return;
  std::optional<Fault> stall = faults_->Take(service_, FaultKind::kStall);
  if (!stall) return;
  LogLine("fault: %s reply stalled %llu ms", service_.c_str(), static_cast<unsigned long long>(stall->amount));
  SleepUnlessStopping(stall->amount, stopping_);
}

void ServiceStream::Drop() {
  LogLine("fault: %s connection dropped after %llu bytes", service_.c_str(),
          static_cast<unsigned long long>(bytes_sent_));
  dropped_ = true;
  socket_.Shutdown();
}

bool ServiceStream::Send(std::initializer_list<kst::ConstBuffer> pieces) {
  if (dropped_) return false;
  ApplyStall();
  size_t total = 0;
  for (const kst::ConstBuffer& piece : pieces) total += piece.length;
  if (drop_after_ && bytes_sent_ + total >= *drop_after_) return SendWithinBudget(pieces);
  if (std::optional<Fault> pace = faults_ ? faults_->Take(service_, FaultKind::kPace) : std::nullopt) {
    return SendPaced(pieces, pace->amount);
  }
  if (default_pace_ > 0) {
    pace_credit_ = kDefaultPaceCredit;
    bool sent = SendPaced(pieces, default_pace_);
    pace_credit_ = {};
    return sent;
  }
  if (!kst::SendBuffers(socket_, pieces)) return false;
  bytes_sent_ += total;
  return true;
}

bool ServiceStream::SendPaced(std::initializer_list<kst::ConstBuffer> pieces, uint64_t megabytes_per_second) {
  constexpr size_t kPacedPiece = 64 * 1024;
  const double seconds_per_byte = 1.0 / (static_cast<double>(megabytes_per_second) * 1e6);
  pace_due_ = std::max(pace_due_, std::chrono::steady_clock::now() - pace_credit_);
  for (const kst::ConstBuffer& piece : pieces) {
    const auto* bytes = static_cast<const uint8_t*>(piece.data);
    for (size_t offset = 0; offset < piece.length; offset += kPacedPiece) {
      size_t part = std::min(kPacedPiece, piece.length - offset);
      if (!socket_.SendAll(bytes + offset, part)) return false;
      bytes_sent_ += part;
      pace_due_ += std::chrono::duration_cast<std::chrono::steady_clock::duration>(
          std::chrono::duration<double>(static_cast<double>(part) * seconds_per_byte));
      if (stopping_ && stopping_->load()) continue;
      std::this_thread::sleep_until(pace_due_);
    }
  }
  return true;
}

// Sends only the bytes the armed drop still allows, then cuts the connection.
bool ServiceStream::SendWithinBudget(std::initializer_list<kst::ConstBuffer> pieces) {
  uint64_t allowed = *drop_after_ - bytes_sent_;
  for (const kst::ConstBuffer& piece : pieces) {
    size_t part = static_cast<size_t>(std::min<uint64_t>(allowed, piece.length));
    if (part > 0 && !socket_.SendAll(piece.data, part)) break;
    bytes_sent_ += part;
    allowed -= part;
    if (allowed == 0) break;
  }
  Drop();
  return false;
}

}  // namespace vdevice

#include "mobiledevice/service_connection.h"

#include <limits>

#include "common/guarded_call.h"
#include "devicefw/devicefw_exports.h"

namespace devicefw::md {

AMDServiceConnectionRef NewServiceConnection(std::shared_ptr<ServiceChannel> channel) {
  RegisterChannel(channel);
  return new am_service_connection{std::move(channel)};
}

}  // namespace devicefw::md

extern "C" {

int64_t AMDServiceConnectionSend(AMDServiceConnectionRef connection, const void* data, size_t length) {
  if (connection == nullptr || (data == nullptr && length > 0)) return -1;
  if (length > static_cast<size_t>(std::numeric_limits<int64_t>::max())) return -1;
  return connection->channel->Send(data, length) ? static_cast<int64_t>(length) : -1;
}

// Returns what arrived (at least one byte), 0 at the end of the stream, -1 on failure.
int64_t AMDServiceConnectionReceive(AMDServiceConnectionRef connection, void* buffer, size_t capacity) {
  if (connection == nullptr || buffer == nullptr) return -1;
  return connection->channel->ReceiveSome(buffer, capacity);
}

int32_t AMDServiceConnectionGetSocket(AMDServiceConnectionRef connection) {
  return connection == nullptr ? -1 : connection->channel->socket();
}

// Non-null (an opaque token) when the service runs over SSL.
void* AMDServiceConnectionGetSecureIOContext(AMDServiceConnectionRef connection) {
  if (connection == nullptr || !connection->channel->ssl()) return nullptr;
  return connection->channel.get();
}

// Ends the service's stream and frees the handle. An AFC connection still open on it fails from
// then on; the socket itself is closed when the last user lets go.
mach_error_t AMDServiceConnectionInvalidate(AMDServiceConnectionRef connection) {
  if (connection == nullptr) return kAMDInvalidArgumentError;
  devicefw::md::UnregisterChannel(*connection->channel);
  connection->channel->Shutdown();
  delete connection;
  return kAMDSuccess;
}

}  // extern "C"

static_assert(std::is_same_v<decltype(&AMDServiceConnectionSend), AMDServiceConnectionSendFn>);
static_assert(std::is_same_v<decltype(&AMDServiceConnectionReceive), AMDServiceConnectionReceiveFn>);
static_assert(std::is_same_v<decltype(&AMDServiceConnectionGetSocket), AMDServiceConnectionGetSocketFn>);
static_assert(std::is_same_v<decltype(&AMDServiceConnectionGetSecureIOContext),
                             AMDServiceConnectionGetSecureIOContextFn>);
static_assert(std::is_same_v<decltype(&AMDServiceConnectionInvalidate), AMDServiceConnectionInvalidateFn>);

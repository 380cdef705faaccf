#include "platform/kst_socket_io.h"

#include <sys/socket.h>
#include <sys/uio.h>

#include <cerrno>
#include <vector>

namespace kst {

bool SendBuffers(const KstSocket& socket, std::initializer_list<ConstBuffer> buffers) {
  std::vector<iovec> pending;
  pending.reserve(buffers.size());
  for (const ConstBuffer& buffer : buffers) {
    if (buffer.length > 0) pending.push_back(iovec{const_cast<void*>(buffer.data), buffer.length});
  }
  size_t first = 0;
  while (first < pending.size()) {
    msghdr message{};
    message.msg_iov = pending.data() + first;
    message.msg_iovlen = pending.size() - first;
    ssize_t sent = ::sendmsg(socket.Get(), &message, MSG_NOSIGNAL);
    if (sent < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    size_t left = static_cast<size_t>(sent);
    while (first < pending.size() && left >= pending[first].iov_len) {
      left -= pending[first].iov_len;
      ++first;
    }
    if (first < pending.size()) {
      pending[first].iov_base = static_cast<char*>(pending[first].iov_base) + left;
      pending[first].iov_len -= left;
    }
  }
  return true;
}

bool PeerHasClosed(const KstSocket& socket) {
  if (!socket.WaitReadable(0)) return false;
  char probe;
  ssize_t got = ::recv(socket.Get(), &probe, 1, MSG_PEEK | MSG_DONTWAIT);
  if (got == 0) return true;
  return got < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR;
}

}  // namespace kst

// Sending several buffers as one write, so that a header and its payload leave together
// without being copied into one buffer first.
#pragma once

#include <cstddef>
#include <initializer_list>

#include "platform/kst_socket.h"

namespace kst {

struct ConstBuffer {
  const void* data;
  size_t length;
};

// Writes every buffer in order (retrying partial writes); false when the peer is gone.
bool SendBuffers(const KstSocket& socket, std::initializer_list<ConstBuffer> buffers);

// Lets an idle connection notice quickly that its peer went away: true when the peer has
// closed its end (or the socket failed) and nothing is left to read.
bool PeerHasClosed(const KstSocket& socket);

}  // namespace kst

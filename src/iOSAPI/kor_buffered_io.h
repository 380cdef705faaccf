// A read-ahead buffer in front of a connection's receive. Protocols that interleave tiny reads
// (4-byte lengths, 1-byte codes) with bulk data would otherwise pay one system call per field;
// with it, small reads are served from one larger receive and large reads still go straight
// into the caller's memory.
#pragma once

#include <cstddef>

#include "iOSAPI/kor_service_message.h"

constexpr size_t kKorReadAheadBytes = 65536;

// The same connection with its receive buffered; sends pass through unchanged. Every reader of
// the connection must use the returned object from then on (the buffer holds bytes already read).
KorServiceIo KorBufferedReceiveIo(KorServiceIo io, size_t buffer_bytes = kKorReadAheadBytes);

// Reads, from the bytes of a binary property list, only whether its top object is an array and
// whether that array holds a given string (compared without regard to case, as the DeviceLink
// message names are). A synchronisation listing uses it to acknowledge a record batch as soon as
// it has arrived and to leave the full parse to another thread. The bytes come from the device:
// every offset, count and length is checked against the buffer, and whatever cannot be read for
// certain is reported as undecided, so that the caller parses the message the usual way.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

struct KorBplistTopArray {
  bool decided = false;     // false: not a binary property list this reader can vouch for
  bool is_array = false;    // the top object is an array
  bool holds_name = false;  // ... holding a string equal to the name
};

KorBplistTopArray KorPeekBplistTopArray(const uint8_t* bytes, size_t length, std::string_view name);

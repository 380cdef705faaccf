// libplist trusts the shape of what it parses: a binary property list whose objects refer to one
// another many times is expanded into a copy per reference (exponential in the nesting), and
// deep nesting overflows the stack of its recursive parser and of plist_free. Bytes from a device
// are therefore checked here, in linear time and without recursion, before libplist sees them.
#pragma once

#include <cstddef>
#include <cstdint>

namespace devicefw::cf {

// Deeper containers are refused in both directions of the conversion.
inline constexpr size_t kMaxPlistNesting = 512;
// How many nodes a binary property list may expand to once shared references are copied: 64 per
// stored object (shared dictionary keys expand legitimately), at least 1 Mi, never above 8 Mi.
uint64_t MaxExpandedNodes(uint64_t object_count);

// True when the bytes may be handed to libplist: a binary property list whose object graph is
// well formed, acyclic, shallow enough and not too large once expanded, or any other text (XML)
// whose element nesting stays within the limit.
bool IsPlistInputWithinLimits(const uint8_t* bytes, size_t length);

}  // namespace devicefw::cf

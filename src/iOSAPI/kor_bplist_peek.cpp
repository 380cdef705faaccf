#include "iOSAPI/kor_bplist_peek.h"

#include <cstring>

namespace {

constexpr char kMagic[] = "bplist00";
constexpr size_t kMagicLength = 8;
constexpr size_t kTrailerLength = 32;
constexpr uint8_t kIntType = 0x1;
constexpr uint8_t kAsciiType = 0x5;
constexpr uint8_t kUtf16Type = 0x6;
constexpr uint8_t kArrayType = 0xA;
constexpr uint8_t kExtendedCount = 0xF;

// Reads `size` (1..8) big-endian bytes at `at`; false past `end`.
bool ReadUnsigned(const uint8_t* bytes, size_t at, size_t size, size_t end, uint64_t* value) {
  if (size == 0 || size > 8 || at > end || end - at < size) return false;
  uint64_t result = 0;
  for (size_t i = 0; i < size; ++i) result = (result << 8) | bytes[at + i];
  *value = result;
  return true;
}

struct Layout {
  const uint8_t* bytes = nullptr;
  size_t objects_end = 0;  // objects lie in [8, objects_end): the offset table starts there
  size_t offset_size = 0;
  size_t ref_size = 0;
  uint64_t object_count = 0;
  uint64_t top = 0;
  size_t table = 0;
};

bool ReadLayout(const uint8_t* bytes, size_t length, Layout* layout) {
  if (length < kMagicLength + kTrailerLength || std::memcmp(bytes, kMagic, kMagicLength) != 0) return false;
  const size_t trailer = length - kTrailerLength;
  layout->bytes = bytes;
  layout->offset_size = bytes[trailer + 6];
  layout->ref_size = bytes[trailer + 7];
  uint64_t table = 0;
  if (!ReadUnsigned(bytes, trailer + 8, 8, length, &layout->object_count) ||
      !ReadUnsigned(bytes, trailer + 16, 8, length, &layout->top) ||
      !ReadUnsigned(bytes, trailer + 24, 8, length, &table)) {
    return false;
  }
  if (layout->offset_size < 1 || layout->offset_size > 8 || layout->ref_size < 1 || layout->ref_size > 8) return false;
  if (table < kMagicLength || table > trailer || layout->object_count == 0 || layout->top >= layout->object_count) {
    return false;
  }
  if (layout->object_count > (trailer - table) / layout->offset_size) return false;
  layout->table = static_cast<size_t>(table);
  layout->objects_end = layout->table;
  return true;
}

// Where object `index` starts; false when the table or the offset lies outside the objects.
bool ObjectOffset(const Layout& layout, uint64_t index, size_t* offset) {
  if (index >= layout.object_count) return false;
  uint64_t value = 0;
  size_t entry = layout.table + static_cast<size_t>(index) * layout.offset_size;
  if (!ReadUnsigned(layout.bytes, entry, layout.offset_size, layout.table + layout.object_count * layout.offset_size,
                    &value)) {
    return false;
  }
  if (value < kMagicLength || value >= layout.objects_end) return false;
  *offset = static_cast<size_t>(value);
  return true;
}

// The count of the object whose marker is at `offset` and where its contents start.
bool ObjectCount(const Layout& layout, size_t offset, uint64_t* count, size_t* contents) {
  const uint8_t marker = layout.bytes[offset];
  if ((marker & 0x0F) != kExtendedCount) {
    *count = marker & 0x0F;
    *contents = offset + 1;
    return true;
  }
  if (offset + 1 >= layout.objects_end) return false;
  const uint8_t int_marker = layout.bytes[offset + 1];
  if ((int_marker >> 4) != kIntType || (int_marker & 0x0F) > 3) return false;
  const size_t size = size_t{1} << (int_marker & 0x0F);
  if (!ReadUnsigned(layout.bytes, offset + 2, size, layout.objects_end, count)) return false;
  *contents = offset + 2 + size;
  return true;
}

char LowerAscii(unsigned value) { return static_cast<char>(value >= 'A' && value <= 'Z' ? value + ('a' - 'A') : value); }

// Whether the string object at `offset` equals `name` without regard to ASCII case; false for any
// other object and for a string that does not fit the objects.
bool StringEquals(const Layout& layout, size_t offset, std::string_view name) {
  const uint8_t type = layout.bytes[offset] >> 4;
  if (type != kAsciiType && type != kUtf16Type) return false;
  uint64_t count = 0;
  size_t contents = 0;
  if (!ObjectCount(layout, offset, &count, &contents) || count != name.size()) return false;
  const size_t unit = type == kUtf16Type ? 2 : 1;
  if (contents > layout.objects_end || (layout.objects_end - contents) / unit < count) return false;
  for (size_t i = 0; i < name.size(); ++i) {
    unsigned value = unit == 1 ? layout.bytes[contents + i]
                               : (unsigned{layout.bytes[contents + 2 * i]} << 8) | layout.bytes[contents + 2 * i + 1];
    if (value > 0x7F || LowerAscii(value) != LowerAscii(static_cast<unsigned char>(name[i]))) return false;
  }
  return true;
}

}  // namespace

KorBplistTopArray KorPeekBplistTopArray(const uint8_t* bytes, size_t length, std::string_view name) {
  KorBplistTopArray peek;
  Layout layout;
  size_t top = 0;
  if (!bytes || !ReadLayout(bytes, length, &layout) || !ObjectOffset(layout, layout.top, &top)) return peek;
  if ((bytes[top] >> 4) != kArrayType) {
    peek.decided = true;
    return peek;
  }
  uint64_t count = 0;
  size_t refs = 0;
  if (!ObjectCount(layout, top, &count, &refs)) return peek;
  if (refs > layout.objects_end || (layout.objects_end - refs) / layout.ref_size < count) return peek;
  peek.is_array = true;
  for (uint64_t i = 0; i < count; ++i) {
    uint64_t ref = 0;
    size_t element = 0;
    if (!ReadUnsigned(bytes, refs + static_cast<size_t>(i) * layout.ref_size, layout.ref_size, layout.objects_end, &ref) ||
        !ObjectOffset(layout, ref, &element)) {
      return KorBplistTopArray();
    }
    if (StringEquals(layout, element, name)) peek.holds_name = true;
  }
  peek.decided = true;
  return peek;
}

#include "utility/db/kor_typedstream.h"

#include <cstdint>
#include <cstring>
#include <optional>
#include <vector>

namespace {

// Single-byte tags of the format; values from kFirstTag to kLastTag are never plain integers.
constexpr int kTagInteger2 = -127;
constexpr int kTagInteger4 = -126;
constexpr int kTagFloat = -125;
constexpr int kTagNew = -124;
constexpr int kTagNil = -123;
constexpr int kTagEndOfObject = -122;
constexpr int kFirstTag = -128;
constexpr int kLastTag = -111;
constexpr int kFirstReference = -110;

constexpr size_t kMaxDepth = 16;
constexpr size_t kMaxTableEntries = 4096;
constexpr size_t kMaxTypeLength = 256;
constexpr size_t kMaxSteps = 100000;

struct ClassInfo {
  bool is_string = false;
};

class TypedStreamReader {
 public:
  explicit TypedStreamReader(std::string_view blob) : data_(blob) {}

  bool ReadHeader() {
    std::optional<uint8_t> version = Byte();
    std::optional<uint8_t> length = Byte();
    if (!version || !length || *length != 11) return false;
    std::string_view signature = Bytes(11);
    if (signature != "streamtyped") return false;
    return SignedInteger().has_value();  // the archiving system's version
  }

  // Reads top-level typed groups until a string's characters are found.
  bool FindString(std::string* text) {
    while (!found_ && pos_ < data_.size()) {
      if (!ReadTypedGroup(0)) return false;
    }
    if (!found_) return false;
    *text = std::move(text_);
    return true;
  }

 private:
  std::optional<uint8_t> Byte() {
    if (pos_ >= data_.size()) return std::nullopt;
    return static_cast<uint8_t>(data_[pos_++]);
  }
  std::optional<int> PeekSigned() const {
    if (pos_ >= data_.size()) return std::nullopt;
    return static_cast<int8_t>(data_[pos_]);
  }
  std::string_view Bytes(size_t count) {
    if (count > data_.size() - pos_) return std::string_view();
    std::string_view out = data_.substr(pos_, count);
    pos_ += count;
    return out;
  }
  std::optional<int64_t> LittleEndian(size_t count) {
    std::string_view bytes = Bytes(count);
    if (bytes.size() != count) return std::nullopt;
    uint64_t value = 0;
    for (size_t i = 0; i < count; ++i) value |= static_cast<uint64_t>(static_cast<uint8_t>(bytes[i])) << (8 * i);
    if (count == 2) return static_cast<int16_t>(value);
    return static_cast<int32_t>(value);
  }

  // An integer after its first byte `head` (already consumed).
  std::optional<int64_t> IntegerAfter(int head, bool is_signed) {
    if (head == kTagInteger2) return LittleEndian(2);
    if (head == kTagInteger4) return LittleEndian(4);
    if (head >= kFirstTag && head <= kLastTag) return std::nullopt;
    return is_signed ? head : static_cast<uint8_t>(head);
  }
  std::optional<int64_t> SignedInteger() {
    std::optional<uint8_t> head = Byte();
    if (!head) return std::nullopt;
    return IntegerAfter(static_cast<int8_t>(*head), true);
  }
  std::optional<int64_t> UnsignedInteger() {
    std::optional<uint8_t> head = Byte();
    if (!head) return std::nullopt;
    return IntegerAfter(static_cast<int8_t>(*head), false);
  }
  // A reference number after its first byte.
  std::optional<size_t> ReferenceAfter(int head) {
    std::optional<int64_t> value = IntegerAfter(head, true);
    if (!value || *value < kFirstReference) return std::nullopt;
    return static_cast<size_t>(*value - kFirstReference);
  }

  // A shared string: new (length-prefixed bytes, entered in the table), nil, or a reference.
  // `out` stays empty for nil.
  bool SharedString(std::string* out) {
    std::optional<uint8_t> head = Byte();
    if (!head) return false;
    int tag = static_cast<int8_t>(*head);
    if (tag == kTagNil) {
      out->clear();
      return true;
    }
    if (tag == kTagNew) {
      std::optional<int64_t> length = UnsignedInteger();
      if (!length || *length < 0 || static_cast<uint64_t>(*length) > data_.size() - pos_) return false;
      if (strings_.size() >= kMaxTableEntries) return false;
      std::string_view bytes = Bytes(static_cast<size_t>(*length));
      strings_.emplace_back(bytes);
      *out = strings_.back();
      return true;
    }
    std::optional<size_t> reference = ReferenceAfter(tag);
    if (!reference || *reference >= strings_.size()) return false;
    *out = strings_[*reference];
    return true;
  }

  bool ReadTypedGroup(size_t depth) {
    std::string types;
    if (!SharedString(&types) || types.empty() || types.size() > kMaxTypeLength) return false;
    for (char type : types) {
      if (found_) return true;
      if (!ReadValue(type, depth)) return false;
    }
    return true;
  }

  bool ReadValue(char type, size_t depth) {
    if (++steps_ > kMaxSteps) return false;
    switch (type) {
      case '@':
        return ReadObject(depth);
      case '#':
        return ReadClass(depth, nullptr);
      case '+':
        return ReadByteString(depth);
      case '*':
        return ReadCString();
      case '%':
      case ':': {
        std::string ignored;
        return SharedString(&ignored);
      }
      case 'c': case 'C': case 's': case 'S': case 'i': case 'I':
      case 'l': case 'L': case 'q': case 'Q':
        return SignedInteger().has_value();
      case 'f':
      case 'd':
        return ReadFloat(type);
      default:
        return false;  // arrays, structures and unions are never part of an attributed string's text
    }
  }

  // The head of an object-table entry (object, class or C string): nil, a reference to an earlier
  // entry (its index), or new. Anything else, or a reference beyond the table, is malformed.
  enum class Head { kMalformed, kNil, kReference, kNew };
  Head ReadEntryHead(size_t* reference) {
    std::optional<uint8_t> head = Byte();
    if (!head) return Head::kMalformed;
    int tag = static_cast<int8_t>(*head);
    if (tag == kTagNil) return Head::kNil;
    if (tag == kTagNew) return Head::kNew;
    std::optional<size_t> index = ReferenceAfter(tag);
    if (!index || *index >= objects_.size()) return Head::kMalformed;
    *reference = *index;
    return Head::kReference;
  }

  // A C string: nil, a reference to an earlier one, or new (a shared string follows).
  bool ReadCString() {
    size_t reference = 0;
    Head head = ReadEntryHead(&reference);
    if (head != Head::kNew) return head != Head::kMalformed;
    std::string ignored;
    if (!SharedString(&ignored) || objects_.size() >= kMaxTableEntries) return false;
    objects_.push_back(ClassInfo{});
    return true;
  }

  bool ReadFloat(char type) {
    std::optional<int> head = PeekSigned();
    if (!head) return false;
    if (*head != kTagFloat) return SignedInteger().has_value();
    ++pos_;
    return Bytes(type == 'f' ? 4 : 8).size() == (type == 'f' ? 4u : 8u);
  }

  // Length-prefixed bytes; inside a string object they are its characters in UTF-8.
  bool ReadByteString(size_t depth) {
    std::optional<int64_t> length = UnsignedInteger();
    if (!length || *length < 0 || static_cast<uint64_t>(*length) > data_.size() - pos_) return false;
    std::string_view bytes = Bytes(static_cast<size_t>(*length));
    if (depth > 0 && in_string_object_ == depth) {
      if (bytes.size() > kKorTypedStreamMaxText) return false;
      text_ = KorValidUtf8(bytes);
      found_ = true;
    }
    return true;
  }

  // A class: nil, a reference to an earlier class, or a new class (name, version, superclass).
  bool ReadClass(size_t depth, ClassInfo* info) {
    if (depth > kMaxDepth) return false;
    size_t reference = 0;
    Head head = ReadEntryHead(&reference);
    if (head == Head::kReference && info) info->is_string = info->is_string || objects_[reference].is_string;
    if (head != Head::kNew) return head != Head::kMalformed;
    std::string name;
    if (!SharedString(&name) || !SignedInteger()) return false;
    if (objects_.size() >= kMaxTableEntries) return false;
    size_t index = objects_.size();
    objects_.push_back(ClassInfo{});
    ClassInfo chain;
    if (!ReadClass(depth + 1, &chain)) return false;
    objects_[index].is_string = chain.is_string || name == "NSString" || name == "NSMutableString";
    if (info) info->is_string = info->is_string || objects_[index].is_string;
    return true;
  }

  // An object: nil, a reference, or a new object (class, then typed groups to its end marker).
  bool ReadObject(size_t depth) {
    if (depth > kMaxDepth) return false;
    size_t reference = 0;
    Head head = ReadEntryHead(&reference);
    if (head != Head::kNew) return head != Head::kMalformed;
    if (objects_.size() >= kMaxTableEntries) return false;
    objects_.push_back(ClassInfo{});  // the object's own entry comes before its class
    ClassInfo info;
    if (!ReadClass(depth + 1, &info)) return false;
    size_t outer = in_string_object_;
    if (info.is_string) in_string_object_ = depth + 1;
    while (!found_) {
      std::optional<int> next = PeekSigned();
      if (!next) return false;
      if (*next == kTagEndOfObject) {
        ++pos_;
        break;
      }
      if (!ReadTypedGroup(depth + 1)) return false;
    }
    in_string_object_ = outer;
    return true;
  }

  std::string_view data_;
  size_t pos_ = 0;
  size_t steps_ = 0;
  std::vector<std::string> strings_;
  std::vector<ClassInfo> objects_;
  size_t in_string_object_ = 0;  // depth of the string object being read, 0 outside one
  bool found_ = false;
  std::string text_;
};

// The length of a valid UTF-8 sequence at the start of `bytes`, 0 when it is not valid.
size_t ValidSequenceLength(std::string_view bytes) {
  auto byte = [&bytes](size_t i) { return static_cast<uint8_t>(bytes[i]); };
  uint8_t lead = byte(0);
  if (lead < 0x80) return 1;
  size_t length = 0;
  uint32_t minimum = 0;
  uint32_t code = 0;
  if ((lead & 0xE0) == 0xC0) {
    length = 2, minimum = 0x80, code = lead & 0x1F;
  } else if ((lead & 0xF0) == 0xE0) {
    length = 3, minimum = 0x800, code = lead & 0x0F;
  } else if ((lead & 0xF8) == 0xF0) {
    length = 4, minimum = 0x10000, code = lead & 0x07;
  } else {
    return 0;
  }
  if (bytes.size() < length) return 0;
  for (size_t i = 1; i < length; ++i) {
    if ((byte(i) & 0xC0) != 0x80) return 0;
    code = (code << 6) | (byte(i) & 0x3F);
  }
  if (code < minimum || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return 0;
  return length;
}

}  // namespace

bool KorIsValidUtf8(std::string_view bytes) {
  while (!bytes.empty()) {
    // Runs of ASCII are the common case; skip them eight bytes at a time.
    while (bytes.size() >= 8) {
      uint64_t word;
      std::memcpy(&word, bytes.data(), 8);
      if (word & 0x8080808080808080ull) break;
      bytes.remove_prefix(8);
    }
    if (bytes.empty()) break;
    size_t length = ValidSequenceLength(bytes);
    if (length == 0) return false;
    bytes.remove_prefix(length);
  }
  return true;
}

std::string KorValidUtf8(std::string_view bytes) {
  std::string out;
  out.reserve(bytes.size());
  while (!bytes.empty()) {
    size_t length = ValidSequenceLength(bytes);
    if (length == 0) {
      out += "\xEF\xBF\xBD";
      length = 1;
    } else {
      out.append(bytes.substr(0, length));
    }
    bytes.remove_prefix(length);
  }
  return out;
}

bool KorDecodeAttributedString(std::string_view blob, std::string* text) {
  TypedStreamReader reader(blob);
  return reader.ReadHeader() && reader.FindString(text);
}

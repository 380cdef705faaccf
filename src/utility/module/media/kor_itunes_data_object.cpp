#include "utility/module/media/kor_itunes_data_object.h"

#include <utility>

#include "platform/kst_utility_string.h"

namespace {

// A string body begins with four words (position, byte length, two more) before the text.
constexpr size_t kStringSubHeader = 16;
// An index list: sort type, count, then 40 bytes of padding before the indices.
constexpr size_t kIndexListPrologue = 48;

bool IsStringType(uint32_t type) {
  if (type < 15) return true;
  switch (type) {
    case 18: case 19: case 22: case 23: case 24: case 27: case 28: case 29: case 30: case 31:
    case 200: case 201: case 202: case 203: case 204: case 300:
      return true;
    default:
      return false;
  }
}

void ReadStringBody(const KorItunesChunk& chunk, KorItunesDataObject* object) {
  size_t start = size_t{chunk.header_length} + kStringSubHeader;
  if (start > chunk.size) return;
  uint32_t byte_length = chunk.U32(chunk.header_length + 4);
  if (byte_length > chunk.size - start) return;  // a length past the object keeps no text
  object->text = KSTUtilityString::Utf16LeToUtf8(chunk.data + start, byte_length);
}

void ReadIndexList(const KorItunesChunk& chunk, KorItunesDataObject* object) {
  size_t start = size_t{chunk.header_length} + kIndexListPrologue;
  if (start > chunk.size) return;
  uint32_t count = chunk.U32(chunk.header_length + 4);
  size_t room = (chunk.size - start) / 4;
  if (count > room) count = static_cast<uint32_t>(room);
  object->indices.reserve(count);
  for (uint32_t i = 0; i < count; ++i) object->indices.push_back(chunk.U32(start + size_t{i} * 4));
}

}  // namespace

KorItunesObjectClass KorItunesObjectClassOf(uint32_t type) {
  if (IsStringType(type)) return KorItunesObjectClass::kString;
  switch (type) {
    case 15: case 16: return KorItunesObjectClass::kClass3;
    case 17: return KorItunesObjectClass::kClass4;
    case 50: return KorItunesObjectClass::kClass5;
    case 51: return KorItunesObjectClass::kClass6;
    case 52: return KorItunesObjectClass::kIndexList;
    case 32: return KorItunesObjectClass::kClass9;
    case 53: return KorItunesObjectClass::kClass10;
    case 100: case 102: return KorItunesObjectClass::kPositionData;
    default: return KorItunesObjectClass::kNotRead;
  }
}

bool KorReadDataObject(const uint8_t* data, size_t available, KorItunesDataObject* object, size_t* total_length) {
  KorItunesChunk chunk;
  if (!KorOpenSizedChunk(data, available, "mhod", &chunk)) return false;
  *total_length = chunk.size;
  object->type = chunk.U32(12);
  object->object_class = KorItunesObjectClassOf(object->type);
  switch (object->object_class) {
    case KorItunesObjectClass::kString: ReadStringBody(chunk, object); break;
    case KorItunesObjectClass::kIndexList: ReadIndexList(chunk, object); break;
    case KorItunesObjectClass::kPositionData:
      object->body_length = static_cast<uint32_t>(chunk.size - chunk.header_length);
      break;
    default: break;
  }
  return true;
}

size_t KorReadDataObjects(const KorItunesChunk& record, size_t offset, uint32_t count, KorItunesStrings* strings) {
  for (uint32_t i = 0; i < count && offset < record.size; ++i) {
    KorItunesDataObject object;
    size_t total = 0;
    if (!KorReadDataObject(record.data + offset, record.size - offset, &object, &total)) break;
    if (object.object_class == KorItunesObjectClass::kString) strings->emplace(object.type, std::move(object.text));
    offset += total;
  }
  return offset;
}

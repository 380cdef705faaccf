// Member chunks compressed ahead while an object is still collected: whatever was changed after
// its chunk went ahead, the chunks handed out are those of the final object, in order.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/kst_zlib.h"
#include "utility/kor_listing.h"
#include "utility/kor_member_chunks_ahead.h"

namespace {

// Adds member `id` ({"n": "<id>"}) and tells `ahead` about it.
void AddMember(rapidjson::Document* object, KorMemberChunksAhead* ahead, int id) {
  auto& allocator = object->GetAllocator();
  rapidjson::Value fields(rapidjson::kObjectType);
  fields.AddMember("n", rapidjson::Value(std::to_string(id).c_str(), allocator), allocator);
  ahead->Touch(object->MemberCount());
  object->AddMember(rapidjson::Value(("id" + std::to_string(id)).c_str(), allocator), fields, allocator);
}

std::vector<std::string> Chunks(KorMemberChunksAhead* ahead, const rapidjson::Value& object, size_t* compressed) {
  std::vector<std::string> texts;
  ahead->ForEachChunk(object, [&](const std::string* text, const std::vector<uint8_t>* zlib) {
    std::string plain;
    if (zlib) {
      ++*compressed;
      EXPECT_TRUE(kst::ZlibDecompress(zlib->data(), zlib->size(), 1 << 20, &plain));
    } else {
      plain = *text;
    }
    texts.push_back(plain);
    return 0;
  });
  return texts;
}

TEST(MemberChunksAheadTest, ChunksChangedAfterGoingAheadAreWrittenAgain) {
  rapidjson::Document object(rapidjson::kObjectType);
  KorMemberChunksAhead ahead(3);
  for (int id = 0; id < 11; ++id) {
    AddMember(&object, &ahead, id);
    ahead.Advance(object);
  }
  // The first two chunks (each followed by a full one) went ahead; the first changes afterwards.
  auto& allocator = object.GetAllocator();
  object.MemberBegin()->value.AddMember("late", "yes", allocator);
  ahead.Touch(1);
  size_t compressed = 0;
  const std::vector<std::string> texts = Chunks(&ahead, object, &compressed);
  std::vector<std::string> expected;
  for (size_t first = 0; first < object.MemberCount(); first += 3) expected.push_back(KorMemberChunkText(object, first, 3));
  EXPECT_EQ(texts, expected);
  EXPECT_EQ(compressed, 1u);  // the second; the first was stale and the last two never went ahead
  EXPECT_NE(texts[0].find("\"late\":\"yes\""), std::string::npos);
}

TEST(MemberChunksAheadTest, AnEmptyOrSmallObjectGoesOutAsText) {
  rapidjson::Document object(rapidjson::kObjectType);
  KorMemberChunksAhead ahead(5);
  size_t compressed = 0;
  EXPECT_TRUE(Chunks(&ahead, object, &compressed).empty());
  AddMember(&object, &ahead, 1);
  ahead.Advance(object);
  EXPECT_EQ(Chunks(&ahead, object, &compressed), (std::vector<std::string>{"{\"id1\":{\"n\":\"1\"}}"}));
  EXPECT_EQ(compressed, 0u);
}

}  // namespace

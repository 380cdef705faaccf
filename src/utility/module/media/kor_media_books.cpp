#include "utility/module/media/kor_media_books.h"

#include "platform/vel_json_util.h"
#include "utility/kor_listing.h"
#include "utility/kor_message.h"
#include "utility/module/media/kor_book_collector.h"
#include "utility/module/media/kor_book_commands.h"

namespace {

constexpr size_t kBatch = 100;

// One group: its count, then its objects in batches of 100, the group number in the headers.
template <typename Item, typename Append>
int SendGroup(const KorMediaCommand& command, uint32_t group, const std::vector<Item>& items, Append append) {
  KorListing listing(command.packet, command.uuid);
  listing.SetGroup(group);
  listing.SetInfo(KorCountInfo(static_cast<int64_t>(items.size())));
  if (int rc = listing.SendStage(1)) return rc;
  KorRecordBatcher batch(&listing, 2, kBatch);
  for (const Item& item : items) {
    if (int rc = batch.AddWritten([&item, &append](std::string* text) { append(item, text); })) return rc;
  }
  return batch.Flush();
}

bool ParseParameters(const KorMediaCommand& command, rapidjson::Document* parameters) {
  std::string text;
  return command.payload && KorInflateAttachment(*command.payload, &text) && VelJsonUtil::Parse(text, parameters) &&
         parameters->IsObject();
}

// The outcome of a change as a stage-1 message before the final reply.
int SendChangeInfo(const KorMediaCommand& command, const std::string& info) {
  KorListing listing(command.packet, command.uuid);
  listing.SetInfo(info);
  return listing.SendStage(1);
}

}  // namespace

int KorListBooksAndRingtones(const KorMediaCommand& command) {
  KorBooksAndRingtones found;
  KorCollectBooksAndRingtones(*command.device, command.afc, command.staging_mutex, &found);
  if (int rc = SendGroup(command, kKorMediaGroupBooks, found.books, KorAppendBookJson)) return rc;
  return SendGroup(command, kKorMediaGroupRingtones, found.ringtones, KorAppendRingtoneJson);
}

int KorAddBook(const KorMediaCommand& command) {
  rapidjson::Document parameters;
  if (!ParseParameters(command, &parameters)) return kKorBadParameters;
  std::string device_path;
  int rc = KorAddBookToDevice(*command.device, command.afc, command.staging_mutex, parameters, &device_path);
  if (rc != kKorOk) return rc;
  rapidjson::Document info(rapidjson::kObjectType);
  info.AddMember("path", rapidjson::Value(device_path.c_str(), info.GetAllocator()), info.GetAllocator());
  return SendChangeInfo(command, VelJsonUtil::ToString(info));
}

int KorRemoveBooks(const KorMediaCommand& command) {
  rapidjson::Document parameters;
  if (!ParseParameters(command, &parameters)) return kKorBadParameters;
  int removed = 0;
  int rc = KorRemoveBooksFromDevice(*command.device, command.afc, command.staging_mutex, parameters, &removed);
  if (rc != kKorOk) return rc;
  return SendChangeInfo(command, KorCountInfo(removed));
}

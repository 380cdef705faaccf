#include "utility/module/bookmark/kor_module_bookmark.h"

#include "iOSAPI/kor_sync_push_text.h"
#include "iOSAPI/kor_sync_records.h"
#include "platform/kst_log.h"
#include "platform/vel_json_util.h"
#include "utility/kor_listing.h"
#include "utility/kor_sync_command.h"
#include "utility/module/bookmark/kor_bookmark_tree.h"

namespace {

constexpr int32_t kStageCount = 1;
constexpr int32_t kStageNodes = 2;
constexpr int kStateWrite = 2;  // a deletion's reply (state 3) is ignored

// Keeps the identifier remapping of a write; every other reply is ignored.
class BookmarkReplies : public KorSyncReplyHandler {
 public:
  void OnReply(int state, const KorValue& reply, bool* /*again*/, int32_t* /*result*/) override {
    if (state == kStateWrite) KorSyncCollectRemap(reply, &remap_);
  }
  const KorSyncRemap& Remap() const { return remap_; }

 private:
  KorSyncRemap remap_;
};

}  // namespace

int KorModuleBookmark::OnCommand(kst::IPCPacket* packet) {
  return RunDeviceCommand(packet, [this, packet](const KorCommandPayload& payload, const DeviceCommand& command) -> int {
    switch (packet->command) {
      case kKorCommandBookmarkList:
        return ListBookmarks(packet, command);
      case kKorCommandBookmarkWrite:
        return WriteBookmarks(packet, command, payload);
      case kKorCommandBookmarkDelete:
        return DeleteBookmark(command, payload);
      default:
        return kKorOk;
    }
  });
}

int KorModuleBookmark::ListBookmarks(kst::IPCPacket* packet, const DeviceCommand& command) {
  KorSyncBatchCollector records;
  std::shared_ptr<KorDeviceService> service;  // closed after the final reply
  if (int rc = KorRunDeviceSync(command.device, kKorSyncBookmarks, kKorSyncBookmarksReadAll, &records, nullptr,
                                &service)) {
    return rc;
  }
  if (IsStopped(packet)) return kKorStopped;
  const rapidjson::Document tree = KorBookmarkTree(records.Records());
  KorListing listing(packet, command.uuid);
  listing.SetInfo(KorCountInfo(KorSyncListingCount(command.device, records.Records().size(), "Bookmarks")));
  if (int rc = listing.SendStage(kStageCount)) return rc;
  for (const rapidjson::Value& node : tree.GetArray()) {
    if (int rc = listing.SendValue(kStageNodes, node)) return rc;
  }
  return ReplyBeforeClosing(packet, command.uuid, kKorOk);
}

int KorModuleBookmark::WriteBookmarks(kst::IPCPacket* packet, const DeviceCommand& command,
                                      const KorCommandPayload& payload) {
  std::string text;
  std::vector<std::string> elements;
  if (!KorInflateAttachment(payload, &text) || !KorSyncPushElements(text, kKorSyncBookmarks.name, &elements)) {
    return kKorBadParameters;
  }
  BookmarkReplies replies;
  if (int rc = KorRunDeviceSync(command.device, kKorSyncBookmarks, kKorSyncBookmarksWrite, &replies,
                                KorSyncPushOnce(std::move(elements)))) {
    return rc;
  }
  KorListing listing(packet, command.uuid);
  return listing.SendAttachment(kStageNodes, KorSyncRemapJson({{kKorSyncBookmarks.name, &replies.Remap()}}));
}

int KorModuleBookmark::DeleteBookmark(const DeviceCommand& command, const KorCommandPayload& payload) {
  rapidjson::Document parameters;
  std::string id;
  if (!ParseCommandParameters(payload, &parameters) || !VelJsonUtil::GetString(parameters, "id", &id)) {
    return kKorBadParameters;
  }
  BookmarkReplies ignored;
  return KorRunDeviceSync(command.device, kKorSyncBookmarksV106, kKorSyncBookmarksDelete, &ignored,
                          KorSyncPushOnce(KorSyncDeletionElements(id)));
}

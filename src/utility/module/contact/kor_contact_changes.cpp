#include "utility/module/contact/kor_contact_changes.h"

#include "iOSAPI/kor_plist_xml.h"
#include "iOSAPI/kor_sync_records.h"

void KorContactChangeHandler::OnReply(int state, const KorValue& reply, bool* /*again*/, int32_t* /*result*/) {
  const int index = state - kKorContactStateFirstKind;
  if (index >= 0 && index < static_cast<int>(remaps_.size())) {
    KorSyncCollectRemap(reply, &remaps_[static_cast<size_t>(index)]);
    if (index == 0) contact_unmapped_ = remaps_[0].empty();
    return;
  }
  if (state != kKorContactStateGroup || group_key_.empty() || !reply.IsArray()) return;
  for (const KorValue& element : reply.AsArray()) {
    if (!element.IsDictionary() || !element.AsDictionary()) continue;
    const KorValue id = element.AsDictionary()->Get(group_key_);
    if (id.IsString()) group_id_ = id.AsString();
  }
}

std::vector<std::string> KorContactGroupElements(const std::string& key, const std::string& name,
                                                 const std::vector<std::string>* members) {
  std::vector<std::pair<std::string, std::string>> fields = {
      {"com.apple.syncservices.RecordEntityName", KorPlistString("com.apple.contacts.Group")},
      {"name", KorPlistString(name)}};
  if (members) {
    std::vector<std::string> ids;
    for (const std::string& member : *members) ids.push_back(KorPlistString(member));
    fields.push_back({"members", KorPlistArray(ids)});
  }
  const std::string actions = KorPlistDict(
      {{"SyncDeviceLinkEntityNamesKey",
        KorPlistArray({KorPlistString("com.apple.contacts.Contact"), KorPlistString("com.apple.contacts.Group")})},
       {"SyncDeviceLinkAllRecordsOfPulledEntityTypeSentKey", KorPlistBool(true)}});
  return {KorPlistDict({{key, KorPlistDict(fields)}}), KorPlistBool(true), actions};
}

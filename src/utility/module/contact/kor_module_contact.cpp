#include "utility/module/contact/kor_module_contact.h"

#include <optional>
#include <vector>

#include "iOSAPI/kor_plist_xml.h"
#include "iOSAPI/kor_sync_data_class.h"
#include "iOSAPI/kor_sync_push_text.h"
#include "platform/kst_log.h"
#include "platform/vel_json_util.h"
#include "utility/kor_listing.h"
#include "utility/kor_sync_command.h"
#include "utility/module/contact/kor_contact_changes.h"
#include "utility/module/contact/kor_contact_collection.h"
#include "utility/module/itunes/kor_backup_extract_notice.h"
#include "utility/module/itunes/kor_backup_wanted.h"

namespace {

constexpr int32_t kStageCount = 1;
constexpr int32_t kStageRecords = 2;
constexpr const char* kGroupKeyPrefix = "Group/";
// The data-sync settings' name of the class (the data-class check).
constexpr const char* kSettingsKey = "Contacts";

// A non-empty string member of the parameters.
std::optional<std::string> Text(const rapidjson::Value& parameters, const char* key) {
  std::string value;
  if (!VelJsonUtil::GetString(parameters, key, &value) || value.empty()) return std::nullopt;
  return value;
}

// The front-end's process-changes text of each record kind it writes (index as in
// kKorContactWriteKinds); false when one is not a usable text.
bool WriteTexts(const rapidjson::Value& parameters, std::vector<std::optional<std::string>>* texts) {
  texts->assign(kKorContactWriteKinds.size(), std::nullopt);
  for (size_t i = 0; i < kKorContactWriteKinds.size(); ++i) {
    auto member = parameters.FindMember(kKorContactWriteKinds[i]);
    if (member == parameters.MemberEnd()) continue;
    std::vector<std::string> elements;
    if (!member->value.IsString() ||
        !KorSyncPushElements(member->value.GetString(), kKorSyncContacts.name, &elements)) {
      KLOG(WARNING) << "contact write: the text of " << kKorContactWriteKinds[i] << " is no process-changes message";
      return false;
    }
    (*texts)[i] = std::string(member->value.GetString(), member->value.GetStringLength());
  }
  return true;
}

}  // namespace

int KorModuleContact::OnCommand(kst::IPCPacket* packet) {
  return RunDeviceCommand(packet, [this, packet](const KorCommandPayload& payload, const DeviceCommand& command) -> int {
    const std::string& uuid = command.uuid;
    if (packet->command == kKorCommandContactsNone) return kKorOk;
    if (packet->command == kKorCommandListContacts) return List(packet, uuid, command.device);
    rapidjson::Document parameters;
    if (!ParseCommandParameters(payload, &parameters) || !parameters.IsObject()) return kKorBadParameters;
    switch (packet->command) {
      case kKorCommandWriteContact:
        return Write(packet, uuid, command.device, parameters);
      case kKorCommandDeleteContact:
      case kKorCommandDeleteGroup:
        return Delete(command.device, parameters);
      case kKorCommandAddGroup:
        return AddGroup(packet, uuid, command.device, parameters);
      case kKorCommandChangeGroup:
        return ChangeGroup(command.device, parameters);
      default:
        return kKorOk;
    }
  });
}


// Contacts (count, then chunks) in packets numbered 101, then groups in packets numbered 100.
int KorModuleContact::List(kst::IPCPacket* packet, const std::string& uuid, const std::shared_ptr<KorDevice>& device) {
  KorContactCollection collection(kKorContactBatchSize);
  std::shared_ptr<KorDeviceService> service;  // closed after the final reply
  if (int rc = KorRunDeviceSync(device, kKorSyncContacts, kKorSyncContactsListAll, &collection, nullptr, &service)) {
    return rc;
  }
  const rapidjson::Document& contacts = collection.Contacts();
  const rapidjson::Document& groups = collection.Groups();
  KorListing listing(packet, uuid);
  listing.SetGroup(kKorCommandContactsNone);
  listing.SetInfo(KorCountInfo(contacts.MemberCount()));
  if (int rc = listing.SendStage(kStageCount)) return rc;
  if (int rc = collection.SendContacts(&listing, kStageRecords)) return rc;
  listing.SetGroup(kKorCommandListContacts);
  listing.SetInfo(KorCountInfo(KorSyncListingCount(device, groups.MemberCount(), kSettingsKey)));
  if (int rc = listing.SendStage(kStageCount)) return rc;
  return ReplyBeforeClosing(packet, uuid, KorSendMemberChunks(&listing, kStageRecords, groups, kKorContactBatchSize));
}

// The contact's text goes out as the front-end wrote it; each dependent kind's text names the
// contact by the host identifier, which is replaced by the one the device gave the contact.
int KorModuleContact::Write(kst::IPCPacket* packet, const std::string& uuid, const std::shared_ptr<KorDevice>& device,
                            const rapidjson::Value& parameters) {
  std::vector<std::optional<std::string>> texts;
  if (!WriteTexts(parameters, &texts)) return SendResult(packet, uuid, kKorBadParameters);
  KorContactChangeHandler handler;
  KorSyncPushSource pushes = [&texts, &handler](int state, std::vector<std::string>* elements) {
    const int index = state - kKorContactStateFirstKind;
    if (index < 0 || index >= static_cast<int>(texts.size()) || !texts[static_cast<size_t>(index)]) return false;
    std::string text = *texts[static_cast<size_t>(index)];
    if (index > 0) {
      if (handler.Remap(0).empty()) return false;
      const auto& contact = *handler.Remap(0).begin();
      text = KorReplaceAll(std::move(text), KorXmlEscape(contact.first), KorXmlEscape(contact.second));
    }
    return KorSyncPushElements(text, kKorSyncContacts.name, elements);
  };
  int result = KorRunDeviceSync(device, kKorSyncContacts, kKorSyncContactsWrite, &handler, pushes);
  if (result == kKorOk && handler.Remap(0).empty()) result = kKorContactNoDeviceId;
  if (result != kKorOk) return SendResult(packet, uuid, result);
  std::vector<std::pair<std::string, const KorSyncRemap*>> tables;
  for (size_t i = 0; i < kKorContactWriteKinds.size(); ++i) tables.push_back({kKorContactWriteKinds[i], &handler.Remap(i)});
  return SendResult(packet, uuid, kKorOk, KorSyncRemapJson(tables));
}

int KorModuleContact::Delete(const std::shared_ptr<KorDevice>& device, const rapidjson::Value& parameters) {
  std::optional<std::string> id = Text(parameters, "id");
  if (!id) return kKorBadParameters;
  KorContactChangeHandler handler;
  return KorRunDeviceSync(device, kKorSyncContacts, kKorSyncContactsDelete, &handler,
                          KorSyncPushOnce(KorSyncDeletionElements(*id)));
}

int KorModuleContact::AddGroup(kst::IPCPacket* packet, const std::string& uuid,
                               const std::shared_ptr<KorDevice>& device, const rapidjson::Value& parameters) {
  std::optional<std::string> id = Text(parameters, "id");
  std::string name;
  if (!id || !VelJsonUtil::GetString(parameters, "name", &name)) return kKorBadParameters;
  const std::string key = kGroupKeyPrefix + *id;
  KorContactChangeHandler handler(key);
  const std::vector<std::string> elements = KorContactGroupElements(key, name, nullptr);
  KorSyncPushSource pushes = [&elements](int state, std::vector<std::string>* out) {
    if (state != kKorContactStateGroup) return false;
    *out = elements;
    return true;
  };
  if (int rc = KorRunDeviceSync(device, kKorSyncContacts, kKorSyncContactsAddGroup, &handler, pushes)) return rc;
  if (handler.GroupId().empty()) return kKorContactNoDeviceId;
  rapidjson::Document group(rapidjson::kObjectType);
  auto& allocator = group.GetAllocator();
  rapidjson::Value fields(rapidjson::kObjectType);
  VelJsonUtil::AddJsonDictStringValue(fields, allocator, "com.apple.syncservices.RecordEntityName", "com.apple.contacts.Group");
  VelJsonUtil::AddJsonDictStringValue(fields, allocator, "name", name);
  fields.AddMember("members", rapidjson::Value(rapidjson::kArrayType), allocator);
  group.AddMember(rapidjson::Value(handler.GroupId().c_str(), allocator), fields, allocator);
  KorListing listing(packet, uuid);
  listing.SetGroup(kKorCommandAddGroup);
  listing.SetInfo(KorCountInfo(1));
  return listing.SendValue(kStageCount, group);
}

int KorModuleContact::ChangeGroup(const std::shared_ptr<KorDevice>& device, const rapidjson::Value& parameters) {
  std::optional<std::string> guid = Text(parameters, "guid");
  std::string name;
  const rapidjson::Value* listed = VelJsonUtil::GetArray(parameters, "members");
  if (!guid || !VelJsonUtil::GetString(parameters, "name", &name) || !listed) return kKorBadParameters;
  std::vector<std::string> members;
  for (const rapidjson::Value& member : listed->GetArray()) {
    if (member.IsString()) members.emplace_back(member.GetString(), member.GetStringLength());
  }
  const std::string key = kGroupKeyPrefix + *guid;
  KorContactChangeHandler handler(key);
  return KorRunDeviceSync(device, kKorSyncContacts, kKorSyncContactsChangeGroup, &handler,
                          KorSyncPushOnce(KorContactGroupElements(key, name, &members)));
}

void KorModuleContact::Update(void* record, const char* event_name) {
  if (const KorBackupExtractEvent* event = KorExtractEventFor(record, event_name, kKorAddressBookDbName)) {
    KorForwardExtractedPath(*event, "contact_db_path");
  }
}

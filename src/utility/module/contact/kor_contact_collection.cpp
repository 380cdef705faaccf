#include "utility/module/contact/kor_contact_collection.h"

#include "iOSAPI/kor_sync_records.h"
#include "iOSAPI/kor_sync_sequence.h"
#include "iOSAPI/kor_sync_time.h"

namespace {

constexpr const char* kEntityKey = "com.apple.syncservices.RecordEntityName";
constexpr const char* kContactKind = "com.apple.contacts.Contact";
constexpr const char* kGroupKind = "com.apple.contacts.Group";

rapidjson::Value Text(const std::string& text, rapidjson::Document::AllocatorType& allocator) {
  return rapidjson::Value(text.c_str(), static_cast<rapidjson::SizeType>(text.size()), allocator);
}

// Adds every string field (times converted) and, when asked, integer fields as decimal text.
void CopyFields(const CIOSDictionary& record, bool integers, rapidjson::Value* out,
                rapidjson::Document::AllocatorType& allocator) {
  record.ForEach([&](const std::string& key, const KorValue& value) {
    if (out->HasMember(key.c_str())) return;
    if (value.IsString()) {
      out->AddMember(Text(key, allocator), Text(KorLocalTimeText(value.AsString()), allocator), allocator);
    } else if (integers && value.IsInteger()) {
      out->AddMember(Text(key, allocator), Text(std::to_string(value.AsInteger()), allocator), allocator);
    }
  });
}

}  // namespace

KorContactCollection::KorContactCollection(size_t chunk_members)
    : ahead_(chunk_members ? std::make_unique<KorMemberChunksAhead>(chunk_members) : nullptr) {
  contacts_.SetObject();
  groups_.SetObject();
}

int KorContactCollection::SendContacts(KorListing* listing, int32_t stage) {
  if (!ahead_) return 0;
  return ahead_->Send(listing, stage, contacts_);
}

void KorContactCollection::OnReply(int state, const KorValue& reply, bool* /*again*/, int32_t* result) {
  if (state != kKorSyncStateCollect && state != kKorSyncStateMoreBatches) return;
  if (!KorDLHoldsName(reply, "SDMessageProcessChanges")) return;
  KorSyncVisitRecords(reply, kKorSyncMaxRecords,
                      [this](const std::string& id, const KorValue& fields) { AddRecord(id, fields); });
  if (ahead_) ahead_->Advance(contacts_);
  if (state == kKorSyncStateMoreBatches) *result = 1;
}

void KorContactCollection::AddRecord(const std::string& id, const KorValue& record) {
  if (!record.IsDictionary() || !record.AsDictionary()) return;
  const CIOSDictionary& fields = *record.AsDictionary();
  const KorValue kind = fields.Get(kEntityKey);
  if (!kind.IsString()) return;
  if (kind.AsString() == kContactKind) {
    AddContact(id, fields);
  } else if (kind.AsString() == kGroupKind) {
    AddGroup(id, fields);
  } else {
    AddDependent(kind.AsString(), id, fields);
  }
}

void KorContactCollection::AddContact(const std::string& id, const CIOSDictionary& record) {
  if (!contact_index_.emplace(id, contacts_.MemberCount()).second) return;
  if (ahead_) ahead_->Touch(contacts_.MemberCount());
  auto& allocator = contacts_.GetAllocator();
  rapidjson::Value contact(rapidjson::kObjectType);
  CopyFields(record, false, &contact, allocator);
  contacts_.AddMember(Text(id, allocator), contact, allocator);
}

void KorContactCollection::AddGroup(const std::string& id, const CIOSDictionary& record) {
  if (!group_index_.emplace(id, groups_.MemberCount()).second) return;
  auto& allocator = groups_.GetAllocator();
  rapidjson::Value group(rapidjson::kObjectType);
  CopyFields(record, false, &group, allocator);
  rapidjson::Value members(rapidjson::kArrayType);
  const KorValue listed = record.Get("members");
  if (listed.IsArray()) {
    for (const KorValue& member : listed.AsArray()) {
      if (member.IsString()) members.PushBack(Text(member.AsString(), allocator), allocator);
    }
  }
  group.AddMember("members", members, allocator);
  groups_.AddMember(Text(id, allocator), group, allocator);
}

void KorContactCollection::AddDependent(const std::string& kind, const std::string& id, const CIOSDictionary& record) {
  const KorValue owners = record.Get("contact");
  if (!owners.IsArray()) return;
  auto& allocator = contacts_.GetAllocator();
  for (const KorValue& owner : owners.AsArray()) {
    if (!owner.IsString()) continue;
    auto position = contact_index_.find(owner.AsString());
    if (position == contact_index_.end()) continue;
    auto contact = contacts_.MemberBegin() + position->second;
    if (ahead_) ahead_->Touch(position->second);
    rapidjson::Value entry(rapidjson::kObjectType);
    entry.AddMember("id", Text(id, allocator), allocator);
    CopyFields(record, true, &entry, allocator);
    auto list = contact->value.FindMember(kind.c_str());
    if (list == contact->value.MemberEnd()) {
      contact->value.AddMember(Text(kind, allocator), rapidjson::Value(rapidjson::kArrayType), allocator);
      list = contact->value.FindMember(kind.c_str());
    }
    if (list->value.IsArray()) list->value.PushBack(entry, allocator);
  }
}

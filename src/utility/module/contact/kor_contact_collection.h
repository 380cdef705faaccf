// The contact module's reading of device record batches: contacts keyed by record identifier
// with their string fields (UTC times shown in local time), dependent records (phone numbers,
// addresses, …) attached to every contact they name, and groups with their member lists.
#pragma once

#include <rapidjson/document.h>

#include <memory>
#include <string>
#include <unordered_map>

#include "iOSAPI/kor_sync_session.h"
#include "iOSAPI/kor_sync_time.h"
#include "utility/kor_member_chunks_ahead.h"

class KorListing;

class KorContactCollection : public KorSyncReplyHandler {
 public:
  // With `chunk_members`, the contacts are written and compressed ahead in messages of that
  // many contacts while the batches come (SendContacts sends them).
  explicit KorContactCollection(size_t chunk_members = 0);

  // States 0 and 1 take the records of a batch; in state 1 a batch also sets the result so that
  // the acknowledgement loop goes on. Other states leave the collection alone.
  void OnReply(int state, const KorValue& reply, bool* again, int32_t* result) override;
  // Adds one device record by its record kind.
  void AddRecord(const std::string& id, const KorValue& record);

  const rapidjson::Document& Contacts() const { return contacts_; }
  // Sends the contacts as KorSendMemberChunks does, in messages of `chunk_members` contacts
  // (nothing without chunk_members).
  int SendContacts(KorListing* listing, int32_t stage);
  const rapidjson::Document& Groups() const { return groups_; }

 private:
  void AddContact(const std::string& id, const CIOSDictionary& record);
  void AddGroup(const std::string& id, const CIOSDictionary& record);
  void AddDependent(const std::string& kind, const std::string& id, const CIOSDictionary& record);

  rapidjson::Document contacts_;
  rapidjson::Document groups_;
  std::unique_ptr<KorMemberChunksAhead> ahead_;  // null without chunk_members
  // Member positions by identifier: a JSON object finds members by walking them, which makes a
  // listing of thousands of contacts quadratic.
  std::unordered_map<std::string, rapidjson::SizeType> contact_index_;
  std::unordered_map<std::string, rapidjson::SizeType> group_index_;
};

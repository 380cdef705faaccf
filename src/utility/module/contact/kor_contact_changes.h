// What the contact module pushes besides the front-end's own texts, and what it takes out of the
// device's answers to its pushes: the identifier remapping of each record kind a write sends
// (handler states 2 to 9), nothing (10), and a group's identifier (11).
#pragma once

#include <array>
#include <map>
#include <string>
#include <vector>

#include "iOSAPI/kor_sync_session.h"

// The record kinds of a contact write, in push order; the kind at index i is pushed in handler
// state i + 2. The contact itself comes first.
inline constexpr std::array<const char*, 8> kKorContactWriteKinds = {
    "com.apple.contacts.Contact",  "com.apple.contacts.Phone Number", "com.apple.contacts.Email Address",
    "com.apple.contacts.Street Address", "com.apple.contacts.URL",     "com.apple.contacts.Related Name",
    "com.apple.contacts.IM",       "com.apple.contacts.Date"};
constexpr int kKorContactStateFirstKind = 2;
constexpr int kKorContactStateIgnore = 10;
constexpr int kKorContactStateGroup = 11;

class KorContactChangeHandler : public KorSyncReplyHandler {
 public:
  // `group_key` is what state 11 looks up ("Group/" + the host's or the device's identifier).
  explicit KorContactChangeHandler(std::string group_key = std::string()) : group_key_(std::move(group_key)) {}

  void OnReply(int state, const KorValue& reply, bool* again, int32_t* result) override;
  // True once the device answered the contact's push without an identifier for it: the dependent
  // records would name nothing, so the session ends there without its finish.
  bool EndsSession() const override { return contact_unmapped_; }
  // The host-to-device identifiers of the kind at `index` of kKorContactWriteKinds.
  const std::map<std::string, std::string>& Remap(size_t index) const { return remaps_.at(index); }
  const std::string& GroupId() const { return group_id_; }

 private:
  std::array<std::map<std::string, std::string>, kKorContactWriteKinds.size()> remaps_;
  std::string group_key_;
  std::string group_id_;
  bool contact_unmapped_ = false;
};

// The elements (after the data class) of the push that adds or changes the group `key` ("Group/"
// + identifier): its record with the name and, when given, the members, then the flags. Every
// text is escaped.
std::vector<std::string> KorContactGroupElements(const std::string& key, const std::string& name,
                                                 const std::vector<std::string>* members);

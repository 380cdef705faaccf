// Contacts over the synchronisation service: listing contacts and groups (100), writing a contact
// with its dependent records (102), deleting a record (103, 105), adding (104) and changing (106)
// a group; and telling the front-end where a backup extraction put the address-book database.
#pragma once

#include <rapidjson/document.h>

#include <memory>

#include "utility/kor_module.h"
#include "utility/kst_subject.h"

class KorDevice;

constexpr uint32_t kKorCommandListContacts = 100;
constexpr uint32_t kKorCommandContactsNone = 101;
constexpr uint32_t kKorCommandWriteContact = 102;
constexpr uint32_t kKorCommandDeleteContact = 103;
constexpr uint32_t kKorCommandAddGroup = 104;
constexpr uint32_t kKorCommandDeleteGroup = 105;
constexpr uint32_t kKorCommandChangeGroup = 106;
// The device gave the new contact (or group) no identifier.
constexpr int32_t kKorContactNoDeviceId = 28;
// Contacts and groups per listing message.
constexpr size_t kKorContactBatchSize = 100;

class KorModuleContact : public KorModule, public KSTObserver {
 public:
  int OnCommand(kst::IPCPacket* packet) override;
  void Update(void* record, const char* event_name) override;

 private:
  int List(kst::IPCPacket* packet, const std::string& uuid, const std::shared_ptr<KorDevice>& device);
  int Write(kst::IPCPacket* packet, const std::string& uuid, const std::shared_ptr<KorDevice>& device,
            const rapidjson::Value& parameters);
  int Delete(const std::shared_ptr<KorDevice>& device, const rapidjson::Value& parameters);
  int AddGroup(kst::IPCPacket* packet, const std::string& uuid, const std::shared_ptr<KorDevice>& device,
               const rapidjson::Value& parameters);
  int ChangeGroup(const std::shared_ptr<KorDevice>& device, const rapidjson::Value& parameters);
};

// Messages: lists the conversations and messages of a local copy of the messages database (201),
// and tells the front-end where that copy is when a backup extraction writes it.
#pragma once

#include "utility/kor_module.h"
#include "utility/kst_subject.h"
#include "utility/module/sms/kor_sms_reader.h"

constexpr uint32_t kKorCommandReadMessages = 201;
// The messages database's name inside a backup: SHA-1 of "HomeDomain-Library/SMS/sms.db".
constexpr const char* kKorSmsBackupName = "3d0d7e5fb2ce288813306e4d4636395e047a3d28";
constexpr size_t kKorSmsBatchSize = 50;

struct KorBackupExtractEvent;

// The extraction event's record when the event is "KOR_ITUNES_BACKUP_EXTRACT_FILE" and names the
// messages database exactly; null for every other event or file.
const KorBackupExtractEvent* KorSmsDatabaseEvent(void* record, const char* event_name);

class KorModuleSms : public KorModule, public KSTObserver {
 public:
  int OnCommand(kst::IPCPacket* packet) override;
  void Update(void* record, const char* event_name) override;

 private:
  int ReadMessages(kst::IPCPacket* packet, const rapidjson::Document& json);
  // Stage 1 with the count, then per conversation stage 2 and its messages at stage 3.
  int StreamConversations(const kst::IPCPacket* packet, const std::string& uuid,
                          const KorSmsConversationList& conversations);
};

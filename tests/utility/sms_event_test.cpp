// Which backup-extraction events the messages module answers: its own database, named exactly.
#include <gtest/gtest.h>

#include "utility/module/itunes/kor_backup_extract_event.h"
#include "utility/module/sms/kor_module_sms.h"

namespace {

TEST(SmsExtractEventTest, OnlyTheMessagesDatabaseUnderItsExactNameAndEvent) {
  kst::IPCPacket packet{};
  KorBackupExtractEvent event;
  event.packet = &packet;
  event.name = "3d0d7e5fb2ce288813306e4d4636395e047a3d28";
  event.local_path = "/tmp/x/3d/3d0d7e5fb2ce288813306e4d4636395e047a3d28";
  EXPECT_EQ(KorSmsDatabaseEvent(&event, "KOR_ITUNES_BACKUP_EXTRACT_FILE"), &event);

  EXPECT_EQ(KorSmsDatabaseEvent(&event, "kor_itunes_backup_extract_file"), nullptr);
  EXPECT_EQ(KorSmsDatabaseEvent(&event, "KOR_ITUNES_BACKUP_EXTRACT_FILES"), nullptr);
  EXPECT_EQ(KorSmsDatabaseEvent(&event, nullptr), nullptr);
  EXPECT_EQ(KorSmsDatabaseEvent(nullptr, "KOR_ITUNES_BACKUP_EXTRACT_FILE"), nullptr);
  event.name = "3D0D7E5FB2CE288813306E4D4636395E047A3D28";  // differs only in case
  EXPECT_EQ(KorSmsDatabaseEvent(&event, "KOR_ITUNES_BACKUP_EXTRACT_FILE"), nullptr);
  event.name = "31bb7ba8914766d4ba40d6dfb6113c8b614be442";  // the address book
  EXPECT_EQ(KorSmsDatabaseEvent(&event, "KOR_ITUNES_BACKUP_EXTRACT_FILE"), nullptr);
}

}  // namespace

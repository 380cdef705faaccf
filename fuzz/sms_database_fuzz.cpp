// A messages database copy comes out of a device backup: the whole read, from the file's bytes to
// the listing's JSON, must hold against any file.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

#include "utility/module/sms/kor_sms_json.h"
#include "utility/module/sms/kor_sms_reader.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::string path = "/tmp/sms_database_fuzz_" + std::to_string(getpid()) + ".db";
  for (const char* suffix : {"-wal", "-shm", "-journal"}) std::remove((path + suffix).c_str());
  FILE* file = std::fopen(path.c_str(), "wb");
  if (!file) return 0;
  std::fwrite(data, 1, size, file);
  std::fclose(file);
  KorSmsConversationList conversations;
  KorSmsReadDatabase(path, &conversations);
  for (const auto& conversation : conversations) {
    KorSmsConversationJson(*conversation);
    for (const auto& message : conversation->messages) KorSmsMessageJson(*message);
  }
  return 0;
}

// A process-changes text as the front-end writes it (calendar and bookmark writes push it): the
// elements taken out of it must make a message that converts, whatever the text holds.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "iOSAPI/kor_plist_xml.h"
#include "iOSAPI/kor_service_message.h"
#include "iOSAPI/kor_sync_push_text.h"
#include "iOSAPI/mobile_export_fun.h"
#include "utility/kor_sync_command.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const bool framework = CMobileExportFun::GetInstance().Init();
  if (!framework) return 0;
  const std::string text(reinterpret_cast<const char*>(data), size);
  std::vector<std::string> elements;
  if (!KorSyncPushElements(KorReplaceAll(text, "host-1", "17"), "com.apple.Bookmarks", &elements)) return 0;
  if (elements.empty()) std::abort();
  elements.insert(elements.begin(), {KorPlistString("SDMessageProcessChanges"), KorPlistString("com.apple.Bookmarks")});
  KorXmlToMessage(KorPlistDocument(KorPlistArray(elements), KorPlistDoctype::kApple));
  return 0;
}

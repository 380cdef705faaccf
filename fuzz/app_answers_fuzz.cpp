// The application module's readings of device and package input: installation-service answers
// (with the records built from their application lists), icon answers, and the
// iTunesMetadata.plist of a package.
#include <cstddef>
#include <cstdint>
#include <string>

#include "iOSAPI/mobile_export_fun.h"
#include "utility/module/app/kor_app_record.h"
#include "utility/module/app/kor_installer_answer.h"
#include "utility/module/app/kor_ipa_metadata.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const bool framework = CMobileExportFun::GetInstance().Init();
  if (!framework || size > kKorMaxIpaMetadata) return 0;
  KorInstallerAnswer answer;
  if (KorParseInstallerAnswer(data, static_cast<uint32_t>(size), &answer)) {
    KorAppRecords records;
    for (const KorValue& app : answer.current_list) records.AddRecord(app);
    for (const KorValue& app : answer.current_list) records.AddSizes(app);
  }
  KorValue tree;
  std::string png;
  if (KorMessageToValue(data, static_cast<uint32_t>(size), &tree)) KorIconPngOfAnswer(tree, &png);
  KorIpaMetadata metadata;
  KorParseIpaMetadata(data, size, &metadata);
  rapidjson::Document record(rapidjson::kObjectType);
  KorApplyITunesMetadata(std::string(reinterpret_cast<const char*>(data), size), &record, record.GetAllocator());
  return 0;
}

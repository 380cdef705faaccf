// Property lists from a device into the value tree: XML text directly, and any property list
// through the device framework's CoreFoundation objects.
#include <cstddef>
#include <cstdint>
#include <string>

#include "iOSAPI/kor_cf_value.h"
#include "iOSAPI/kor_xml_value.h"
#include "iOSAPI/mobile_export_fun.h"

namespace {

bool FrameworkLoaded() {
  static const bool loaded = CMobileExportFun::GetInstance().Init();
  return loaded;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string text(reinterpret_cast<const char*>(data), size);
  KorValue from_xml;
  KorXmlTextToValue(text, &from_xml);
  if (!FrameworkLoaded()) return 0;
  const MobileExportTable& api = MobileApi();
  KorCFHolder bytes(api.CFDataCreate(nullptr, data, static_cast<CFIndex>(size)));
  KorCFHolder plist(api.CFPropertyListCreateWithData(nullptr, bytes.As<CFDataRef>(), 0, nullptr, nullptr));
  KorValue from_cf;
  if (plist) KorCFToValue(plist.Get(), &from_cf);
  return 0;
}

#include "framework_loader.h"

#include <vector>

namespace devicefw_test {
namespace {

template <typename Pointer>
void Resolve(const kst::KstLibrary& library, const char* name, Pointer* out, std::string* error) {
  *out = reinterpret_cast<Pointer>(library.Symbol(name));
  if (*out == nullptr && error->empty()) *error = std::string("missing symbol ") + name;
}

template <typename Ref>
void ResolveData(const kst::KstLibrary& library, const char* name, Ref* out, std::string* error) {
  const auto* address = static_cast<const Ref*>(library.Symbol(name));
  if (address == nullptr) {
    if (error->empty()) *error = std::string("missing symbol ") + name;
    return;
  }
  *out = *address;
}

Framework* LoadFramework() {
  auto* fw = new Framework;
  for (auto [library, name] : {std::pair{&fw->host_library, "AirTrafficHost"}, std::pair{&fw->cf_library, "CoreFoundation"},
                               std::pair{&fw->md_library, "MobileDevice"}}) {
    if (!library->Load(LibraryPath(name))) {
      fw->error = "cannot load " + LibraryPath(name) + ": " + library->LastError();
      return fw;
    }
  }
#define DEVICEFW_TEST_RESOLVE_CF(name) Resolve(fw->cf_library, #name, &fw->name, &fw->error);
#define DEVICEFW_TEST_RESOLVE_MD(name) Resolve(fw->md_library, #name, &fw->name, &fw->error);
  DEVICEFW_TEST_CF_FUNCTIONS(DEVICEFW_TEST_RESOLVE_CF)
  DEVICEFW_TEST_MD_FUNCTIONS(DEVICEFW_TEST_RESOLVE_MD)
#undef DEVICEFW_TEST_RESOLVE_CF
#undef DEVICEFW_TEST_RESOLVE_MD
  ResolveData(fw->cf_library, "kCFBooleanTrue", &fw->kCFBooleanTrue, &fw->error);
  ResolveData(fw->cf_library, "kCFBooleanFalse", &fw->kCFBooleanFalse, &fw->error);
  ResolveData(fw->cf_library, "kCFStreamPropertyDataWritten", &fw->kCFStreamPropertyDataWritten, &fw->error);
  return fw;
}

}  // namespace

std::string LibraryPath(const std::string& name) { return std::string(TANDREL_LIB_DIR) + "/lib" + name + ".so"; }

const Framework& Fw() {
  // Kept for the whole process, as the host keeps the framework loaded.
  static const Framework* framework = LoadFramework();
  return *framework;
}

CfRef MakeString(const char* utf8) {
  return CfRef(Fw().CFStringCreateWithCString(nullptr, utf8, kCFStringEncodingUTF8));
}

CfRef MakeNumber(CFNumberType type, const void* value) { return CfRef(Fw().CFNumberCreate(nullptr, type, value)); }

std::string TextOf(CFTypeRef string) {
  if (string == nullptr || Fw().CFGetTypeID(string) != kCFTypeIDString) return "";
  auto cf_string = static_cast<CFStringRef>(string);
  std::vector<char> buffer(static_cast<size_t>(Fw().CFStringGetLength(cf_string)) * 3 + 1);
  if (!Fw().CFStringGetCString(cf_string, buffer.data(), static_cast<CFIndex>(buffer.size()), kCFStringEncodingUTF8)) {
    return "";
  }
  return buffer.data();
}

}  // namespace devicefw_test

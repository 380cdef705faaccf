#include "iOSAPI/kor_cf.h"

void KorCFHolder::Reset(CFTypeRef object) {
  if (object_ && MobileApi().CFRelease) MobileApi().CFRelease(object_);
  object_ = object;
}

CFStringRef KorConstantString(const std::string& text) {
  return MobileApi().__CFStringMakeConstantString(text.c_str());
}

KorCFHolder KorMakeString(const std::string& text) {
  return KorCFHolder(MobileApi().CFStringCreateWithCString(nullptr, text.c_str(), kCFStringEncodingUTF8));
}

CFTypeID KorTypeOf(CFTypeRef object) { return object ? MobileApi().CFGetTypeID(object) : 0; }

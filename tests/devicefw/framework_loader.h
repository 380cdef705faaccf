// The device framework as the host sees it: the three libraries loaded by path and every entry
// point resolved by name into typed pointers. Tests call through `Fw()` only.
#pragma once

#include <string>

#include "devicefw/device_framework_abi.h"
#include "devicefw/devicefw_exports.h"
#include "platform/kst_dynlib.h"

namespace devicefw_test {

#define DEVICEFW_TEST_CF_FUNCTIONS(X)                                                                             \
  X(CFStringCreateWithCString) X(__CFStringMakeConstantString) X(CFDictionaryApplyFunction) X(CFRelease)           \
  X(CFRunLoopRun) X(CFDictionaryContainsKey) X(CFDictionaryGetValue) X(CFDictionaryContainsValue)                  \
  X(CFURLCreateWithFileSystemPath) X(CFDictionaryCreate) X(CFNumberGetValue) X(CFGetTypeID) X(CFNumberGetType)     \
  X(CFBooleanGetValue) X(CFArrayGetValueAtIndex) X(CFArrayRemoveValueAtIndex) X(CFArrayCreateMutable)              \
  X(CFDataCreate) X(CFPropertyListCreateWithData) X(CFPropertyListCreateXMLData) X(CFDataGetLength)                \
  X(CFDataGetBytePtr) X(CFArrayGetCount) X(CFStringGetLength) X(CFNumberGetByteSize) X(CFStringGetCString)         \
  X(CFWriteStreamCreateWithAllocatedBuffers) X(CFWriteStreamOpen) X(CFPropertyListCreateFromXMLData)               \
  X(CFPropertyListWriteToStream) X(CFWriteStreamCopyProperty) X(CFWriteStreamClose) X(CFDictionaryGetCount)        \
  X(CFDictionaryGetKeysAndValues) X(CFDictionaryCreateMutable) X(CFDictionaryAddValue) X(CFArrayAppendValue)       \
  X(CFAbsoluteTimeGetCurrent) X(CFDateCreate) X(CFStringCreateCopy) X(CFDataCreateCopy) X(CFDateGetAbsoluteTime)   \
  X(CFRetain) X(CFGetRetainCount) X(CFEqual) X(CFNumberCreate) X(KorRunLoopPost) X(KorRunLoopStop)

#define DEVICEFW_TEST_MD_FUNCTIONS(X)                                                                             \
  X(AMDeviceNotificationSubscribe) X(AMDeviceNotificationUnsubscribe) X(AFCCopyErrorString)                        \
  X(AMDeviceGetInterfaceType) X(AMDeviceConnect) X(AMDeviceDisconnect) X(AMDeviceStopSession) X(AMDeviceIsPaired)  \
  X(AMDeviceValidatePairing) X(AMDevicePair) X(AMDeviceStartSession) X(AMDeviceGetConnectionID)                    \
  X(AMRestoreModeDeviceCreate) X(AFCDirectoryOpen) X(AFCDirectoryRead) X(AFCDirectoryClose) X(AFCDirectoryCreate)  \
  X(AMDCopyErrorText) X(AMRestoreRegisterForDeviceNotifications) X(AMDeviceStartService) X(AFCConnectionOpen)      \
  X(AFCConnectionClose) X(AMDeviceCopyValue) X(AFCFileInfoOpen) X(AFCRemovePath) X(AFCRenamePath) X(AFCFileRefOpen) \
  X(AFCFileRefClose) X(AFCFileRefRead) X(AFCFileRefLock) X(AFCFileRefUnlock) X(AFCFileRefWrite) X(AFCFlushData)    \
  X(AFCFileRefTell) X(AFCFileRefSeek) X(AFCFileRefSetFileSize) X(AFCDeviceInfoOpen) X(AFCKeyValueRead)             \
  X(AFCKeyValueClose) X(AMDPostNotification) X(AMDShutdownNotificationProxy) X(AMDListenForNotifications)          \
  X(AMDObserveNotification) X(AMDeviceLookupApplications) X(AMDeviceSecureUninstallApplication)                    \
  X(AMDeviceSecureTransferPath) X(AMDServiceConnectionSend) X(AMDServiceConnectionReceive)                         \
  X(AMDeviceSecureStartService) X(AMDServiceConnectionGetSocket) X(AMDServiceConnectionInvalidate)                 \
  X(AMDServiceConnectionGetSecureIOContext) X(AFCConnectionSetSecureContext) X(AMDeviceSetValue)                   \
  X(KorAFCFileInfoOpenBatch)

struct Framework {
#define DEVICEFW_TEST_MEMBER(name) name##Fn name = nullptr;
  DEVICEFW_TEST_CF_FUNCTIONS(DEVICEFW_TEST_MEMBER)
  DEVICEFW_TEST_MD_FUNCTIONS(DEVICEFW_TEST_MEMBER)
#undef DEVICEFW_TEST_MEMBER
  CFBooleanRef kCFBooleanTrue = nullptr;
  CFBooleanRef kCFBooleanFalse = nullptr;
  CFStringRef kCFStreamPropertyDataWritten = nullptr;

  kst::KstLibrary host_library;
  kst::KstLibrary cf_library;
  kst::KstLibrary md_library;
  std::string error;  // the first symbol or library that failed, empty when all resolved
};

std::string LibraryPath(const std::string& name);  // "CoreFoundation" -> ".../lib/libCoreFoundation.so"
// Loaded once per process; check Fw().error before use.
const Framework& Fw();

// Owns one CF reference (what the host does by hand with CFRelease).
class CfRef {
 public:
  CfRef() = default;
  explicit CfRef(CFTypeRef ref) : ref_(ref) {}
  ~CfRef() { reset(); }
  CfRef(CfRef&& other) noexcept : ref_(other.ref_) { other.ref_ = nullptr; }
  CfRef& operator=(CfRef&& other) noexcept {
    if (this != &other) {
      reset();
      ref_ = other.ref_;
      other.ref_ = nullptr;
    }
    return *this;
  }
  CfRef(const CfRef&) = delete;
  CfRef& operator=(const CfRef&) = delete;
  void reset() {
    if (ref_ != nullptr) Fw().CFRelease(ref_);
    ref_ = nullptr;
  }
  template <typename T = CFTypeRef>
  T get() const {
    return (T)(ref_);  // NOLINT: CF references are untyped pointers
  }
  explicit operator bool() const { return ref_ != nullptr; }

 private:
  CFTypeRef ref_ = nullptr;
};

CfRef MakeString(const char* utf8);
CfRef MakeNumber(CFNumberType type, const void* value);
// The UTF-8 text of a CF string ("" when it is not one).
std::string TextOf(CFTypeRef string);

}  // namespace devicefw_test

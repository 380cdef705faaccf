// The host resolves 99 entry points by name, each from a given library; a missing or misplaced
// one makes the whole framework unusable for it.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "framework_loader.h"

namespace devicefw_test {
namespace {

enum class Lib { kCF, kMD };

struct Slot {
  const char* symbol;
  Lib library;
};

// The host's table, slot 0 to 98 (AFCFileInfoOpen is in it twice).
const std::vector<Slot>& HostTable() {
  static const std::vector<Slot> table = {
      {"AMDeviceNotificationSubscribe", Lib::kMD}, {"AMDeviceNotificationUnsubscribe", Lib::kMD},
      {"AMDeviceGetInterfaceType", Lib::kMD}, {"AMDeviceConnect", Lib::kMD}, {"AMDeviceDisconnect", Lib::kMD},
      {"AMDeviceIsPaired", Lib::kMD}, {"AMDeviceValidatePairing", Lib::kMD}, {"AMDeviceStartSession", Lib::kMD},
      {"AMDeviceStopSession", Lib::kMD}, {"AMDeviceGetConnectionID", Lib::kMD}, {"AMRestoreModeDeviceCreate", Lib::kMD},
      {"AFCDirectoryOpen", Lib::kMD}, {"AFCDirectoryRead", Lib::kMD}, {"AFCDirectoryClose", Lib::kMD},
      {"AFCDirectoryCreate", Lib::kMD}, {"CFStringGetLength", Lib::kCF}, {"CFNumberGetByteSize", Lib::kCF},
      {"AMRestoreRegisterForDeviceNotifications", Lib::kMD}, {"AMDeviceStartService", Lib::kMD},
      {"AFCConnectionOpen", Lib::kMD}, {"AFCConnectionClose", Lib::kMD}, {"AMDeviceCopyValue", Lib::kMD},
      {"AFCFileInfoOpen", Lib::kMD}, {"AFCRemovePath", Lib::kMD}, {"AFCRenamePath", Lib::kMD},
      {"AFCFileRefOpen", Lib::kMD}, {"AFCFileRefClose", Lib::kMD}, {"AFCFileRefLock", Lib::kMD},
      {"AFCFileRefUnlock", Lib::kMD}, {"AFCFileRefRead", Lib::kMD}, {"AFCFileRefWrite", Lib::kMD},
      {"AFCFlushData", Lib::kMD}, {"AFCFileRefTell", Lib::kMD}, {"AFCFileRefSeek", Lib::kMD},
      {"AFCFileRefSetFileSize", Lib::kMD}, {"AFCDeviceInfoOpen", Lib::kMD}, {"AFCKeyValueRead", Lib::kMD},
      {"AFCKeyValueClose", Lib::kMD}, {"AMDPostNotification", Lib::kMD}, {"AMDShutdownNotificationProxy", Lib::kMD},
      {"__CFStringMakeConstantString", Lib::kCF}, {"CFDictionaryAddValue", Lib::kCF}, {"CFArrayAppendValue", Lib::kCF},
      {"CFStringCreateWithCString", Lib::kCF}, {"CFDictionaryCreateMutable", Lib::kCF},
      {"CFStringGetCString", Lib::kCF}, {"CFDictionaryApplyFunction", Lib::kCF},
      {"AMDListenForNotifications", Lib::kMD}, {"AMDObserveNotification", Lib::kMD},
      {"AMDeviceLookupApplications", Lib::kMD}, {"CFRelease", Lib::kCF}, {"CFRunLoopRun", Lib::kCF},
      {"CFDictionaryContainsKey", Lib::kCF}, {"CFDictionaryContainsValue", Lib::kCF},
      {"CFDictionaryGetValue", Lib::kCF}, {"CFDictionaryCreate", Lib::kCF},
      {"AMDeviceSecureUninstallApplication", Lib::kMD}, {"CFURLCreateWithFileSystemPath", Lib::kCF},
      {"AMDeviceSecureTransferPath", Lib::kMD}, {"AFCCopyErrorString", Lib::kMD}, {"AMDCopyErrorText", Lib::kMD},
      {"CFNumberGetValue", Lib::kCF}, {"CFGetTypeID", Lib::kCF}, {"CFNumberGetType", Lib::kCF},
      {"CFBooleanGetValue", Lib::kCF}, {"AMDServiceConnectionSend", Lib::kMD},
      {"AMDServiceConnectionReceive", Lib::kMD}, {"AMDeviceSecureStartService", Lib::kMD},
      {"AMDServiceConnectionGetSocket", Lib::kMD}, {"CFDataCreate", Lib::kCF},
      {"CFPropertyListCreateWithData", Lib::kCF}, {"CFPropertyListCreateXMLData", Lib::kCF},
      {"CFDataGetLength", Lib::kCF}, {"CFDataGetBytePtr", Lib::kCF}, {"AMDServiceConnectionInvalidate", Lib::kMD},
      {"AMDServiceConnectionGetSecureIOContext", Lib::kMD}, {"AFCConnectionSetSecureContext", Lib::kMD},
      {"AMDeviceSetValue", Lib::kMD}, {"CFArrayGetCount", Lib::kCF}, {"CFArrayGetValueAtIndex", Lib::kCF},
      {"CFArrayRemoveValueAtIndex", Lib::kCF}, {"CFArrayCreateMutable", Lib::kCF},
      {"CFWriteStreamCreateWithAllocatedBuffers", Lib::kCF}, {"CFWriteStreamOpen", Lib::kCF},
      {"CFPropertyListCreateFromXMLData", Lib::kCF}, {"CFPropertyListWriteToStream", Lib::kCF},
      {"kCFStreamPropertyDataWritten", Lib::kCF}, {"CFWriteStreamCopyProperty", Lib::kCF},
      {"CFWriteStreamClose", Lib::kCF}, {"AMDevicePair", Lib::kMD}, {"AFCFileInfoOpen", Lib::kMD},
      {"CFDictionaryGetCount", Lib::kCF}, {"CFDictionaryGetKeysAndValues", Lib::kCF},
      {"kCFBooleanTrue", Lib::kCF}, {"CFAbsoluteTimeGetCurrent", Lib::kCF}, {"CFDateCreate", Lib::kCF},
      {"CFStringCreateCopy", Lib::kCF}, {"CFDataCreateCopy", Lib::kCF}, {"CFDateGetAbsoluteTime", Lib::kCF},
  };
  return table;
}

std::string DefiningFile(const void* address) {
  Dl_info info{};
  if (address == nullptr || dladdr(address, &info) == 0 || info.dli_fname == nullptr) return "";
  return info.dli_fname;
}

TEST(SymbolTable, AllNinetyNineSlotsResolveFromTheirOwnLibrary) {
  ASSERT_EQ(Fw().error, "");
  ASSERT_EQ(HostTable().size(), 99u);
  for (const Slot& slot : HostTable()) {
    const kst::KstLibrary& library = slot.library == Lib::kCF ? Fw().cf_library : Fw().md_library;
    void* address = library.Symbol(slot.symbol);
    ASSERT_NE(address, nullptr) << slot.symbol;
    const std::string expected = slot.library == Lib::kCF ? "libCoreFoundation.so" : "libMobileDevice.so";
    const std::string file = DefiningFile(address);
    EXPECT_TRUE(file.size() >= expected.size() && file.compare(file.size() - expected.size(), expected.size(), expected) == 0)
        << slot.symbol << " is defined in " << file;
  }
}

TEST(SymbolTable, CoreFoundationExportsNothingOfMobileDeviceAndHidesItsInternals) {
  ASSERT_EQ(Fw().error, "");
  for (const Slot& slot : HostTable()) {
    if (slot.library == Lib::kMD) {
      EXPECT_EQ(Fw().cf_library.Symbol(slot.symbol), nullptr) << slot.symbol;
    }
  }
  // C++ internals stay inside the libraries.
  EXPECT_EQ(Fw().cf_library.Symbol("_ZN8devicefw2cf8CfObject7ReleaseEv"), nullptr);
}

TEST(SymbolTable, DataSymbolsHoldUsableConstants) {
  ASSERT_EQ(Fw().error, "");
  EXPECT_EQ(Fw().CFGetTypeID(Fw().kCFBooleanTrue), kCFTypeIDBoolean);
  EXPECT_TRUE(Fw().CFBooleanGetValue(Fw().kCFBooleanTrue));
  EXPECT_FALSE(Fw().CFBooleanGetValue(Fw().kCFBooleanFalse));
  EXPECT_EQ(TextOf(Fw().kCFStreamPropertyDataWritten), "kCFStreamPropertyDataWritten");
  // Constants survive any number of releases.
  for (int i = 0; i < 3; ++i) Fw().CFRelease(Fw().kCFBooleanTrue);
  EXPECT_TRUE(Fw().CFBooleanGetValue(Fw().kCFBooleanTrue));
}

TEST(SymbolTable, HostLibraryLoadsAndAnswers) {
  ASSERT_EQ(Fw().error, "");
  auto version = reinterpret_cast<ATHostVersionFn>(Fw().host_library.Symbol("ATHostVersion"));
  ASSERT_NE(version, nullptr);
  EXPECT_NE(std::string(version()), "");
}

TEST(SymbolTable, UnusedEntryPointsAnswerUnsupported) {
  ASSERT_EQ(Fw().error, "");
  EXPECT_EQ(Fw().AMRestoreModeDeviceCreate(0, 0, 0), kAMDUnsupportedError);
  EXPECT_EQ(Fw().AMRestoreRegisterForDeviceNotifications(nullptr, nullptr, nullptr, nullptr, 0, nullptr),
            kAMDUnsupportedError);
  EXPECT_EQ(Fw().AMDPostNotification(nullptr, nullptr, nullptr), kAMDUnsupportedError);
  EXPECT_EQ(Fw().AMDObserveNotification(nullptr, nullptr), kAMDUnsupportedError);
  EXPECT_EQ(Fw().AMDListenForNotifications(nullptr, nullptr, nullptr), kAMDUnsupportedError);
  EXPECT_EQ(Fw().AMDShutdownNotificationProxy(nullptr), kAMDUnsupportedError);
  CFDictionaryRef apps = reinterpret_cast<CFDictionaryRef>(1);
  EXPECT_EQ(Fw().AMDeviceLookupApplications(nullptr, nullptr, &apps), kAMDUnsupportedError);
  EXPECT_EQ(apps, nullptr);
  EXPECT_EQ(Fw().AMDeviceSecureTransferPath(0, nullptr, nullptr, nullptr, nullptr, nullptr), kAMDUnsupportedError);
  EXPECT_EQ(Fw().AMDeviceSecureUninstallApplication(nullptr, nullptr, nullptr, nullptr, nullptr, nullptr),
            kAMDUnsupportedError);
  EXPECT_EQ(Fw().AFCConnectionSetSecureContext(nullptr, nullptr), kAFCUnsupportedError);
}

TEST(SymbolTable, ErrorTextsComeFromTheNameTables) {
  ASSERT_EQ(Fw().error, "");
  CfRef locked(Fw().AMDCopyErrorText(static_cast<mach_error_t>(0xE800001A)));
  EXPECT_EQ(TextOf(locked.get()), "kAMDPasswordProtectedError");
  CfRef last(Fw().AMDCopyErrorText(AMDError(156)));
  EXPECT_EQ(TextOf(last.get()), "kAMDMissingBundleVersionError");
  CfRef beyond(Fw().AMDCopyErrorText(AMDError(157)));
  EXPECT_EQ(TextOf(beyond.get()), "0xE800009D");
  CfRef not_found(Fw().AFCCopyErrorString(kAFCNotFoundError));
  EXPECT_EQ(TextOf(not_found.get()), "kAFCNotFoundError");
  CfRef internal(Fw().AFCCopyErrorString(kAFCInternalError));
  EXPECT_EQ(TextOf(internal.get()), "kAFCInternalError");
}

TEST(SymbolTable, NullArgumentsFailSafely) {
  ASSERT_EQ(Fw().error, "");
  EXPECT_EQ(Fw().AMDeviceGetInterfaceType(nullptr), kAMDInterfaceUnknown);
  EXPECT_NE(Fw().AMDeviceConnect(nullptr), kAMDSuccess);
  EXPECT_EQ(Fw().AMDeviceIsPaired(nullptr), 0);
  EXPECT_EQ(Fw().AMDeviceCopyValue(nullptr, nullptr, nullptr), nullptr);
  EXPECT_NE(Fw().AMDeviceSecureStartService(nullptr, nullptr, nullptr, nullptr), kAMDSuccess);
  EXPECT_LT(Fw().AMDServiceConnectionSend(nullptr, "x", 1), 0);
  EXPECT_LT(Fw().AMDServiceConnectionReceive(nullptr, nullptr, 4), 1);
  EXPECT_NE(Fw().AFCConnectionOpen(-1, 0, nullptr), kAFCSuccess);
  EXPECT_NE(Fw().AFCFileRefOpen(nullptr, "/x", 1, nullptr), kAFCSuccess);
  EXPECT_NE(Fw().AFCDirectoryCreate(nullptr, "/x"), kAFCSuccess);
  EXPECT_NE(Fw().AFCKeyValueRead(nullptr, nullptr, nullptr), kAFCSuccess);
  // A pointer the framework never made is refused rather than followed.
  int stray = 0;
  EXPECT_NE(Fw().AMDeviceConnect(reinterpret_cast<AMDeviceRef>(&stray)), kAMDSuccess);
  EXPECT_EQ(Fw().CFGetTypeID(nullptr), 0u);
  Fw().CFRelease(nullptr);
}

}  // namespace
}  // namespace devicefw_test

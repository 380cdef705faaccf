// Declarations of every function the device framework libraries export, each with exactly the
// type of its entry-point typedef in device_framework_abi.h, so that a definition with another
// signature does not compile. Also the few exports that are not in the host's table: the
// CoreFoundation data symbols, documented CoreFoundation functions the host does not resolve
// (CFRetain, CFNumberCreate, ...), and the libraries' own internal entry points (prefix Kor).
#pragma once

#include <type_traits>

#include "devicefw/device_framework_abi.h"

#define DEVICEFW_DECLARE_ENTRY(name) \
  __attribute__((visibility("default"))) std::remove_pointer_t<name##Fn> name;

extern "C" {

// ---- CoreFoundation (libCoreFoundation.so) ----------------------------------------------------
DEVICEFW_DECLARE_ENTRY(CFStringCreateWithCString)
DEVICEFW_DECLARE_ENTRY(__CFStringMakeConstantString)
DEVICEFW_DECLARE_ENTRY(CFDictionaryApplyFunction)
DEVICEFW_DECLARE_ENTRY(CFRelease)
DEVICEFW_DECLARE_ENTRY(CFRunLoopRun)
DEVICEFW_DECLARE_ENTRY(CFDictionaryContainsKey)
DEVICEFW_DECLARE_ENTRY(CFDictionaryGetValue)
DEVICEFW_DECLARE_ENTRY(CFDictionaryContainsValue)
DEVICEFW_DECLARE_ENTRY(CFURLCreateWithFileSystemPath)
DEVICEFW_DECLARE_ENTRY(CFDictionaryCreate)
DEVICEFW_DECLARE_ENTRY(CFNumberGetValue)
DEVICEFW_DECLARE_ENTRY(CFGetTypeID)
DEVICEFW_DECLARE_ENTRY(CFNumberGetType)
DEVICEFW_DECLARE_ENTRY(CFBooleanGetValue)
DEVICEFW_DECLARE_ENTRY(CFArrayGetValueAtIndex)
DEVICEFW_DECLARE_ENTRY(CFArrayRemoveValueAtIndex)
DEVICEFW_DECLARE_ENTRY(CFArrayCreateMutable)
DEVICEFW_DECLARE_ENTRY(CFDataCreate)
DEVICEFW_DECLARE_ENTRY(CFPropertyListCreateWithData)
DEVICEFW_DECLARE_ENTRY(CFPropertyListCreateXMLData)
DEVICEFW_DECLARE_ENTRY(CFDataGetLength)
DEVICEFW_DECLARE_ENTRY(CFDataGetBytePtr)
DEVICEFW_DECLARE_ENTRY(CFArrayGetCount)
DEVICEFW_DECLARE_ENTRY(CFStringGetLength)
DEVICEFW_DECLARE_ENTRY(CFNumberGetByteSize)
DEVICEFW_DECLARE_ENTRY(CFStringGetCString)
DEVICEFW_DECLARE_ENTRY(CFWriteStreamCreateWithAllocatedBuffers)
DEVICEFW_DECLARE_ENTRY(CFWriteStreamOpen)
DEVICEFW_DECLARE_ENTRY(CFPropertyListCreateFromXMLData)
DEVICEFW_DECLARE_ENTRY(CFPropertyListWriteToStream)
DEVICEFW_DECLARE_ENTRY(CFWriteStreamCopyProperty)
DEVICEFW_DECLARE_ENTRY(CFWriteStreamClose)
DEVICEFW_DECLARE_ENTRY(CFDictionaryGetCount)
DEVICEFW_DECLARE_ENTRY(CFDictionaryGetKeysAndValues)
DEVICEFW_DECLARE_ENTRY(CFDictionaryCreateMutable)
DEVICEFW_DECLARE_ENTRY(CFDictionaryAddValue)
DEVICEFW_DECLARE_ENTRY(CFArrayAppendValue)
DEVICEFW_DECLARE_ENTRY(CFAbsoluteTimeGetCurrent)
DEVICEFW_DECLARE_ENTRY(CFDateCreate)
DEVICEFW_DECLARE_ENTRY(CFStringCreateCopy)
DEVICEFW_DECLARE_ENTRY(CFDataCreateCopy)
DEVICEFW_DECLARE_ENTRY(CFDateGetAbsoluteTime)

__attribute__((visibility("default"))) extern const CFBooleanRef kCFBooleanTrue;
__attribute__((visibility("default"))) extern const CFBooleanRef kCFBooleanFalse;
__attribute__((visibility("default"))) extern const CFStringRef kCFStreamPropertyDataWritten;

typedef CFTypeRef (*CFRetainFn)(CFTypeRef);
typedef CFIndex (*CFGetRetainCountFn)(CFTypeRef);
typedef Boolean (*CFEqualFn)(CFTypeRef, CFTypeRef);
typedef CFNumberRef (*CFNumberCreateFn)(CFAllocatorRef, CFNumberType, const void*);
DEVICEFW_DECLARE_ENTRY(CFRetain)
DEVICEFW_DECLARE_ENTRY(CFGetRetainCount)
DEVICEFW_DECLARE_ENTRY(CFEqual)
DEVICEFW_DECLARE_ENTRY(CFNumberCreate)

// The notification loop: KorRunLoopPost queues fn(context) to run on the thread inside
// CFRunLoopRun (0 on success); KorRunLoopStop makes every CFRunLoopRun running at the time
// return once its current call is done.
typedef int (*KorRunLoopPostFn)(void (*fn)(void*), void* context);
typedef void (*KorRunLoopStopFn)(void);
DEVICEFW_DECLARE_ENTRY(KorRunLoopPost)
DEVICEFW_DECLARE_ENTRY(KorRunLoopStop)

// The property-list bridge between libplist nodes (plist_t) and CF objects.
// KorCFCreateFromPlist: a new CF object (caller releases), or null when it cannot be converted.
// KorPlistCreateFromCF: a new plist_t (caller frees with plist_free), or null.
typedef CFTypeRef (*KorCFCreateFromPlistFn)(const void* plist_node);
typedef void* (*KorPlistCreateFromCFFn)(CFTypeRef value);
DEVICEFW_DECLARE_ENTRY(KorCFCreateFromPlist)
DEVICEFW_DECLARE_ENTRY(KorPlistCreateFromCF)

// ---- MobileDevice (libMobileDevice.so) --------------------------------------------------------
DEVICEFW_DECLARE_ENTRY(AMDeviceNotificationSubscribe)
DEVICEFW_DECLARE_ENTRY(AMDeviceNotificationUnsubscribe)
DEVICEFW_DECLARE_ENTRY(AFCCopyErrorString)
DEVICEFW_DECLARE_ENTRY(AMDeviceGetInterfaceType)
DEVICEFW_DECLARE_ENTRY(AMDeviceConnect)
DEVICEFW_DECLARE_ENTRY(AMDeviceDisconnect)
DEVICEFW_DECLARE_ENTRY(AMDeviceStopSession)
DEVICEFW_DECLARE_ENTRY(AMDeviceIsPaired)
DEVICEFW_DECLARE_ENTRY(AMDeviceValidatePairing)
DEVICEFW_DECLARE_ENTRY(AMDevicePair)
DEVICEFW_DECLARE_ENTRY(AMDeviceStartSession)
DEVICEFW_DECLARE_ENTRY(AMDeviceGetConnectionID)
DEVICEFW_DECLARE_ENTRY(AMRestoreModeDeviceCreate)
DEVICEFW_DECLARE_ENTRY(AFCDirectoryOpen)
DEVICEFW_DECLARE_ENTRY(AFCDirectoryRead)
DEVICEFW_DECLARE_ENTRY(AFCDirectoryClose)
DEVICEFW_DECLARE_ENTRY(AFCDirectoryCreate)
DEVICEFW_DECLARE_ENTRY(AMDCopyErrorText)
DEVICEFW_DECLARE_ENTRY(AMRestoreRegisterForDeviceNotifications)
DEVICEFW_DECLARE_ENTRY(AMDeviceStartService)
DEVICEFW_DECLARE_ENTRY(AFCConnectionOpen)
DEVICEFW_DECLARE_ENTRY(AFCConnectionClose)
DEVICEFW_DECLARE_ENTRY(AMDeviceCopyValue)
DEVICEFW_DECLARE_ENTRY(AFCFileInfoOpen)
DEVICEFW_DECLARE_ENTRY(AFCRemovePath)
DEVICEFW_DECLARE_ENTRY(AFCRenamePath)
DEVICEFW_DECLARE_ENTRY(AFCFileRefOpen)
DEVICEFW_DECLARE_ENTRY(AFCFileRefClose)
DEVICEFW_DECLARE_ENTRY(AFCFileRefRead)
DEVICEFW_DECLARE_ENTRY(AFCFileRefLock)
DEVICEFW_DECLARE_ENTRY(AFCFileRefUnlock)
DEVICEFW_DECLARE_ENTRY(AFCFileRefWrite)
DEVICEFW_DECLARE_ENTRY(AFCFlushData)
DEVICEFW_DECLARE_ENTRY(AFCFileRefTell)
DEVICEFW_DECLARE_ENTRY(AFCFileRefSeek)
DEVICEFW_DECLARE_ENTRY(AFCFileRefSetFileSize)
DEVICEFW_DECLARE_ENTRY(AFCDeviceInfoOpen)
DEVICEFW_DECLARE_ENTRY(AFCKeyValueRead)
DEVICEFW_DECLARE_ENTRY(AFCKeyValueClose)
DEVICEFW_DECLARE_ENTRY(AMDPostNotification)
DEVICEFW_DECLARE_ENTRY(AMDShutdownNotificationProxy)
DEVICEFW_DECLARE_ENTRY(AMDListenForNotifications)
DEVICEFW_DECLARE_ENTRY(AMDObserveNotification)
DEVICEFW_DECLARE_ENTRY(AMDeviceLookupApplications)
DEVICEFW_DECLARE_ENTRY(AMDeviceSecureUninstallApplication)
DEVICEFW_DECLARE_ENTRY(AMDeviceSecureTransferPath)
DEVICEFW_DECLARE_ENTRY(AMDServiceConnectionSend)
DEVICEFW_DECLARE_ENTRY(AMDServiceConnectionReceive)
DEVICEFW_DECLARE_ENTRY(AMDeviceSecureStartService)
DEVICEFW_DECLARE_ENTRY(AMDServiceConnectionGetSocket)
DEVICEFW_DECLARE_ENTRY(AMDServiceConnectionInvalidate)
DEVICEFW_DECLARE_ENTRY(AMDServiceConnectionGetSecureIOContext)
DEVICEFW_DECLARE_ENTRY(AFCConnectionSetSecureContext)
DEVICEFW_DECLARE_ENTRY(AMDeviceSetValue)
// Extension of the AFC API (see device_framework_abi.h).
DEVICEFW_DECLARE_ENTRY(KorAFCFileInfoOpenBatch)

// ---- AirTrafficHost (libAirTrafficHost.so) ----------------------------------------------------
typedef const char* (*ATHostVersionFn)(void);
DEVICEFW_DECLARE_ENTRY(ATHostVersion)

}  // extern "C"

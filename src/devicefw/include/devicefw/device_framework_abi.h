// The binary interface of the device framework libraries (MobileDevice, CoreFoundation).
//
// Tandrel never links the framework: it loads the libraries at run time and resolves every entry
// point by name. This header gives the C types and the signature of each entry point so that the
// loader's table and the stand-in libraries in src/devicefw agree on one contract.
#pragma once

#include <cstddef>
#include <cstdint>

extern "C" {

// ---- CoreFoundation ------------------------------------------------------------------------

typedef unsigned char Boolean;
typedef uint8_t UInt8;
typedef long CFIndex;
typedef unsigned long CFTypeID;
typedef unsigned long CFOptionFlags;
typedef uint32_t CFStringEncoding;
typedef CFIndex CFNumberType;
typedef CFIndex CFPropertyListFormat;
typedef double CFTimeInterval;
typedef CFTimeInterval CFAbsoluteTime;

typedef const void* CFTypeRef;
typedef const void* CFPropertyListRef;
typedef const struct __CFAllocator* CFAllocatorRef;
typedef const struct __CFString* CFStringRef;
typedef const struct __CFDictionary* CFDictionaryRef;
typedef struct __CFDictionary* CFMutableDictionaryRef;
typedef const struct __CFArray* CFArrayRef;
typedef struct __CFArray* CFMutableArrayRef;
typedef const struct __CFData* CFDataRef;
typedef const struct __CFBoolean* CFBooleanRef;
typedef const struct __CFNumber* CFNumberRef;
typedef const struct __CFDate* CFDateRef;
typedef const struct __CFURL* CFURLRef;
typedef struct __CFError* CFErrorRef;
typedef struct __CFWriteStream* CFWriteStreamRef;

typedef void (*CFDictionaryApplierFunction)(const void* key, const void* value, void* context);

// Callback tables are accepted for signature compatibility; the stand-in always retains keys and
// values as CF objects, so callers pass null.
typedef struct CFDictionaryKeyCallBacks CFDictionaryKeyCallBacks;
typedef struct CFDictionaryValueCallBacks CFDictionaryValueCallBacks;
typedef struct CFArrayCallBacks CFArrayCallBacks;

// Type numbers returned by CFGetTypeID.
enum : CFTypeID {
  kCFTypeIDString = 7,
  kCFTypeIDDictionary = 18,
  kCFTypeIDArray = 19,
  kCFTypeIDData = 20,
  kCFTypeIDBoolean = 21,
  kCFTypeIDNumber = 22,
  kCFTypeIDDate = 42,
};

// Number types.
enum : CFNumberType {
  kCFNumberSInt8Type = 1,
  kCFNumberSInt16Type = 2,
  kCFNumberSInt32Type = 3,
  kCFNumberSInt64Type = 4,
  kCFNumberFloat32Type = 5,
  kCFNumberFloat64Type = 6,
  kCFNumberCharType = 7,
  kCFNumberShortType = 8,
  kCFNumberIntType = 9,
  kCFNumberLongType = 10,
  kCFNumberLongLongType = 11,
  kCFNumberFloatType = 12,
  kCFNumberDoubleType = 13,
  kCFNumberCFIndexType = 14,
  kCFNumberNSIntegerType = 15,
  kCFNumberCGFloatType = 16,
};

enum : CFStringEncoding {
  kCFStringEncodingASCII = 0x0600,
  kCFStringEncodingUTF8 = 0x08000100,
};

enum : CFPropertyListFormat {
  kCFPropertyListOpenStepFormat = 1,
  kCFPropertyListXMLFormat_v1_0 = 100,
  kCFPropertyListBinaryFormat_v1_0 = 200,
};

enum : CFOptionFlags {
  kCFPropertyListImmutable = 0,
  kCFPropertyListMutableContainers = 1,
  kCFPropertyListMutableContainersAndLeaves = 2,
};

// ---- MobileDevice ----------------------------------------------------------------------------

typedef struct am_device* AMDeviceRef;
typedef struct am_device_notification* AMDeviceNotificationRef;
typedef struct am_service_connection* AMDServiceConnectionRef;
typedef struct afc_connection* AFCConnectionRef;
typedef struct afc_directory* AFCDirectoryRef;
typedef struct afc_dictionary* AFCDictionaryRef;
typedef uint64_t AFCFileRef;
typedef int32_t mach_error_t;
typedef int32_t afc_error_t;

// Notification messages.
enum : uint32_t {
  ADNCI_MSG_CONNECTED = 1,
  ADNCI_MSG_DISCONNECTED = 2,
  ADNCI_MSG_UNKNOWN = 3,
  ADNCI_MSG_TRUSTED = 4,
};

struct am_device_notification_callback_info {
  AMDeviceRef dev;
  uint32_t msg;
  AMDeviceNotificationRef subscription;
};
typedef void (*am_device_notification_callback)(am_device_notification_callback_info* info,
                                                void* cookie);

// Interface types returned by AMDeviceGetInterfaceType.
enum : int32_t {
  kAMDInterfaceUnknown = 0,
  kAMDInterfaceUSB = 1,
  kAMDInterfaceNetwork = 2,
};

// MobileDevice errors are 0xE8000000 + n; AFC functions return the AFC error number itself.
constexpr uint32_t kAMDErrorBase = 0xE8000000u;
constexpr mach_error_t kAMDSuccess = 0;
constexpr mach_error_t AMDError(uint32_t n) { return static_cast<mach_error_t>(kAMDErrorBase + n); }
constexpr mach_error_t kAMDUndefinedError = AMDError(1);
constexpr mach_error_t kAMDInvalidArgumentError = AMDError(7);
constexpr mach_error_t kAMDNotFoundError = AMDError(8);
constexpr mach_error_t kAMDNotConnectedError = AMDError(11);
constexpr mach_error_t kAMDUnsupportedError = AMDError(15);
constexpr mach_error_t kAMDInvalidResponseError = AMDError(19);
constexpr mach_error_t kAMDMissingValueError = AMDError(21);
constexpr mach_error_t kAMDSetProhibitedError = AMDError(23);
constexpr mach_error_t kAMDPasswordProtectedError = AMDError(26);
constexpr mach_error_t kAMDInvalidHostIDError = AMDError(28);
constexpr mach_error_t kAMDSessionInactiveError = AMDError(30);
constexpr mach_error_t kAMDInvalidServiceError = AMDError(34);
constexpr mach_error_t kAMDMissingPairRecordError = AMDError(37);
constexpr mach_error_t kAMDStartServiceError = AMDError(50);
constexpr mach_error_t kAMDMuxError = AMDError(53);
constexpr mach_error_t kAMDMuxConnectError = AMDError(101);
constexpr mach_error_t kAMDDeviceDisconnectedError = AMDError(132);
constexpr mach_error_t kAMDUserDeniedPairingError = AMDError(149);
constexpr mach_error_t kAMDPairingDialogResponsePendingError = AMDError(150);
// Further names used by the device framework stand-in (same numbering).
constexpr mach_error_t kAMDReadError = AMDError(4);
constexpr mach_error_t kAMDWriteError = AMDError(5);
constexpr mach_error_t kAMDTimeOutError = AMDError(12);
constexpr mach_error_t kAMDCryptoError = AMDError(18);
constexpr mach_error_t kAMDMissingKeyError = AMDError(20);
constexpr mach_error_t kAMDGetProhibitedError = AMDError(22);
constexpr mach_error_t kAMDRemoveProhibitedError = AMDError(24);
constexpr mach_error_t kAMDImmutableValueError = AMDError(25);
constexpr mach_error_t kAMDMissingHostIDError = AMDError(27);
constexpr mach_error_t kAMDSessionActiveError = AMDError(29);
constexpr mach_error_t kAMDMissingSessionIDError = AMDError(31);
constexpr mach_error_t kAMDInvalidSessionIDError = AMDError(32);
constexpr mach_error_t kAMDMissingServiceError = AMDError(33);
constexpr mach_error_t kAMDInvalidActivationRecordError = AMDError(38);
constexpr mach_error_t kAMDMissingActivationRecordError = AMDError(39);
constexpr mach_error_t kAMDServiceLimitError = AMDError(91);
constexpr mach_error_t kAMDInvalidPairRecordError = AMDError(92);
constexpr mach_error_t kAMDServiceProhibitedError = AMDError(93);
constexpr mach_error_t kAMDSavePairRecordFailedError = AMDError(104);
constexpr mach_error_t kAMDEscrowLockedError = AMDError(129);
constexpr mach_error_t kAMDPairingProhibitedError = AMDError(130);
constexpr mach_error_t kAMDFMiPProtectedError = AMDError(153);
constexpr mach_error_t kAMDMCProtected = AMDError(154);
constexpr mach_error_t kAMDMCChallengeRequired = AMDError(155);

// AFC open modes.
enum : uint64_t {
  kAFCFileModeReadOnly = 1,
  kAFCFileModeReadWrite = 2,
  kAFCFileModeWriteOnlyCreateTruncate = 3,
  kAFCFileModeReadWriteCreateTruncate = 4,
  kAFCFileModeWriteOnlyCreateAppend = 5,
  kAFCFileModeReadWriteCreateAppend = 6,
};

// AFC error numbers.
enum : afc_error_t {
  kAFCSuccess = 0,
  kAFCUndefinedError = 1,
  kAFCBadHeaderError = 2,
  kAFCNoResourcesError = 3,
  kAFCReadError = 4,
  kAFCWriteError = 5,
  kAFCUnknownPacketError = 6,
  kAFCInvalidArgumentError = 7,
  kAFCNotFoundError = 8,
  kAFCIsDirectoryError = 9,
  kAFCPermissionError = 10,
  kAFCNotConnectedError = 11,
  kAFCTimeOutError = 12,
  kAFCOverrunError = 13,
  kAFCEOFError = 14,
  kAFCUnsupportedError = 15,
  kAFCFileExistsError = 16,
  kAFCBusyError = 17,
  kAFCNoSpaceError = 18,
  kAFCWouldBlockError = 19,
  kAFCInputOutputError = 20,
  kAFCInterruptedError = 21,
  kAFCInProgressError = 22,
  kAFCInternalError = 23,
};

// Seek origins for AFCFileRefSeek.
enum : int32_t { kAFCSeekSet = 0, kAFCSeekCur = 1, kAFCSeekEnd = 2 };

// ---- Entry point signatures, one typedef per exported symbol --------------------------------

// CoreFoundation
typedef CFStringRef (*CFStringCreateWithCStringFn)(CFAllocatorRef, const char*, CFStringEncoding);
typedef CFStringRef (*__CFStringMakeConstantStringFn)(const char*);
typedef void (*CFDictionaryApplyFunctionFn)(CFDictionaryRef, CFDictionaryApplierFunction, void*);
typedef void (*CFReleaseFn)(CFTypeRef);
typedef void (*CFRunLoopRunFn)(void);
typedef Boolean (*CFDictionaryContainsKeyFn)(CFDictionaryRef, const void*);
typedef const void* (*CFDictionaryGetValueFn)(CFDictionaryRef, const void*);
typedef Boolean (*CFDictionaryContainsValueFn)(CFDictionaryRef, const void*);
typedef CFURLRef (*CFURLCreateWithFileSystemPathFn)(CFAllocatorRef, CFStringRef, CFIndex, Boolean);
typedef CFDictionaryRef (*CFDictionaryCreateFn)(CFAllocatorRef, const void**, const void**, CFIndex,
                                                const CFDictionaryKeyCallBacks*,
                                                const CFDictionaryValueCallBacks*);
typedef Boolean (*CFNumberGetValueFn)(CFNumberRef, CFNumberType, void*);
typedef CFTypeID (*CFGetTypeIDFn)(CFTypeRef);
typedef CFNumberType (*CFNumberGetTypeFn)(CFNumberRef);
typedef Boolean (*CFBooleanGetValueFn)(CFBooleanRef);
typedef const void* (*CFArrayGetValueAtIndexFn)(CFArrayRef, CFIndex);
typedef void (*CFArrayRemoveValueAtIndexFn)(CFMutableArrayRef, CFIndex);
typedef CFMutableArrayRef (*CFArrayCreateMutableFn)(CFAllocatorRef, CFIndex, const CFArrayCallBacks*);
typedef CFDataRef (*CFDataCreateFn)(CFAllocatorRef, const UInt8*, CFIndex);
typedef CFPropertyListRef (*CFPropertyListCreateWithDataFn)(CFAllocatorRef, CFDataRef, CFOptionFlags,
                                                            CFPropertyListFormat*, CFErrorRef*);
typedef CFDataRef (*CFPropertyListCreateXMLDataFn)(CFAllocatorRef, CFPropertyListRef);
typedef CFIndex (*CFDataGetLengthFn)(CFDataRef);
typedef const UInt8* (*CFDataGetBytePtrFn)(CFDataRef);
typedef CFIndex (*CFArrayGetCountFn)(CFArrayRef);
typedef CFIndex (*CFStringGetLengthFn)(CFStringRef);
typedef CFIndex (*CFNumberGetByteSizeFn)(CFNumberRef);
typedef Boolean (*CFStringGetCStringFn)(CFStringRef, char*, CFIndex, CFStringEncoding);
typedef CFWriteStreamRef (*CFWriteStreamCreateWithAllocatedBuffersFn)(CFAllocatorRef, CFAllocatorRef);
typedef Boolean (*CFWriteStreamOpenFn)(CFWriteStreamRef);
typedef CFPropertyListRef (*CFPropertyListCreateFromXMLDataFn)(CFAllocatorRef, CFDataRef, CFOptionFlags,
                                                               CFStringRef*);
typedef CFIndex (*CFPropertyListWriteToStreamFn)(CFPropertyListRef, CFWriteStreamRef, CFPropertyListFormat,
                                                 CFStringRef*);
typedef CFTypeRef (*CFWriteStreamCopyPropertyFn)(CFWriteStreamRef, CFStringRef);
typedef void (*CFWriteStreamCloseFn)(CFWriteStreamRef);
typedef CFIndex (*CFDictionaryGetCountFn)(CFDictionaryRef);
typedef void (*CFDictionaryGetKeysAndValuesFn)(CFDictionaryRef, const void**, const void**);
typedef CFMutableDictionaryRef (*CFDictionaryCreateMutableFn)(CFAllocatorRef, CFIndex,
                                                             const CFDictionaryKeyCallBacks*,
                                                             const CFDictionaryValueCallBacks*);
typedef void (*CFDictionaryAddValueFn)(CFMutableDictionaryRef, const void*, const void*);
typedef void (*CFArrayAppendValueFn)(CFMutableArrayRef, const void*);
typedef CFAbsoluteTime (*CFAbsoluteTimeGetCurrentFn)(void);
typedef CFDateRef (*CFDateCreateFn)(CFAllocatorRef, CFAbsoluteTime);
typedef CFStringRef (*CFStringCreateCopyFn)(CFAllocatorRef, CFStringRef);
typedef CFDataRef (*CFDataCreateCopyFn)(CFAllocatorRef, CFDataRef);
typedef CFAbsoluteTime (*CFDateGetAbsoluteTimeFn)(CFDateRef);

// MobileDevice
typedef mach_error_t (*AMDeviceNotificationSubscribeFn)(am_device_notification_callback, uint32_t, uint32_t,
                                                        void*, AMDeviceNotificationRef*);
typedef mach_error_t (*AMDeviceNotificationUnsubscribeFn)(AMDeviceNotificationRef);
typedef CFStringRef (*AFCCopyErrorStringFn)(afc_error_t);
typedef int32_t (*AMDeviceGetInterfaceTypeFn)(AMDeviceRef);
typedef mach_error_t (*AMDeviceConnectFn)(AMDeviceRef);
typedef mach_error_t (*AMDeviceDisconnectFn)(AMDeviceRef);
typedef mach_error_t (*AMDeviceStopSessionFn)(AMDeviceRef);
typedef int32_t (*AMDeviceIsPairedFn)(AMDeviceRef);
typedef mach_error_t (*AMDeviceValidatePairingFn)(AMDeviceRef);
typedef mach_error_t (*AMDevicePairFn)(AMDeviceRef);
typedef mach_error_t (*AMDeviceStartSessionFn)(AMDeviceRef);
typedef uint32_t (*AMDeviceGetConnectionIDFn)(AMDeviceRef);
typedef mach_error_t (*AMRestoreModeDeviceCreateFn)(uint32_t, uint32_t, uint32_t);
typedef afc_error_t (*AFCDirectoryOpenFn)(AFCConnectionRef, const char*, AFCDirectoryRef*);
typedef afc_error_t (*AFCDirectoryReadFn)(AFCConnectionRef, AFCDirectoryRef, char**);
typedef afc_error_t (*AFCDirectoryCloseFn)(AFCConnectionRef, AFCDirectoryRef);
typedef afc_error_t (*AFCDirectoryCreateFn)(AFCConnectionRef, const char*);
typedef CFStringRef (*AMDCopyErrorTextFn)(mach_error_t);
typedef mach_error_t (*AMRestoreRegisterForDeviceNotificationsFn)(void*, void*, void*, void*, uint32_t, void*);
typedef mach_error_t (*AMDeviceStartServiceFn)(AMDeviceRef, CFStringRef, int32_t*, uint32_t*);
typedef afc_error_t (*AFCConnectionOpenFn)(int32_t, uint32_t, AFCConnectionRef*);
typedef afc_error_t (*AFCConnectionCloseFn)(AFCConnectionRef);
typedef CFTypeRef (*AMDeviceCopyValueFn)(AMDeviceRef, CFStringRef, CFStringRef);
typedef afc_error_t (*AFCFileInfoOpenFn)(AFCConnectionRef, const char*, AFCDictionaryRef*);
typedef afc_error_t (*AFCRemovePathFn)(AFCConnectionRef, const char*);
typedef afc_error_t (*AFCRenamePathFn)(AFCConnectionRef, const char*, const char*);
typedef afc_error_t (*AFCFileRefOpenFn)(AFCConnectionRef, const char*, uint64_t, AFCFileRef*);
typedef afc_error_t (*AFCFileRefCloseFn)(AFCConnectionRef, AFCFileRef);
typedef afc_error_t (*AFCFileRefReadFn)(AFCConnectionRef, AFCFileRef, void*, uint32_t*);
typedef afc_error_t (*AFCFileRefLockFn)(AFCConnectionRef, AFCFileRef, uint64_t);
typedef afc_error_t (*AFCFileRefUnlockFn)(AFCConnectionRef, AFCFileRef);
typedef afc_error_t (*AFCFileRefWriteFn)(AFCConnectionRef, AFCFileRef, const void*, uint32_t);
typedef afc_error_t (*AFCFlushDataFn)(AFCConnectionRef, AFCFileRef);
typedef afc_error_t (*AFCFileRefTellFn)(AFCConnectionRef, AFCFileRef, uint64_t*);
typedef afc_error_t (*AFCFileRefSeekFn)(AFCConnectionRef, AFCFileRef, int64_t, int32_t);
typedef afc_error_t (*AFCFileRefSetFileSizeFn)(AFCConnectionRef, AFCFileRef, uint64_t);
typedef afc_error_t (*AFCDeviceInfoOpenFn)(AFCConnectionRef, AFCDictionaryRef*);
typedef afc_error_t (*AFCKeyValueReadFn)(AFCDictionaryRef, char**, char**);
typedef afc_error_t (*AFCKeyValueCloseFn)(AFCDictionaryRef);
typedef mach_error_t (*AMDPostNotificationFn)(AMDServiceConnectionRef, CFStringRef, CFStringRef);
typedef mach_error_t (*AMDShutdownNotificationProxyFn)(AMDServiceConnectionRef);
typedef mach_error_t (*AMDListenForNotificationsFn)(AMDServiceConnectionRef, void*, void*);
typedef mach_error_t (*AMDObserveNotificationFn)(AMDServiceConnectionRef, CFStringRef);
typedef mach_error_t (*AMDeviceLookupApplicationsFn)(AMDeviceRef, CFDictionaryRef, CFDictionaryRef*);
typedef mach_error_t (*AMDeviceSecureUninstallApplicationFn)(AMDServiceConnectionRef, AMDeviceRef, CFStringRef,
                                                             CFDictionaryRef, void*, void*);
typedef mach_error_t (*AMDeviceSecureTransferPathFn)(uint32_t, AMDeviceRef, CFURLRef, CFDictionaryRef, void*,
                                                     void*);
typedef int64_t (*AMDServiceConnectionSendFn)(AMDServiceConnectionRef, const void*, size_t);
typedef int64_t (*AMDServiceConnectionReceiveFn)(AMDServiceConnectionRef, void*, size_t);
typedef mach_error_t (*AMDeviceSecureStartServiceFn)(AMDeviceRef, CFStringRef, CFDictionaryRef,
                                                     AMDServiceConnectionRef*);
typedef int32_t (*AMDServiceConnectionGetSocketFn)(AMDServiceConnectionRef);
typedef mach_error_t (*AMDServiceConnectionInvalidateFn)(AMDServiceConnectionRef);
typedef void* (*AMDServiceConnectionGetSecureIOContextFn)(AMDServiceConnectionRef);
typedef afc_error_t (*AFCConnectionSetSecureContextFn)(AFCConnectionRef, void*);
typedef mach_error_t (*AMDeviceSetValueFn)(AMDeviceRef, CFStringRef, CFStringRef, CFTypeRef);

// ---- Extensions of this framework (not in the host's table) -----------------------------------
// A host looks them up by name beside the table and does without them when they are missing.

// File information of many paths on one connection, with several requests in flight: for each i,
// results[i] and infos[i] are what AFCFileInfoOpen(connection, paths[i], &infos[i]) would give
// (infos[i] null unless results[i] is 0; the caller closes each with AFCKeyValueClose). Returns 0
// when every path got the device's answer; otherwise the error that ended the exchange, which the
// paths left unanswered carry too. Other users of the connection wait while a batch runs.
typedef afc_error_t (*KorAFCFileInfoOpenBatchFn)(AFCConnectionRef connection, const char* const* paths, size_t count,
                                                 AFCDictionaryRef* infos, afc_error_t* results);
#define KOR_AFC_FILE_INFO_OPEN_BATCH_SYMBOL "KorAFCFileInfoOpenBatch"

}  // extern "C"

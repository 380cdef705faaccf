// The 99 entry points of the device framework, in table-slot order: slot, field name, exported
// symbol, library (MD = MobileDevice, CF = CoreFoundation) and signature.
#pragma once

// clang-format off
#define KOR_MOBILE_EXPORT_SLOTS(X) \
  X(0,  AMDeviceNotificationSubscribe,          "AMDeviceNotificationSubscribe",          MD, AMDeviceNotificationSubscribeFn) \
  X(1,  AMDeviceNotificationUnsubscribe,        "AMDeviceNotificationUnsubscribe",        MD, AMDeviceNotificationUnsubscribeFn) \
  X(2,  AMDeviceGetInterfaceType,               "AMDeviceGetInterfaceType",               MD, AMDeviceGetInterfaceTypeFn) \
  X(3,  AMDeviceConnect,                        "AMDeviceConnect",                        MD, AMDeviceConnectFn) \
  X(4,  AMDeviceDisconnect,                     "AMDeviceDisconnect",                     MD, AMDeviceDisconnectFn) \
  X(5,  AMDeviceIsPaired,                       "AMDeviceIsPaired",                       MD, AMDeviceIsPairedFn) \
  X(6,  AMDeviceValidatePairing,                "AMDeviceValidatePairing",                MD, AMDeviceValidatePairingFn) \
  X(7,  AMDeviceStartSession,                   "AMDeviceStartSession",                   MD, AMDeviceStartSessionFn) \
  X(8,  AMDeviceStopSession,                    "AMDeviceStopSession",                    MD, AMDeviceStopSessionFn) \
  X(9,  AMDeviceGetConnectionID,                "AMDeviceGetConnectionID",                MD, AMDeviceGetConnectionIDFn) \
  X(10, AMRestoreModeDeviceCreate,              "AMRestoreModeDeviceCreate",              MD, AMRestoreModeDeviceCreateFn) \
  X(11, AFCDirectoryOpen,                       "AFCDirectoryOpen",                       MD, AFCDirectoryOpenFn) \
  X(12, AFCDirectoryRead,                       "AFCDirectoryRead",                       MD, AFCDirectoryReadFn) \
  X(13, AFCDirectoryClose,                      "AFCDirectoryClose",                      MD, AFCDirectoryCloseFn) \
  X(14, AFCDirectoryCreate,                     "AFCDirectoryCreate",                     MD, AFCDirectoryCreateFn) \
  X(15, CFStringGetLength,                      "CFStringGetLength",                      CF, CFStringGetLengthFn) \
  X(16, CFNumberGetByteSize,                    "CFNumberGetByteSize",                    CF, CFNumberGetByteSizeFn) \
  X(17, AMRestoreRegisterForDeviceNotifications,"AMRestoreRegisterForDeviceNotifications",MD, AMRestoreRegisterForDeviceNotificationsFn) \
  X(18, AMDeviceStartService,                   "AMDeviceStartService",                   MD, AMDeviceStartServiceFn) \
  X(19, AFCConnectionOpen,                      "AFCConnectionOpen",                      MD, AFCConnectionOpenFn) \
  X(20, AFCConnectionClose,                     "AFCConnectionClose",                     MD, AFCConnectionCloseFn) \
  X(21, AMDeviceCopyValue,                      "AMDeviceCopyValue",                      MD, AMDeviceCopyValueFn) \
  X(22, AFCFileInfoOpenUnused,                  "AFCFileInfoOpen",                        MD, AFCFileInfoOpenFn) \
  X(23, AFCRemovePath,                          "AFCRemovePath",                          MD, AFCRemovePathFn) \
  X(24, AFCRenamePath,                          "AFCRenamePath",                          MD, AFCRenamePathFn) \
  X(25, AFCFileRefOpen,                         "AFCFileRefOpen",                         MD, AFCFileRefOpenFn) \
  X(26, AFCFileRefClose,                        "AFCFileRefClose",                        MD, AFCFileRefCloseFn) \
  X(27, AFCFileRefLock,                         "AFCFileRefLock",                         MD, AFCFileRefLockFn) \
  X(28, AFCFileRefUnlock,                       "AFCFileRefUnlock",                       MD, AFCFileRefUnlockFn) \
  X(29, AFCFileRefRead,                         "AFCFileRefRead",                         MD, AFCFileRefReadFn) \
  X(30, AFCFileRefWrite,                        "AFCFileRefWrite",                        MD, AFCFileRefWriteFn) \
  X(31, AFCFlushData,                           "AFCFlushData",                           MD, AFCFlushDataFn) \
  X(32, AFCFileRefTell,                         "AFCFileRefTell",                         MD, AFCFileRefTellFn) \
  X(33, AFCFileRefSeek,                         "AFCFileRefSeek",                         MD, AFCFileRefSeekFn) \
  X(34, AFCFileRefSetFileSize,                  "AFCFileRefSetFileSize",                  MD, AFCFileRefSetFileSizeFn) \
  X(35, AFCDeviceInfoOpen,                      "AFCDeviceInfoOpen",                      MD, AFCDeviceInfoOpenFn) \
  X(36, AFCKeyValueRead,                        "AFCKeyValueRead",                        MD, AFCKeyValueReadFn) \
  X(37, AFCKeyValueClose,                       "AFCKeyValueClose",                       MD, AFCKeyValueCloseFn) \
  X(38, AMDPostNotification,                    "AMDPostNotification",                    MD, AMDPostNotificationFn) \
  X(39, AMDShutdownNotificationProxy,           "AMDShutdownNotificationProxy",           MD, AMDShutdownNotificationProxyFn) \
  X(40, __CFStringMakeConstantString,           "__CFStringMakeConstantString",           CF, __CFStringMakeConstantStringFn) \
  X(41, CFDictionaryAddValue,                   "CFDictionaryAddValue",                   CF, CFDictionaryAddValueFn) \
  X(42, CFArrayAppendValue,                     "CFArrayAppendValue",                     CF, CFArrayAppendValueFn) \
  X(43, CFStringCreateWithCString,              "CFStringCreateWithCString",              CF, CFStringCreateWithCStringFn) \
  X(44, CFDictionaryCreateMutable,              "CFDictionaryCreateMutable",              CF, CFDictionaryCreateMutableFn) \
  X(45, CFStringGetCString,                     "CFStringGetCString",                     CF, CFStringGetCStringFn) \
  X(46, CFDictionaryApplyFunction,              "CFDictionaryApplyFunction",              CF, CFDictionaryApplyFunctionFn) \
  X(47, AMDListenForNotifications,              "AMDListenForNotifications",              MD, AMDListenForNotificationsFn) \
  X(48, AMDObserveNotification,                 "AMDObserveNotification",                 MD, AMDObserveNotificationFn) \
  X(49, AMDeviceLookupApplications,             "AMDeviceLookupApplications",             MD, AMDeviceLookupApplicationsFn) \
  X(50, CFRelease,                              "CFRelease",                              CF, CFReleaseFn) \
  X(51, CFRunLoopRun,                           "CFRunLoopRun",                           CF, CFRunLoopRunFn) \
  X(52, CFDictionaryContainsKey,                "CFDictionaryContainsKey",                CF, CFDictionaryContainsKeyFn) \
  X(53, CFDictionaryContainsValue,              "CFDictionaryContainsValue",              CF, CFDictionaryContainsValueFn) \
  X(54, CFDictionaryGetValue,                   "CFDictionaryGetValue",                   CF, CFDictionaryGetValueFn) \
  X(55, CFDictionaryCreate,                     "CFDictionaryCreate",                     CF, CFDictionaryCreateFn) \
  X(56, AMDeviceSecureUninstallApplication,     "AMDeviceSecureUninstallApplication",     MD, AMDeviceSecureUninstallApplicationFn) \
  X(57, CFURLCreateWithFileSystemPath,          "CFURLCreateWithFileSystemPath",          CF, CFURLCreateWithFileSystemPathFn) \
  X(58, AMDeviceSecureTransferPath,             "AMDeviceSecureTransferPath",             MD, AMDeviceSecureTransferPathFn) \
  X(59, AFCCopyErrorString,                     "AFCCopyErrorString",                     MD, AFCCopyErrorStringFn) \
  X(60, AMDCopyErrorText,                       "AMDCopyErrorText",                       MD, AMDCopyErrorTextFn) \
  X(61, CFNumberGetValue,                       "CFNumberGetValue",                       CF, CFNumberGetValueFn) \
  X(62, CFGetTypeID,                            "CFGetTypeID",                            CF, CFGetTypeIDFn) \
  X(63, CFNumberGetType,                        "CFNumberGetType",                        CF, CFNumberGetTypeFn) \
  X(64, CFBooleanGetValue,                      "CFBooleanGetValue",                      CF, CFBooleanGetValueFn) \
  X(65, AMDServiceConnectionSend,               "AMDServiceConnectionSend",               MD, AMDServiceConnectionSendFn) \
  X(66, AMDServiceConnectionReceive,            "AMDServiceConnectionReceive",            MD, AMDServiceConnectionReceiveFn) \
  X(67, AMDeviceSecureStartService,             "AMDeviceSecureStartService",             MD, AMDeviceSecureStartServiceFn) \
  X(68, AMDServiceConnectionGetSocket,          "AMDServiceConnectionGetSocket",          MD, AMDServiceConnectionGetSocketFn) \
  X(69, CFDataCreate,                           "CFDataCreate",                           CF, CFDataCreateFn) \
  X(70, CFPropertyListCreateWithData,           "CFPropertyListCreateWithData",           CF, CFPropertyListCreateWithDataFn) \
  X(71, CFPropertyListCreateXMLData,            "CFPropertyListCreateXMLData",            CF, CFPropertyListCreateXMLDataFn) \
  X(72, CFDataGetLength,                        "CFDataGetLength",                        CF, CFDataGetLengthFn) \
  X(73, CFDataGetBytePtr,                       "CFDataGetBytePtr",                       CF, CFDataGetBytePtrFn) \
  X(74, AMDServiceConnectionInvalidate,         "AMDServiceConnectionInvalidate",         MD, AMDServiceConnectionInvalidateFn) \
  X(75, AMDServiceConnectionGetSecureIOContext, "AMDServiceConnectionGetSecureIOContext", MD, AMDServiceConnectionGetSecureIOContextFn) \
  X(76, AFCConnectionSetSecureContext,          "AFCConnectionSetSecureContext",          MD, AFCConnectionSetSecureContextFn) \
  X(77, AMDeviceSetValue,                       "AMDeviceSetValue",                       MD, AMDeviceSetValueFn) \
  X(78, CFArrayGetCount,                        "CFArrayGetCount",                        CF, CFArrayGetCountFn) \
  X(79, CFArrayGetValueAtIndex,                 "CFArrayGetValueAtIndex",                 CF, CFArrayGetValueAtIndexFn) \
  X(80, CFArrayRemoveValueAtIndex,              "CFArrayRemoveValueAtIndex",              CF, CFArrayRemoveValueAtIndexFn) \
  X(81, CFArrayCreateMutable,                   "CFArrayCreateMutable",                   CF, CFArrayCreateMutableFn) \
  X(82, CFWriteStreamCreateWithAllocatedBuffers,"CFWriteStreamCreateWithAllocatedBuffers",CF, CFWriteStreamCreateWithAllocatedBuffersFn) \
  X(83, CFWriteStreamOpen,                      "CFWriteStreamOpen",                      CF, CFWriteStreamOpenFn) \
  X(84, CFPropertyListCreateFromXMLData,        "CFPropertyListCreateFromXMLData",        CF, CFPropertyListCreateFromXMLDataFn) \
  X(85, CFPropertyListWriteToStream,            "CFPropertyListWriteToStream",            CF, CFPropertyListWriteToStreamFn) \
  X(86, kCFStreamPropertyDataWritten,           "kCFStreamPropertyDataWritten",           CF, const CFStringRef*) \
  X(87, CFWriteStreamCopyProperty,              "CFWriteStreamCopyProperty",              CF, CFWriteStreamCopyPropertyFn) \
  X(88, CFWriteStreamClose,                     "CFWriteStreamClose",                     CF, CFWriteStreamCloseFn) \
  X(89, AMDevicePair,                           "AMDevicePair",                           MD, AMDevicePairFn) \
  X(90, AFCFileInfoOpen,                        "AFCFileInfoOpen",                        MD, AFCFileInfoOpenFn) \
  X(91, CFDictionaryGetCount,                   "CFDictionaryGetCount",                   CF, CFDictionaryGetCountFn) \
  X(92, CFDictionaryGetKeysAndValues,           "CFDictionaryGetKeysAndValues",           CF, CFDictionaryGetKeysAndValuesFn) \
  X(93, kCFBooleanTrue,                         "kCFBooleanTrue",                         CF, const CFBooleanRef*) \
  X(94, CFAbsoluteTimeGetCurrent,               "CFAbsoluteTimeGetCurrent",               CF, CFAbsoluteTimeGetCurrentFn) \
  X(95, CFDateCreate,                           "CFDateCreate",                           CF, CFDateCreateFn) \
  X(96, CFStringCreateCopy,                     "CFStringCreateCopy",                     CF, CFStringCreateCopyFn) \
  X(97, CFDataCreateCopy,                       "CFDataCreateCopy",                       CF, CFDataCreateCopyFn) \
  X(98, CFDateGetAbsoluteTime,                  "CFDateGetAbsoluteTime",                  CF, CFDateGetAbsoluteTimeFn)
// clang-format on

// The order in which the loader resolves the symbols (slot numbers).
#define KOR_MOBILE_EXPORT_RESOLVE_ORDER                                                                  \
  43, 40, 46, 50, 51, 52, 54, 53, 57, 55, 61, 62, 63, 64, 79, 80, 81, 69, 70, 71, 72, 73, 78, 15, 16, 45, \
      0, 1, 59, 2, 3, 4, 8, 5, 6, 89, 7, 9, 10, 11, 12, 13, 14, 60, 17, 18, 19, 20, 21, 22, 23, 24, 25,   \
      26, 29, 27, 28, 30, 31, 32, 33, 34, 35, 36, 37, 38, 39, 47, 48, 49, 56, 58, 65, 66, 67, 68, 74, 75, \
      76, 77, 82, 83, 84, 85, 86, 87, 88, 90, 91, 92, 44, 41, 93, 42, 94, 95, 96, 97, 98

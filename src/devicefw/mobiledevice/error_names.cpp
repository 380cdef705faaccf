// Error names of the framework: index n names the MobileDevice error 0xE8000000 + n, and the AFC
// error n. AMDCopyErrorText and AFCCopyErrorString answer with these names.
#include "mobiledevice/error_names.h"

#include <array>
#include <cstdio>
#include <string>

#include "common/guarded_call.h"
#include "devicefw/devicefw_exports.h"

namespace devicefw::md {
namespace {

constexpr std::array<const char*, 157> kDeviceErrorNames = {
    "kAMDSuccess", "kAMDUndefinedError", "kAMDBadHeaderError", "kAMDNoResourcesError", "kAMDReadError",
    "kAMDWriteError", "kAMDUnknownPacketError", "kAMDInvalidArgumentError", "kAMDNotFoundError",
    "kAMDIsDirectoryError", "kAMDPermissionError", "kAMDNotConnectedError", "kAMDTimeOutError",
    "kAMDOverrunError", "kAMDEOFError", "kAMDUnsupportedError", "kAMDFileExistsError", "kAMDBusyError",
    "kAMDCryptoError", "kAMDInvalidResponseError", "kAMDMissingKeyError", "kAMDMissingValueError",
    "kAMDGetProhibitedError", "kAMDSetProhibitedError", "kAMDRemoveProhibitedError",
    "kAMDImmutableValueError", "kAMDPasswordProtectedError", "kAMDMissingHostIDError",
    "kAMDInvalidHostIDError", "kAMDSessionActiveError", "kAMDSessionInactiveError",
    "kAMDMissingSessionIDError", "kAMDInvalidSessionIDError", "kAMDMissingServiceError",
    "kAMDInvalidServiceError", "kAMDInvalidCheckinError", "kAMDCheckinTimeoutError",
    "kAMDMissingPairRecordError", "kAMDInvalidActivationRecordError", "kAMDMissingActivationRecordError",
    "kAMDWrongDroidError", "kAMDSUVerificationError", "kAMDSUPatchError", "kAMDSUFirmwareError",
    "kAMDProvisioningProfileNotValid", "kAMDSendMessageError", "kAMDReceiveMessageError",
    "kAMDMissingOptionsError", "kAMDMissingImageTypeError", "kAMDDigestFailedError", "kAMDStartServiceError",
    "kAMDInvalidDiskImageError", "kAMDMissingDigestError", "kAMDMuxError",
    "kAMDApplicationAlreadyInstalledError", "kAMDApplicationMoveFailedError",
    "kAMDApplicationSINFCaptureFailedError", "kAMDApplicationSandboxFailedError",
    "kAMDApplicationVerificationFailedError", "kAMDArchiveDestructionFailedError",
    "kAMDBundleVerificationFailedError", "kAMDCarrierBundleCopyFailedError",
    "kAMDCarrierBundleDirectoryCreationFailedError", "kAMDCarrierBundleMissingSupportedSIMsError",
    "kAMDCommCenterNotificationFailedError", "kAMDContainerCreationFailedError",
    "kAMDContainerP0wnFailedError", "kAMDContainerRemovalFailedError",
    "kAMDEmbeddedProfileInstallFailedError", "kAMDErrorError", "kAMDExecutableTwiddleFailedError",
    "kAMDExistenceCheckFailedError", "kAMDInstallMapUpdateFailedError", "kAMDManifestCaptureFailedError",
    "kAMDMapGenerationFailedError", "kAMDMissingBundleExecutableError", "kAMDMissingBundleIdentifierError",
    "kAMDMissingBundlePathError", "kAMDMissingContainerError", "kAMDNotificationFailedError",
    "kAMDPackageExtractionFailedError", "kAMDPackageInspectionFailedError", "kAMDPackageMoveFailedError",
    "kAMDPathConversionFailedError", "kAMDRestoreContainerFailedError",
    "kAMDSeatbeltProfileRemovalFailedError", "kAMDStageCreationFailedError", "kAMDSymlinkFailedError",
    "kAMDiTunesArtworkCaptureFailedError", "kAMDiTunesMetadataCaptureFailedError",
    "kAMDAlreadyArchivedError", "kAMDServiceLimitError", "kAMDInvalidPairRecordError",
    "kAMDServiceProhibitedError", "kAMDCheckinSetupFailedError", "kAMDCheckinConnectionFailedError",
    "kAMDCheckinReceiveFailedError", "kAMDCheckinResponseFailedError", "kAMDCheckinSendFailedError",
    "kAMDMuxCreateListenerError", "kAMDMuxGetListenerError", "kAMDMuxConnectError",
    "kAMDUnknownCommandError", "kAMDAPIInternalError", "kAMDSavePairRecordFailedError",
    "kAMDCheckinOutOfMemoryError", "kAMDDeviceTooNewError", "kAMDDeviceRefNoGood",
    "kAMDCannotTranslateError", "kAMDMobileImageMounterMissingImageSignature",
    "kAMDMobileImageMounterResponseCreationFailed", "kAMDMobileImageMounterMissingImageType",
    "kAMDMobileImageMounterMissingImagePath", "kAMDMobileImageMounterImageMapLoadFailed",
    "kAMDMobileImageMounterAlreadyMounted", "kAMDMobileImageMounterImageMoveFailed",
    "kAMDMobileImageMounterMountPathMissing", "kAMDMobileImageMounterMountPathNotEmpty",
    "kAMDMobileImageMounterImageMountFailed", "kAMDMobileImageMounterTrustCacheLoadFailed",
    "kAMDMobileImageMounterDigestFailed", "kAMDMobileImageMounterDigestCreationFailed",
    "kAMDMobileImageMounterImageVerificationFailed", "kAMDMobileImageMounterImageInfoCreationFailed",
    "kAMDMobileImageMounterImageMapStoreFailed", "kAMDBonjourSetupError", "kAMDDeviceOSVersionTooLow",
    "kAMDNoWifiSyncSupportError", "kAMDDeviceFamilyNotSupported", "kAMDEscrowLockedError",
    "kAMDPairingProhibitedError", "kAMDProhibitedBySupervision", "kAMDDeviceDisconnectedError",
    "kAMDTooBigError", "kAMDPackagePatchFailedError", "kAMDIncorrectArchitectureError",
    "kAMDPluginCopyFailedError", "kAMDBreadcrumbFailedError", "kAMDBreadcrumbUnlockError",
    "kAMDGeoJSONCaptureFailedError", "kAMDNewsstandArtworkCaptureFailedError", "kAMDMissingCommandError",
    "kAMDNotEntitledError", "kAMDMissingPackagePathError", "kAMDMissingContainerPathError",
    "kAMDMissingApplicationIdentifierError", "kAMDMissingAttributeValueError", "kAMDLookupFailedError",
    "kAMDDictCreationFailedError", "kAMDUserDeniedPairingError", "kAMDPairingDialogResponsePendingError",
    "kAMDInstallProhibitedError", "kAMDUninstallProhibitedError", "kAMDFMiPProtectedError",
    "kAMDMCProtected", "kAMDMCChallengeRequired", "kAMDMissingBundleVersionError",
};

constexpr std::array<const char*, 24> kAfcErrorNames = {
    "kAFCSuccess", "kAFCUndefinedError", "kAFCBadHeaderError", "kAFCNoResourcesError", "kAFCReadError",
    "kAFCWriteError", "kAFCUnknownPacketError", "kAFCInvalidArgumentError", "kAFCNotFoundError",
    "kAFCIsDirectoryError", "kAFCPermissionError", "kAFCNotConnectedError", "kAFCTimeOutError",
    "kAFCOverrunError", "kAFCEOFError", "kAFCUnsupportedError", "kAFCFileExistsError", "kAFCBusyError",
    "kAFCNoSpaceError", "kAFCWouldBlockError", "kAFCInputOutputError", "kAFCInterruptedError",
    "kAFCInProgressError", "kAFCInternalError",
};

}  // namespace

std::string DeviceErrorName(mach_error_t error) {
  if (error == kAMDSuccess) return kDeviceErrorNames[0];
  const uint32_t index = static_cast<uint32_t>(error) - kAMDErrorBase;
  if (index < kDeviceErrorNames.size()) return kDeviceErrorNames[index];
  char text[32];
  std::snprintf(text, sizeof(text), "0x%08X", static_cast<uint32_t>(error));
  return text;
}

std::string AfcErrorName(afc_error_t error) {
  if (error >= 0 && static_cast<size_t>(error) < kAfcErrorNames.size()) return kAfcErrorNames[error];
  return "AFC error " + std::to_string(error);
}

}  // namespace devicefw::md

extern "C" {

CFStringRef AMDCopyErrorText(mach_error_t error) {
  return devicefw::GuardedCall<CFStringRef>(nullptr, [&] {
    return CFStringCreateWithCString(nullptr, devicefw::md::DeviceErrorName(error).c_str(), kCFStringEncodingUTF8);
  });
}

CFStringRef AFCCopyErrorString(afc_error_t error) {
  return devicefw::GuardedCall<CFStringRef>(nullptr, [&] {
    return CFStringCreateWithCString(nullptr, devicefw::md::AfcErrorName(error).c_str(), kCFStringEncodingUTF8);
  });
}

}  // extern "C"

static_assert(std::is_same_v<decltype(&AMDCopyErrorText), AMDCopyErrorTextFn>);
static_assert(std::is_same_v<decltype(&AFCCopyErrorString), AFCCopyErrorStringFn>);

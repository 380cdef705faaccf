// The names of the device framework's errors: index n names the AFC error n, and index n of
// the MobileDevice table the error 0xE8000000 + n (index 0 is success).
#pragma once

#include <array>

namespace devicefw {

inline constexpr std::array<const char*, 24> kAfcErrorNames = {
    "kAFCSuccess", "kAFCUndefinedError", "kAFCBadHeaderError", "kAFCNoResourcesError", "kAFCReadError",
    "kAFCWriteError", "kAFCUnknownPacketError", "kAFCInvalidArgumentError", "kAFCNotFoundError",
    "kAFCIsDirectoryError", "kAFCPermissionError", "kAFCNotConnectedError", "kAFCTimeOutError",
    "kAFCOverrunError", "kAFCEOFError", "kAFCUnsupportedError", "kAFCFileExistsError", "kAFCBusyError",
    "kAFCNoSpaceError", "kAFCWouldBlockError", "kAFCInputOutputError", "kAFCInterruptedError",
    "kAFCInProgressError", "kAFCInternalError"
};

inline constexpr std::array<const char*, 157> kMobileDeviceErrorNames = {
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
    "kAMDiTunesArtworkCaptureFailedError", "kAMDiTunesMetadataCaptureFailedError", "kAMDAlreadyArchivedError",
    "kAMDServiceLimitError", "kAMDInvalidPairRecordError", "kAMDServiceProhibitedError",
    "kAMDCheckinSetupFailedError", "kAMDCheckinConnectionFailedError", "kAMDCheckinReceiveFailedError",
    "kAMDCheckinResponseFailedError", "kAMDCheckinSendFailedError", "kAMDMuxCreateListenerError",
    "kAMDMuxGetListenerError", "kAMDMuxConnectError", "kAMDUnknownCommandError", "kAMDAPIInternalError",
    "kAMDSavePairRecordFailedError", "kAMDCheckinOutOfMemoryError", "kAMDDeviceTooNewError",
    "kAMDDeviceRefNoGood", "kAMDCannotTranslateError", "kAMDMobileImageMounterMissingImageSignature",
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
    "kAMDInstallProhibitedError", "kAMDUninstallProhibitedError", "kAMDFMiPProtectedError", "kAMDMCProtected",
    "kAMDMCChallengeRequired", "kAMDMissingBundleVersionError"
};

}  // namespace devicefw

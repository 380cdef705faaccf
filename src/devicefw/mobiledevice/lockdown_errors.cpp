#include "mobiledevice/lockdown_errors.h"

namespace devicefw::md {

mach_error_t DeviceErrorFromLockdown(lockdownd_error_t error) {
  switch (error) {
    case LOCKDOWN_E_SUCCESS: return kAMDSuccess;
    case LOCKDOWN_E_INVALID_ARG: return kAMDInvalidArgumentError;
    case LOCKDOWN_E_PLIST_ERROR:
    case LOCKDOWN_E_DICT_ERROR:
    case LOCKDOWN_E_INVALID_RESPONSE: return kAMDInvalidResponseError;
    case LOCKDOWN_E_SSL_ERROR: return kAMDCryptoError;
    case LOCKDOWN_E_RECEIVE_TIMEOUT: return kAMDTimeOutError;
    case LOCKDOWN_E_MUX_ERROR: return kAMDMuxError;
    case LOCKDOWN_E_NO_RUNNING_SESSION:
    case LOCKDOWN_E_SESSION_INACTIVE: return kAMDSessionInactiveError;
    case LOCKDOWN_E_MISSING_KEY: return kAMDMissingKeyError;
    case LOCKDOWN_E_MISSING_VALUE: return kAMDMissingValueError;
    case LOCKDOWN_E_GET_PROHIBITED: return kAMDGetProhibitedError;
    case LOCKDOWN_E_SET_PROHIBITED: return kAMDSetProhibitedError;
    case LOCKDOWN_E_REMOVE_PROHIBITED: return kAMDRemoveProhibitedError;
    case LOCKDOWN_E_IMMUTABLE_VALUE: return kAMDImmutableValueError;
    case LOCKDOWN_E_PASSWORD_PROTECTED: return kAMDPasswordProtectedError;
    case LOCKDOWN_E_USER_DENIED_PAIRING: return kAMDUserDeniedPairingError;
    case LOCKDOWN_E_PAIRING_DIALOG_RESPONSE_PENDING: return kAMDPairingDialogResponsePendingError;
    case LOCKDOWN_E_MISSING_HOST_ID: return kAMDMissingHostIDError;
    case LOCKDOWN_E_INVALID_HOST_ID: return kAMDInvalidHostIDError;
    case LOCKDOWN_E_SESSION_ACTIVE: return kAMDSessionActiveError;
    case LOCKDOWN_E_MISSING_SESSION_ID: return kAMDMissingSessionIDError;
    case LOCKDOWN_E_INVALID_SESSION_ID: return kAMDInvalidSessionIDError;
    case LOCKDOWN_E_MISSING_SERVICE: return kAMDMissingServiceError;
    case LOCKDOWN_E_INVALID_SERVICE: return kAMDInvalidServiceError;
    case LOCKDOWN_E_SERVICE_LIMIT: return kAMDServiceLimitError;
    case LOCKDOWN_E_MISSING_PAIR_RECORD: return kAMDMissingPairRecordError;
    case LOCKDOWN_E_SAVE_PAIR_RECORD_FAILED: return kAMDSavePairRecordFailedError;
    case LOCKDOWN_E_INVALID_PAIR_RECORD: return kAMDInvalidPairRecordError;
    case LOCKDOWN_E_INVALID_ACTIVATION_RECORD: return kAMDInvalidActivationRecordError;
    case LOCKDOWN_E_MISSING_ACTIVATION_RECORD: return kAMDMissingActivationRecordError;
    case LOCKDOWN_E_SERVICE_PROHIBITED: return kAMDServiceProhibitedError;
    case LOCKDOWN_E_ESCROW_LOCKED: return kAMDEscrowLockedError;
    case LOCKDOWN_E_PAIRING_PROHIBITED_OVER_THIS_CONNECTION: return kAMDPairingProhibitedError;
    case LOCKDOWN_E_FMIP_PROTECTED: return kAMDFMiPProtectedError;
    case LOCKDOWN_E_MC_PROTECTED: return kAMDMCProtected;
    case LOCKDOWN_E_MC_CHALLENGE_REQUIRED: return kAMDMCChallengeRequired;
    default: return kAMDUndefinedError;
  }
}

}  // namespace devicefw::md

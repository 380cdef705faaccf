// Staging: copies a device database (with the -shm/-wal/-journal companions SQLite needs to see
// its latest committed state) or a property list from the device's media partition through AFC
// into the device's staging folder under the work folder, and records the local path in the
// device's slot. Content modules query only these local copies.
#pragma once

#include <string>

#include "devicefw/device_framework_abi.h"

class KorDevice;

// The files that can be staged.
enum class KorStagedFile {
  kPhotoLibrary,
  kMediaLibrary,
  kRecordingsDatabase,
  kMusicLibrary,  // Library.itdb and Locations.itdb together
  kITunesCdb,
  kRingtones,
  kRecordingsManifest,
  kBookList,
  kPurchasedBookList,
};

// The work folder + the device identifier + "/"; empty when the device has no identifier.
std::string KorDeviceStagingFolder(const KorDevice& device);

// Copies one entry of the staging table over `afc` (an open connection on the device's
// "com.apple.afc" service). True when the main file (for the music library, both main files)
// was copied. Companions that are missing on the device are skipped and leave older local
// copies in place; a failed main copy leaves the slot at its earlier value.
bool KorStageFile(KorDevice& device, AFCConnectionRef afc, KorStagedFile file);

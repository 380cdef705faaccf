// Collects the device's voice recordings from the staged voice-memo database, the staged
// recordings manifest and the recordings folder itself, each path once (the first source that
// yields it wins). The media module's listing (1002) and the plug-in platform function
// "LIBPLATFORM_RECORDING_QUERY_LIST" both send what this finds.
#pragma once

#include <mutex>
#include <vector>

#include "devicefw/device_framework_abi.h"
#include "utility/module/media/kor_voice_book_records.h"

class KorDevice;

// The listing's query of the voice-memo database.
extern const char kKorRecordingsSql[];

// 0 with the recordings in *out; 19 when the staged database does not open, 20 when its query
// cannot be prepared (both logged). Staging runs under `staging_mutex`. A file that cannot be
// staged contributes nothing.
int KorCollectRecordings(KorDevice& device, AFCConnectionRef afc, std::mutex* staging_mutex,
                         std::vector<KorRecording>* out);

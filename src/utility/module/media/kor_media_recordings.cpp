#include "utility/module/media/kor_media_recordings.h"

#include "utility/kor_listing.h"
#include "utility/kor_message.h"
#include "utility/module/media/kor_recording_collector.h"

int KorListRecordings(const KorMediaCommand& command) {
  std::vector<KorRecording> recordings;
  if (int rc = KorCollectRecordings(*command.device, command.afc, command.staging_mutex, &recordings)) return rc;
  KorListing listing(command.packet, command.uuid);
  listing.SetGroup(kKorMediaGroupRecordings);
  listing.SetInfo(KorCountInfo(static_cast<int64_t>(recordings.size())));
  if (int rc = listing.SendStage(1)) return rc;
  // One attachment holds the whole array: a device keeps a few hundred recordings at most.
  return listing.SendAttachment(2, KorRecordingsJson(recordings));
}

// What the observers of a backup extraction do with its event: pick out the database they use
// and tell the front-end where its copy is.
#pragma once

#include "utility/module/itunes/kor_backup_extract_event.h"

// The event's record when the event is "KOR_ITUNES_BACKUP_EXTRACT_FILE" and names `database`
// exactly; null for every other event or file.
const KorBackupExtractEvent* KorExtractEventFor(void* record, const char* event_name, const char* database);
// Keeps the path as the extraction task's text and sends the front-end a message (stage 2) for
// the task whose info is {key: path}.
void KorForwardExtractedPath(const KorBackupExtractEvent& event, const char* key);

// The exchange sequences of the synchronisation modules, each written once as data: how the
// greeting, the announcement and the finish replies are handled and which middle steps run.
// Every sequence runs through to its end; a dead connection makes each later exchange end at
// once, so a sequence never hangs on it.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "iOSAPI/kor_sync_session.h"

enum class KorSyncStepKind {
  kPullAll,   // "SDMessageGetAllRecordsFromDevice"
  kPullAhead, // kPullAll, then acknowledgements while batches come, read ahead of the handler
  kChanges,   // "SDMessageGetChangesFromDevice"
  kAck,       // one "SDMessageAcknowledgeChangesFromDevice"
  kDrain,     // acknowledgements of the device's change batches until it is ready to receive
  kPing,      // "DLMessagePing", nothing read
  kPush,      // "SDMessageProcessChanges" with what the module supplies for the state
};

struct KorSyncStep {
  KorSyncStepKind kind;
  KorSyncPolicy reply;
};

struct KorSyncSequence {
  KorSyncPolicy greeting;
  KorSyncPolicy announce;
  std::vector<KorSyncStep> middle;
  KorSyncPolicy finish;
};

// Fills the elements that follow the data class in the push for the handler state `state`
// (normally a dict of records); false when the module has nothing to push in that state.
using KorSyncPushSource = std::function<bool(int state, std::vector<std::string>* elements)>;

// Runs Greeting, Announce, the middle steps and Finish on an open session; a handler that ends
// the session stops it after the step that made it do so, and a device that fell silent stops it
// at once.
void KorRunSyncSequence(KorSyncSession& session, const KorSyncSequence& sequence, const std::string& computer_anchor,
                        const KorSyncPushSource& pushes);

// The sequences of the modules.
extern const KorSyncSequence kKorSyncContactsListAll;
extern const KorSyncSequence kKorSyncContactsWrite;
extern const KorSyncSequence kKorSyncContactsDelete;
extern const KorSyncSequence kKorSyncContactsAddGroup;
extern const KorSyncSequence kKorSyncContactsChangeGroup;
extern const KorSyncSequence kKorSyncCalendarsReadAll;
extern const KorSyncSequence kKorSyncCalendarsWrite;
extern const KorSyncSequence kKorSyncCalendarsDelete;
extern const KorSyncSequence kKorSyncBookmarksReadAll;
extern const KorSyncSequence kKorSyncBookmarksWrite;
extern const KorSyncSequence kKorSyncBookmarksDelete;
extern const KorSyncSequence kKorSyncNotesReadAll;
extern const KorSyncSequence kKorSyncNotesWrite;

// Handler states shared by the read-everything sequences.
constexpr int kKorSyncStateCollect = 0;
constexpr int kKorSyncStateMoreBatches = 1;

#include "iOSAPI/kor_sync_sequence.h"

namespace {

constexpr const char* kDeviceReady = "DLMessageDeviceReady";
constexpr const char* kWithComputer = "SDMessageSyncDataClassWithComputer";
constexpr const char* kProcessChanges = "SDMessageProcessChanges";
constexpr const char* kFinished = "SDMessageDeviceFinishedSession";
constexpr const char* kAcknowledge = "SDMessageAcknowledgeChangesFromDevice";

KorSyncStep PullAll() { return {KorSyncStepKind::kPullAll, KorModuleState(kKorSyncStateCollect)}; }
KorSyncStep PullAhead() { return {KorSyncStepKind::kPullAhead, KorModuleState(kKorSyncStateCollect)}; }
KorSyncStep Changes(KorSyncPolicy reply = KorWaitFor(kProcessChanges)) { return {KorSyncStepKind::kChanges, reply}; }
KorSyncStep Ack(KorSyncPolicy reply) { return {KorSyncStepKind::kAck, reply}; }
KorSyncStep Drain() { return {KorSyncStepKind::kDrain, KorReadOneIs(kProcessChanges)}; }
KorSyncStep Ping() { return {KorSyncStepKind::kPing, KorReadOne()}; }
KorSyncStep Push(int state) { return {KorSyncStepKind::kPush, KorModuleState(state)}; }

// A device that sent changes would go on sending them forever if it lied; the drain gives up here.
constexpr int kMaxDrainedBatches = 1 << 16;

// The steps that bring the device into the state in which it accepts changes. The device answers
// the acknowledgement of each change batch with the next batch and that of the last batch with
// "SDMessageDeviceReadyToReceiveChanges" (libimobiledevice's mobilesync client acknowledges every
// batch and then expects exactly that message): acknowledging until a reply is no further batch
// serves a device with one batch of changes as well as one with several, and never waits for a
// batch that does not come.
std::vector<KorSyncStep> PrepareToPush() { return {Changes(), Drain(), Ping()}; }

std::vector<KorSyncStep> With(std::vector<KorSyncStep> steps, std::initializer_list<KorSyncStep> more) {
  steps.insert(steps.end(), more);
  return steps;
}

void RunStep(KorSyncSession& session, const KorSyncStep& step, const KorSyncPushSource& pushes) {
  switch (step.kind) {
    case KorSyncStepKind::kPullAll:
      session.Exchange("SDMessageGetAllRecordsFromDevice", step.reply);
      return;
    case KorSyncStepKind::kPullAhead:
      // The handler takes the first batch in the collect state and each further one in the
      // more-batches state, as after a pull and an acknowledgement loop.
      session.ReadBatchesAhead("SDMessageGetAllRecordsFromDevice", step.reply.state, kKorSyncStateMoreBatches);
      return;
    case KorSyncStepKind::kChanges:
      session.Exchange("SDMessageGetChangesFromDevice", step.reply);
      return;
    case KorSyncStepKind::kAck:
      session.Exchange("SDMessageAcknowledgeChangesFromDevice", step.reply);
      return;
    case KorSyncStepKind::kDrain:
      for (int batches = 0; batches < kMaxDrainedBatches && session.Exchange(kAcknowledge, step.reply) != 0; ++batches) {
      }
      return;
    case KorSyncStepKind::kPing:
      session.SendOnly("DLMessagePing");
      return;
    case KorSyncStepKind::kPush: {
      std::vector<std::string> elements;
      if (pushes && pushes(step.reply.state, &elements)) session.ExchangeWith(kProcessChanges, elements, step.reply);
      return;
    }
  }
}

}  // namespace

void KorRunSyncSequence(KorSyncSession& session, const KorSyncSequence& sequence, const std::string& computer_anchor,
                        const KorSyncPushSource& pushes) {
  session.Greeting(sequence.greeting);
  session.Announce(computer_anchor, sequence.announce);
  for (const KorSyncStep& step : sequence.middle) {
    // A silent device gets nothing more, not even the module's pushes built.
    if (session.DeviceSilent()) return;
    RunStep(session, step, pushes);
    if (session.HandlerEndsSession()) return;
  }
  session.Exchange("SDMessageFinishSessionOnDevice", sequence.finish);
}

const KorSyncSequence kKorSyncContactsListAll{KorWaitFor(kDeviceReady), KorReadOne(), {PullAhead()}, KorReadOne()};
const KorSyncSequence kKorSyncContactsWrite{
    KorWaitFor(kDeviceReady), KorReadOne(),
    With(PrepareToPush(), {Push(2), Push(3), Push(4), Push(5), Push(6), Push(7), Push(8), Push(9)}),
    KorWaitFor(kFinished)};
const KorSyncSequence kKorSyncContactsDelete{KorWaitFor(kDeviceReady), KorWaitFor(kWithComputer),
                                             With(PrepareToPush(), {Push(10)}), KorWaitFor(kFinished)};
const KorSyncSequence kKorSyncContactsAddGroup{KorWaitFor(kDeviceReady), KorWaitFor(kWithComputer),
                                               With(PrepareToPush(), {Push(10), Push(11)}), KorWaitFor(kFinished)};
const KorSyncSequence kKorSyncContactsChangeGroup{KorWaitFor(kDeviceReady), KorWaitFor(kWithComputer),
                                                  With(PrepareToPush(), {Push(11)}), KorWaitFor(kFinished)};
const KorSyncSequence kKorSyncCalendarsReadAll{KorWaitFor(kDeviceReady), KorReadOne(), {PullAhead()},
                                               KorReadOne()};
const KorSyncSequence kKorSyncCalendarsWrite{KorWaitFor(kDeviceReady), KorWaitFor(kWithComputer),
                                             With(PrepareToPush(), {Push(2), Push(3), Push(4), Push(5)}),
                                             KorWaitFor(kFinished)};
const KorSyncSequence kKorSyncCalendarsDelete{KorWaitFor(kDeviceReady), KorWaitFor(kWithComputer),
                                              With(PrepareToPush(), {Push(6)}), KorWaitFor(kFinished)};
const KorSyncSequence kKorSyncBookmarksReadAll{KorWaitFor(kDeviceReady), KorReadOne(),
                                               {PullAll(), Ack(KorReadOne())}, KorReadOne()};
const KorSyncSequence kKorSyncBookmarksWrite{KorWaitFor(kDeviceReady), KorReadOne(),
                                             With(PrepareToPush(), {Push(2)}), KorWaitFor(kFinished)};
const KorSyncSequence kKorSyncBookmarksDelete{KorWaitFor(kDeviceReady), KorWaitFor(kWithComputer),
                                              With(PrepareToPush(), {Push(3)}), KorWaitFor(kFinished)};
// The note service answers every exchange with exactly one reply.
const KorSyncSequence kKorSyncNotesReadAll{KorReadOne(), KorReadOne(), {PullAll(), Ack(KorReadOne())}, KorReadOne()};
const KorSyncSequence kKorSyncNotesWrite{KorReadOne(), KorReadOne(),
                                         {Changes(KorReadOne()), Ack(KorReadOne()), Ping(), Push(1)}, KorReadOne()};

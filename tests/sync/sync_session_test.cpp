// The synchronisation session against a scripted device: the greeting's wait, the batches of a
// listing and their acknowledgements, the length bounds, and a connection that dies mid-way.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <thread>

#include "framework_environment.h"
#include "iOSAPI/kor_plist_xml.h"
#include "iOSAPI/kor_sync_records.h"
#include "iOSAPI/kor_sync_reply_worker.h"
#include "iOSAPI/kor_sync_sequence.h"
#include "scripted_device.h"

namespace {

constexpr const char* kAnchor = "2027-01-01 09:03:04 +0100";

std::string Contact(const std::string& name) { return KorPlistDict({{"first name", KorPlistString(name)}}); }

// One ProcessChanges batch with records named id<first> … id<first+count-1>.
std::vector<std::string> Batch(int first, int count, bool more, const char* name = "SDMessageProcessChanges") {
  std::vector<std::pair<std::string, std::string>> records;
  for (int i = first; i < first + count; ++i) records.push_back({"id" + std::to_string(i), Contact("N" + std::to_string(i))});
  return {KorPlistString(name), KorPlistString("com.apple.Contacts"), KorPlistDict(records), KorPlistBool(more),
          KorPlistDict({{"SyncDeviceLinkEntityNamesKey", KorPlistArray({KorPlistString("com.apple.contacts.Contact")})},
                        {"SyncDeviceLinkAllRecordsOfPulledEntityTypeSentKey", KorPlistBool(!more)}})};
}

// Plays the device through the greeting and the announcement; returns the announcement.
KorValue PlayGreeting(ScriptedDevice& device, bool unrelated_first) {
  device.Send({KorPlistString("DLMessageVersionExchange"), KorPlistInteger(300), KorPlistInteger(100)});
  KorValue version = device.Read();
  EXPECT_EQ(KorDLMessageName(version), "DLMessageVersionExchange");
  if (unrelated_first) device.Send({KorPlistString("DLMessagePing"), KorPlistString("Preparing to get changes")});
  device.Send({KorPlistString("DLMessageDeviceReady")});
  KorValue announce = device.Read();
  device.Send({KorPlistString("SDMessageSyncDataClassWithComputer"), KorPlistString("com.apple.Contacts")});
  return announce;
}

// Plays a listing in `batches` batches of `per_batch` records; returns the acknowledgements seen.
int PlayListing(ScriptedDevice& device, int batches, int per_batch, const char* batch_name) {
  EXPECT_EQ(KorDLMessageName(device.Read()), "SDMessageGetAllRecordsFromDevice");
  int acks = 0;
  for (int b = 0; b < batches; ++b) {
    device.Send(Batch(b * per_batch, per_batch, b + 1 < batches, batch_name));
    KorValue next = device.Read();
    if (KorDLMessageName(next) != "SDMessageAcknowledgeChangesFromDevice") return acks;
    ++acks;
  }
  device.Send({KorPlistString("SDMessageDeviceReadyToReceiveChanges"), KorPlistString("com.apple.Contacts")});
  EXPECT_EQ(KorDLMessageName(device.Read()), "SDMessageFinishSessionOnDevice");
  device.Send({KorPlistString("SDMessageDeviceFinishedSession"), KorPlistString("com.apple.Contacts")});
  return acks;
}

// The host's side of a contact listing on a thread of its own.
std::thread StartListing(ScriptedDevice& device, KorSyncReplyHandler* handler, size_t max_piece = 0) {
  return std::thread([handler, io = device.HostIo(max_piece)] {
    KorSyncSession session(io, kKorSyncContacts, handler);
    KorRunSyncSequence(session, kKorSyncContactsListAll, kAnchor, nullptr);
  });
}

struct ListingRun {
  KorSyncBatchCollector collector;
  std::thread host;
  void Start(ScriptedDevice& device) { host = StartListing(device, &collector, 3); }
};

TEST(SyncSessionTest, AnnouncementCarriesClassAnchorVersionAndNoDeviceAnchor) {
  REQUIRE_FRAMEWORK();
  ScriptedDevice device;
  ListingRun run;
  run.Start(device);
  KorValue announce = PlayGreeting(device, false);
  ASSERT_TRUE(announce.IsArray());
  const auto& items = announce.AsArray();
  ASSERT_EQ(items.size(), 6u);
  EXPECT_EQ(items[0].AsString(), "SDMessageSyncDataClassWithDevice");
  EXPECT_EQ(items[1].AsString(), "com.apple.Contacts");
  EXPECT_EQ(items[2].AsString(), "Contacts-Device-Anchor");
  EXPECT_EQ(items[3].AsString(), kAnchor);
  EXPECT_EQ(items[4].AsInteger(), 106);
  EXPECT_EQ(items[5].AsString(), "___EmptyParameterString___");
  PlayListing(device, 1, 1, "SDMessageProcessChanges");
  run.host.join();
}

TEST(SyncSessionTest, ListingBatchesGetOneAcknowledgementEachAndKeepArrivalOrder) {
  REQUIRE_FRAMEWORK();
  for (int batches : {1, 3}) {
    SCOPED_TRACE(batches);
    ScriptedDevice device;
    ListingRun run;
    run.Start(device);
    // An unrelated message before DeviceReady is read past; names match ignoring case.
    PlayGreeting(device, true);
    EXPECT_EQ(PlayListing(device, batches, 2, "sdmessageprocesschanges"), batches);
    run.host.join();
    const auto& records = run.collector.Records();
    ASSERT_EQ(records.size(), static_cast<size_t>(2 * batches));
    for (int i = 0; i < 2 * batches; ++i) {
      EXPECT_EQ(records[i].id, "id" + std::to_string(i));
      EXPECT_EQ(records[i].fields.AsDictionary()->Get("first name").AsString(), "N" + std::to_string(i));
    }
  }
}

class CountingHandler : public KorSyncReplyHandler {
 public:
  void OnReply(int, const KorValue&, bool*, int32_t* result) override {
    ++calls;
    *result = 7;
  }
  int calls = 0;
};

TEST(SyncSessionTest, LengthOutsideBoundsEndsTheExchangeWithoutReadingABody) {
  REQUIRE_FRAMEWORK();
  for (uint32_t length : {0u, 0xA00001u}) {
    SCOPED_TRACE(length);
    std::string input = BigEndian(length) + "body";
    CountingHandler handler;
    KorSyncSession session(MemoryIo(&input), kKorSyncContacts, &handler);
    EXPECT_EQ(session.Exchange("SDMessageGetAllRecordsFromDevice", KorModuleState(0)), 0);
    EXPECT_EQ(handler.calls, 0);
    EXPECT_EQ(input, "body");
  }
}

TEST(SyncSessionTest, RepliesThatAreNotArraysAreIgnored) {
  REQUIRE_FRAMEWORK();
  const std::string dict = KorPlistDocument("<dict/>", KorPlistDoctype::kApple);
  std::string input = BigEndian(static_cast<uint32_t>(dict.size())) + dict + BigEndian(3) + "xyz";
  CountingHandler handler;
  KorSyncSession session(MemoryIo(&input), kKorSyncContacts, &handler);
  EXPECT_EQ(session.Exchange("SDMessageGetAllRecordsFromDevice", KorModuleState(0)), 0);
  EXPECT_EQ(session.Exchange("SDMessageGetAllRecordsFromDevice", KorModuleState(0)), 0);
  EXPECT_EQ(handler.calls, 0);
}

TEST(SyncSessionTest, DeadConnectionRunsEverySequenceThrough) {
  REQUIRE_FRAMEWORK();
  for (const KorSyncSequence* sequence : {&kKorSyncContactsListAll, &kKorSyncContactsWrite, &kKorSyncContactsAddGroup,
                                          &kKorSyncCalendarsWrite, &kKorSyncNotesWrite, &kKorSyncBookmarksDelete}) {
    ScriptedDevice device;
    KorSyncBatchCollector collector;
    int pushes = 0;
    std::thread host([&, io = device.HostIo()] {
      KorSyncSession session(io, kKorSyncContacts, &collector);
      KorRunSyncSequence(session, *sequence, kAnchor, [&pushes](int, std::vector<std::string>* elements) {
        ++pushes;
        elements->push_back(KorPlistDict({{"h1", Contact("X")}}));
        return true;
      });
    });
    device.Send({KorPlistString("DLMessageVersionExchange"), KorPlistInteger(300), KorPlistInteger(100)});
    device.Read();
    device.Hangup();
    host.join();
    EXPECT_TRUE(collector.Records().empty());
    // The write sequences still reach their pushes after the connection died.
    EXPECT_EQ(pushes > 0, sequence != &kKorSyncContactsListAll);
  }
}

// A connection whose receive gives up after `wait` with nothing (as a socket time-out makes it do)
// and that counts the host's messages (each goes out as a length, then a body).
KorServiceIo SilentIo(std::chrono::milliseconds wait, int* sends, int* receives) {
  KorServiceIo io;
  io.send = [sends](const void*, size_t length) {
    ++*sends;
    return static_cast<int64_t>(length);
  };
  io.receive = [wait, receives](void*, size_t) -> int64_t {
    ++*receives;
    std::this_thread::sleep_for(wait);
    return -1;
  };
  return io;
}

TEST(SyncSessionTest, AReplyThatDoesNotComeWithinTheTimeOutEndsTheSession) {
  REQUIRE_FRAMEWORK();
  for (const KorSyncSequence* sequence : {&kKorSyncContactsListAll, &kKorSyncContactsWrite}) {
    int sends = 0, receives = 0, pushes = 0;
    KorSyncBatchCollector collector;
    KorSyncSession session(SilentIo(std::chrono::milliseconds(30), &sends, &receives), kKorSyncContacts, &collector,
                           std::chrono::milliseconds(30));
    KorRunSyncSequence(session, *sequence, kAnchor, [&pushes](int, std::vector<std::string>*) { return ++pushes > 0; });
    // The device's first message never came: nothing was sent, nothing more read or pushed.
    EXPECT_TRUE(session.DeviceSilent());
    EXPECT_EQ(receives, 1);
    EXPECT_EQ(sends, 0);
    EXPECT_EQ(pushes, 0);
  }
  // A receive that fails at once is a dead connection, not a silent device: the sequence goes on
  // sending its messages, as before.
  int sends = 0, receives = 0;
  KorSyncBatchCollector collector;
  KorSyncSession session(SilentIo(std::chrono::milliseconds(0), &sends, &receives), kKorSyncContacts, &collector,
                         std::chrono::milliseconds(200));
  KorRunSyncSequence(session, kKorSyncContactsListAll, kAnchor, nullptr);
  EXPECT_FALSE(session.DeviceSilent());
  EXPECT_GT(sends, 4);
}

// The device answers the acknowledgement of each change batch with the next one and that of the
// last with "SDMessageDeviceReadyToReceiveChanges"; the write sequences acknowledge every batch
// and push once the device is ready, whether it had one batch of changes or two.
TEST(SyncSessionTest, WriteAcknowledgesEveryChangeBatchThenPushes) {
  REQUIRE_FRAMEWORK();
  for (int change_batches : {1, 2}) {
    SCOPED_TRACE(change_batches);
    ScriptedDevice device;
    int pushes = 0;
    std::thread host([&pushes, io = device.HostIo()] {
      KorSyncSession session(io, kKorSyncContacts, nullptr);
      KorRunSyncSequence(session, kKorSyncContactsDelete, kAnchor, [&pushes](int, std::vector<std::string>* elements) {
        ++pushes;
        elements->push_back(KorPlistDict({{"7", KorPlistString(kKorDLEmptyParameter)}}));
        return true;
      });
    });
    PlayGreeting(device, false);
    EXPECT_EQ(KorDLMessageName(device.Read()), "SDMessageGetChangesFromDevice");
    for (int b = 0; b < change_batches; ++b) {
      device.Send(Batch(0, 0, b + 1 < change_batches));
      EXPECT_EQ(KorDLMessageName(device.Read()), "SDMessageAcknowledgeChangesFromDevice");
    }
    device.Send({KorPlistString("SDMessageDeviceReadyToReceiveChanges"), KorPlistString("com.apple.Contacts")});
    EXPECT_EQ(KorDLMessageName(device.Read()), "DLMessagePing");
    KorValue push = device.Read();
    EXPECT_EQ(KorDLMessageName(push), "SDMessageProcessChanges");
    device.Send({KorPlistString("SDMessageRemapRecordIdentifiers"), KorPlistString("com.apple.Contacts"), "<dict/>"});
    EXPECT_EQ(KorDLMessageName(device.Read()), "SDMessageFinishSessionOnDevice");
    device.Send({KorPlistString("SDMessageDeviceFinishedSession"), KorPlistString("com.apple.Contacts")});
    host.join();
    EXPECT_EQ(pushes, 1);
  }
}

// Holds its first reply until released (or a generous time has passed), then notes every reply's
// state and name in order.
class HeldHandler : public KorSyncReplyHandler {
 public:
  void OnReply(int state, const KorValue& reply, bool* again, int32_t* result) override {
    std::unique_lock<std::mutex> lock(mutex_);
    if (seen.empty()) released_in_time = released_.wait_for(lock, std::chrono::seconds(10), [this] { return open_; });
    seen.push_back({state, KorDLMessageName(reply)});
    *again = true;
    *result = 0;
  }
  void Release() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      open_ = true;
    }
    released_.notify_all();
  }
  std::vector<std::pair<int, std::string>> seen;
  bool released_in_time = false;

 private:
  std::mutex mutex_;
  std::condition_variable released_;
  bool open_ = false;
};

// Batches are acknowledged while the handler is still taking an earlier one; it still gets every
// reply in order (the first in the collect state), and the messages are those of a pull followed
// by one acknowledgement per batch. The handler's result and requests for more replies are not
// what ends the loop: the first reply that is no batch is.
TEST(SyncSessionTest, ListingAcknowledgesBatchesAheadOfTheHandler) {
  REQUIRE_FRAMEWORK();
  ScriptedDevice device;
  HeldHandler handler;
  std::thread host = StartListing(device, &handler);
  PlayGreeting(device, false);
  EXPECT_EQ(KorDLMessageName(device.Read()), "SDMessageGetAllRecordsFromDevice");
  for (int b = 0; b < 3; ++b) {
    device.Send(Batch(2 * b, 2, b < 2));
    EXPECT_EQ(KorDLMessageName(device.Read()), "SDMessageAcknowledgeChangesFromDevice");
  }
  device.Send({KorPlistString("SDMessageDeviceReadyToReceiveChanges"), KorPlistString("com.apple.Contacts")});
  // The session finishes only once the handler has taken every reply.
  handler.Release();
  EXPECT_EQ(KorDLMessageName(device.Read()), "SDMessageFinishSessionOnDevice");
  device.Send({KorPlistString("SDMessageDeviceFinishedSession"), KorPlistString("com.apple.Contacts")});
  host.join();
  EXPECT_TRUE(handler.released_in_time);
  const std::vector<std::pair<int, std::string>> expected{
      {kKorSyncStateCollect, "SDMessageProcessChanges"},
      {kKorSyncStateMoreBatches, "SDMessageProcessChanges"},
      {kKorSyncStateMoreBatches, "SDMessageProcessChanges"},
      {kKorSyncStateMoreBatches, "SDMessageDeviceReadyToReceiveChanges"}};
  EXPECT_EQ(handler.seen, expected);
}

// A pull answered by something other than a batch still gets one acknowledgement, as the
// acknowledgement loop always sent one; a cancellation then ends the listing.
TEST(SyncSessionTest, ListingThatGetsNoBatchSendsOneAcknowledgement) {
  REQUIRE_FRAMEWORK();
  ScriptedDevice device;
  KorSyncBatchCollector collector;
  std::thread host = StartListing(device, &collector);
  PlayGreeting(device, false);
  EXPECT_EQ(KorDLMessageName(device.Read()), "SDMessageGetAllRecordsFromDevice");
  device.Send({KorPlistString("SDMessagePing"), KorPlistString("com.apple.Contacts")});
  EXPECT_EQ(KorDLMessageName(device.Read()), "SDMessageAcknowledgeChangesFromDevice");
  device.Send({KorPlistString("SDMessageCancelSession"), KorPlistString("com.apple.Contacts"), KorPlistString("x")});
  EXPECT_EQ(KorDLMessageName(device.Read()), "SDMessageFinishSessionOnDevice");
  device.Send({KorPlistString("SDMessageDeviceFinishedSession"), KorPlistString("com.apple.Contacts")});
  host.join();
  EXPECT_TRUE(collector.Records().empty());
}

class OrderHandler : public KorSyncReplyHandler {
 public:
  void OnReply(int state, const KorValue&, bool*, int32_t*) override {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
    states.push_back(state);
    if (taking.fetch_add(1) != 0) overlapped = true;
    taking.fetch_sub(1);
  }
  std::vector<int> states;
  std::atomic<int> taking{0};
  bool overlapped = false;
};

// The worker hands replies over one at a time in queue order, and its end waits for all of them
// even when the queue is full and the handler slow.
TEST(SyncReplyWorkerTest, RepliesReachTheHandlerInOrderBeforeTheWorkerEnds) {
  REQUIRE_FRAMEWORK();
  OrderHandler handler;
  {
    KorSyncReplyWorker worker(&handler, 2);
    const std::string array = KorPlistDocument(KorPlistArray({KorPlistString("x")}), KorPlistDoctype::kApple);
    for (int i = 0; i < 20; ++i) worker.Queue(i, KorXmlToPropertyList(array));
  }
  std::vector<int> expected;
  for (int i = 0; i < 20; ++i) expected.push_back(i);
  EXPECT_EQ(handler.states, expected);
  EXPECT_FALSE(handler.overlapped);
}

TEST(SyncRecordsTest, RemapTakesStringEntriesOfEveryDict) {
  KorValue::Array items{KorValue::String("x")};
  auto first = CIOSDictionary::Create();
  first->Set("h1", KorValue::String("d1"));
  first->Set("skip", KorValue::Int32(3));
  auto second = CIOSDictionary::Create();
  second->Set("h2", KorValue::String("d2"));
  items.push_back(KorValue::MakeDictionary(first));
  items.push_back(KorValue::MakeDictionary(second));
  std::map<std::string, std::string> remap;
  KorSyncCollectRemap(KorValue::MakeArray(items), &remap);
  EXPECT_EQ(remap, (std::map<std::string, std::string>{{"h1", "d1"}, {"h2", "d2"}}));
}

}  // namespace

// What the synchronisation modules' commands share: one session on a fresh
// `com.apple.mobilesync` connection that runs one sequence, the listing count of a class, and
// the command's parameters.
#pragma once

#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "iOSAPI/kor_sync_data_class.h"
#include "iOSAPI/kor_sync_sequence.h"

class KorDevice;
class KorDeviceService;

// The service could not be started; nothing was sent.
constexpr int32_t kKorSyncNoService = 13;
constexpr const char* kKorSyncServiceName = "com.apple.mobilesync";

// How long a session waits for one piece of a reply before it takes the device as no longer
// answering (a device that stops answering without closing the connection would otherwise hold
// the command forever): half a minute, like the front-end link's send time-out.
// TANDREL_SYNC_REPLY_TIMEOUT_MS overrides it (tests).
constexpr std::chrono::milliseconds kKorSyncDefaultReplyTimeout{30000};
std::chrono::milliseconds KorSyncReplyTimeout();

// Starts the service, runs the sequence with a fresh computer anchor and releases the
// connection: 0, or kKorSyncNoService. With `keep_service`, the finished service (and the
// lockdown session it runs in) is handed out instead: a listing reads its count in that session
// and closes both only after its final reply, so that the front-end does not wait for them.
int KorRunDeviceSync(const std::shared_ptr<KorDevice>& device, const KorSyncDataClass& data_class,
                     const KorSyncSequence& sequence, KorSyncReplyHandler* handler,
                     const KorSyncPushSource& pushes = nullptr,
                     std::shared_ptr<KorDeviceService>* keep_service = nullptr);

// The count a listing announces: `records`, or -1 when there are none and the device's
// synchronisation settings name the class (`settings_key`, e.g. "Notes") as synced elsewhere.
// The settings are read in the device's open lockdown session (the one the listing kept from
// its synchronisation), or in a new one.
int64_t KorSyncListingCount(const std::shared_ptr<KorDevice>& device, size_t records, const char* settings_key);

// The push that deletes one record: its identifier mapped to the protocol's empty value.
std::vector<std::string> KorSyncDeletionElements(const std::string& id);
// A push source that sends the same elements in every push state it is asked for.
KorSyncPushSource KorSyncPushOnce(std::vector<std::string> elements);

using KorSyncRemap = std::map<std::string, std::string>;
// {"<record kind>": {"<host identifier>": "<device identifier>", …}, …} for the tables that are
// not empty, in the given order.
std::string KorSyncRemapJson(const std::vector<std::pair<std::string, const KorSyncRemap*>>& tables);
// Every occurrence of `from` in `text` replaced by `to` (how later pushes of a write name a
// record by the identifier the device gave it).
std::string KorReplaceAll(std::string text, const std::string& from, const std::string& to);

// The contact listing (100) through a running Tandrel, command to final reply, on a simulated
// iPhone holding 5,000 contacts each with a phone number and an e-mail address (15,000 records
// in ProcessChanges batches of 100), beside libimobiledevice's own mobilesync client reading the
// same records from the same device in the same run (slow sync, every batch acknowledged, each
// record turned into text). Runs alternate; prints the medians and their ratio (the client's time
// over Tandrel's: 1.0 or more means Tandrel is no slower).
#include <rapidjson/document.h>

#include <cstdio>
#include <string>
#include <vector>

#include "bench_frontend.h"
#include "bench_support.h"
#include "device_session.h"
#include "mobilesync_reader.h"
#include "platform/kst_fs.h"
#include "platform/vel_json_util.h"
#include "sync_records.h"

namespace {

using namespace std::chrono_literals;

constexpr int kContacts = 5000;
constexpr size_t kRecords = 3 * kContacts;
constexpr int kRuns = 7;

// One listing; its time in ms, or negative when it did not list every contact with its records.
double TimeListing(frontend::Link& link, const std::string& udid, int64_t code) {
  const uint64_t task = bench::NextTaskId();
  const bench::Clock::time_point start = bench::Clock::now();
  if (!link.Send(100, task, frontend::DeviceCommandJson(udid, code))) return -1;
  std::vector<frontend::Message> replies = link.CollectUntilFinal(task, 120s);
  const double elapsed_ms = bench::SecondsSince(start) * 1000;
  if (replies.empty() || replies.back().status != 1 || replies.back().code != 0) return -1;
  size_t contacts = 0, phones = 0;
  for (const auto& reply : replies) {
    if (reply.command != 101 || reply.stage != 2) continue;
    rapidjson::Document part;
    if (!VelJsonUtil::Parse(reply.attachment, &part) || !part.IsObject()) return -1;
    for (const auto& contact : part.GetObject()) {
      ++contacts;
      auto numbers = contact.value.FindMember("com.apple.contacts.Phone Number");
      if (numbers != contact.value.MemberEnd() && numbers->value.IsArray()) phones += numbers->value.Size();
    }
  }
  return contacts == static_cast<size_t>(kContacts) && phones == contacts ? elapsed_ms : -1;
}

// libimobiledevice's mobilesync client reading every record; negative when it read fewer.
double TimeStockReading(const std::string& udid) {
  vdevice_test::DeviceSession session;
  const bench::Clock::time_point start = bench::Clock::now();
  if (session.Open(udid) != LOCKDOWN_E_SUCCESS) return -1;
  vdevice_test::MobileSyncReading reading = vdevice_test::ReadAllRecords(session, "com.apple.Contacts", 106);
  const double elapsed_ms = bench::SecondsSince(start) * 1000;
  return reading.error == 0 && reading.records.size() == kRecords ? elapsed_ms : -1;
}

int Run() {
  vdevice_test::VdeviceFixture vd;
  const std::string profile = vd.MakeProfile("demo");
  if (profile.empty() || !kst::WriteWholeFile(profile + "/mobilesync/com.apple.Contacts.json",
                                              vdevice_fixtures::ContactStoreJson(kContacts, 0))) {
    std::fprintf(stderr, "cannot generate the profile\n");
    return 1;
  }
  bench::ReadyDevice device;
  std::unique_ptr<harness::Tandrel> tandrel = bench::ServeAndStartTandrel(vd, profile, &device);
  if (!tandrel) return 1;
  const std::string& udid = device.udid;
  // A first run of each warms the store file and the connections; it is not counted.
  const double first_tandrel = TimeListing(tandrel->Link(), udid, device.code);
  const double first_stock = TimeStockReading(udid);
  std::vector<double> tandrel_ms, stock_ms;
  for (int run = 0; run < kRuns; ++run) {
    const double listed = TimeListing(tandrel->Link(), udid, device.code);
    const double read = TimeStockReading(udid);
    if (listed < 0 || read < 0 || first_tandrel < 0 || first_stock < 0) {
      std::fprintf(stderr, "a run did not read all %d contacts (Tandrel %.1f, client %.1f)\n%s", kContacts, listed,
                   read, vd.ServerLog().c_str());
      return 1;
    }
    tandrel_ms.push_back(listed);
    stock_ms.push_back(read);
  }
  const bench::LatencySummary listing = bench::Summarize(tandrel_ms);
  const bench::LatencySummary stock = bench::Summarize(stock_ms);
  std::printf("contacts_bench: %d contacts, %zu records in batches of 100, %d alternating runs\n", kContacts,
              kRecords, kRuns);
  std::printf("%-48s %10s %10s\n", "", "median ms", "p90 ms");
  std::printf("%-48s %10.1f %10.1f\n", "Tandrel 100, command to final reply", listing.median_ms, listing.p90_ms);
  std::printf("%-48s %10.1f %10.1f\n", "libimobiledevice mobilesync client (baseline)", stock.median_ms, stock.p90_ms);
  std::printf("ratio (baseline / Tandrel, target >= 1.0): median %.2f, p90 %.2f\n", stock.median_ms / listing.median_ms,
              stock.p90_ms / listing.p90_ms);
  return 0;
}

}  // namespace

int main() { return Run(); }

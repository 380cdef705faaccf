// The messages listing (201) of a database with 100,000 messages in 2,000 conversations: from
// command to final reply through a running Tandrel, against the sqlite3 command-line shell running
// the listing's two queries on the same file (the baseline), alternately in the same run. Then,
// in this process, where Tandrel's time goes: the queries alone, building the conversations, the
// JSON text of every record and the deflate of every attachment.
#include <sys/wait.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "bench_frontend.h"
#include "bench_support.h"
#include "messages_database.h"
#include "utility/kor_message.h"
#include "tandrel_harness.h"
#include "utility/db/kor_sqlite.h"
#include "utility/module/sms/kor_sms_json.h"
#include "utility/module/sms/kor_sms_reader.h"

namespace {

using namespace std::chrono_literals;

constexpr int kConversations = 2000;
constexpr int kMessages = 100000;
constexpr int kRuns = 5;
constexpr size_t kBatch = 50;

constexpr const char* kMessagesSql =
    "select c.rowid,c.chat_identifier,m.rowid,m.text,m.date_read,m.date,m.is_read,m.is_from_me,m.is_sent,"
    "m.error,m.handle_id,h.id,m.subject,m.account,m.account_guid from message m left join chat_message_join cmj "
    "on  m.rowid = cmj.message_id left join  chat c on  cmj.chat_id = c.rowid left join handle h on "
    "m.handle_id = h.rowid order by m.date";
constexpr const char* kHandlesSql =
    "select c.rowid,c.chat_identifier,h.rowid,h.id,h.country,h.service from handle h left join chat_handle_join "
    "chj on h.rowid = chj.handle_id left join chat c on chj.chat_id = c.rowid";

// 201 once; seconds, or a negative number when the listing is not complete.
double TimeListing(frontend::Link& link, const std::string& path) {
  uint64_t task = bench::NextTaskId();
  std::string json = R"({"uuid":"","info":{"sms_db_path":")" + path + "\"}}";
  bench::Clock::time_point start = bench::Clock::now();
  if (!link.Send(201, task, json)) return -1;
  std::vector<frontend::Message> replies = link.CollectUntilFinal(task, 120s);
  double seconds = bench::SecondsSince(start);
  size_t conversations = 0;
  for (const frontend::Message& reply : replies) conversations += reply.stage == 2 ? 1 : 0;
  bool complete = !replies.empty() && replies.back().status == 1 && conversations == kConversations;
  return complete ? seconds : -1;
}

// The shell reading both queries' rows and writing them out (to /dev/null).
double TimeShell(const std::string& path) {
  std::string command = "sqlite3 '" + path + "' '" + kMessagesSql + ";' '" + kHandlesSql + ";' > /dev/null";
  bench::Clock::time_point start = bench::Clock::now();
  int status = std::system(command.c_str());
  double seconds = bench::SecondsSince(start);
  return status == 0 ? seconds : -1;
}

double StepAll(const KorSqliteDatabase& db, const char* sql, int columns) {
  bench::Clock::time_point start = bench::Clock::now();
  KorSqliteStatement rows;
  if (KorPrepareStatement(db, sql, &rows) != 0) return -1;
  size_t bytes = 0;
  while (rows.Step()) {
    for (int column = 0; column < columns; ++column) bytes += rows.Text(column).size();
  }
  double seconds = bench::SecondsSince(start);
  return bytes ? seconds : -1;
}

struct Breakdown {
  double query = 0, build = 0, json = 0, deflate = 0;
  size_t json_bytes = 0, deflated_bytes = 0;
};

bool MeasureBreakdown(const std::string& path, Breakdown* out) {
  KorSqliteDatabase db;
  if (KorOpenDatabase(path, &db, KorDbOpenMode::kReadOnly) != 0) return false;
  out->query = StepAll(db, kMessagesSql, 15) + StepAll(db, kHandlesSql, 6);
  bench::Clock::time_point start = bench::Clock::now();
  KorSmsConversationList conversations;
  if (KorSmsReadDatabase(path, &conversations) != 0) return false;
  out->build = bench::SecondsSince(start) - out->query;

  // As the module does it: one batch text reused, each attachment compressed as soon as it is written.
  std::string text;
  std::vector<uint8_t> deflated;
  auto compress = [&] {
    bench::Clock::time_point begin = bench::Clock::now();
    KorCompressAttachment(reinterpret_cast<const uint8_t*>(text.data()), text.size(), &deflated);
    out->deflate += bench::SecondsSince(begin);
    out->json_bytes += text.size();
    out->deflated_bytes += deflated.size();
    text.clear();
  };
  for (const auto& conversation : conversations) {
    start = bench::Clock::now();
    text = KorSmsConversationJson(*conversation);
    out->json += bench::SecondsSince(start);
    compress();
    size_t in_batch = 0;
    start = bench::Clock::now();
    for (const auto& message : conversation->messages) {
      text += in_batch ? ',' : '[';
      KorSmsAppendMessageJson(*message, &text);
      if (++in_batch == kBatch || &message == &conversation->messages.back()) {
        text += ']';
        out->json += bench::SecondsSince(start);
        compress();
        in_batch = 0;
        start = bench::Clock::now();
      }
    }
  }
  return true;
}

int Run() {
  harness::TempFolder folder;
  std::string path = folder.Path() + "/sms.db";
  fixtures::MessagesDatabaseOptions options;
  options.conversations = kConversations;
  options.messages = kMessages;
  std::string error;
  if (!fixtures::WriteMessagesDatabase(path, options, &error)) {
    std::fprintf(stderr, "cannot write the database: %s\n", error.c_str());
    return 1;
  }
  harness::Tandrel tandrel;
  if (!tandrel.Start()) {
    std::fprintf(stderr, "Tandrel did not start\n");
    return 1;
  }
  // The shell's output goes to /dev/null: the reading side keeps the attachments compressed so
  // that it does not compete with Tandrel for the processors either.
  tandrel.Link().KeepCompressed(true);
  std::vector<double> tandrel_ms, shell_ms;
  for (int run = 0; run < kRuns; ++run) {
    double listing = TimeListing(tandrel.Link(), path);
    double shell = TimeShell(path);
    if (listing < 0 || shell < 0) {
      std::fprintf(stderr, "run %d failed (201: %.3f s, sqlite3: %.3f s)\n", run, listing, shell);
      return 1;
    }
    tandrel_ms.push_back(listing * 1000);
    shell_ms.push_back(shell * 1000);
  }
  bench::LatencySummary ours = bench::Summarize(tandrel_ms);
  bench::LatencySummary base = bench::Summarize(shell_ms);
  std::printf("messages_bench: %d messages in %d conversations, %d runs each, alternating\n", kMessages,
              kConversations, kRuns);
  std::printf("%-44s %10s %8s %8s\n", "path", "median ms", "p90 ms", "ratio");
  std::printf("%-44s %10.1f %8.1f %8.2f\n", "sqlite3 shell, the two queries (baseline)", base.median_ms,
              base.p90_ms, 1.0);
  std::printf("%-44s %10.1f %8.1f %8.2f\n", "Tandrel 201, command to final reply", ours.median_ms, ours.p90_ms,
              ours.median_ms / base.median_ms);

  Breakdown parts;
  if (!MeasureBreakdown(path, &parts)) {
    std::fprintf(stderr, "the breakdown could not read the database\n");
    return 1;
  }
  std::printf("where Tandrel's time goes (one run in this process):\n");
  std::printf("  %-40s %8.1f ms\n", "queries (step and read every column)", parts.query * 1000);
  std::printf("  %-40s %8.1f ms\n", "building conversations and dates", parts.build * 1000);
  std::printf("  %-40s %8.1f ms  (%zu bytes)\n", "JSON text of every record and batch", parts.json * 1000,
              parts.json_bytes);
  std::printf("  %-40s %8.1f ms  (%zu bytes out)\n", "compression of every attachment (send path)", parts.deflate * 1000,
              parts.deflated_bytes);
  std::printf("ratio = median / the baseline's median; the rest of 201's time is the link and the front-end\n");
  return 0;
}

}  // namespace

int main() {
  int code = Run();
  std::fflush(stdout);
  return code;
}

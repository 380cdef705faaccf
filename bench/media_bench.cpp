// The music-library listing (1000) of a simulated iPhone with 20,000 songs and 500 playlists,
// from command to final reply through a running Tandrel, beside the sqlite3 command-line shell
// running the listing's queries (items, playlists, each playlist's items) on the staged copy in
// the same run; then the music database reader on a generated iTunesCDB of about 50 MB.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "bench_frontend.h"
#include "bench_support.h"
#include "itunes_db_figures.h"
#include "media_library.h"
#include "platform/kst_fs.h"

namespace {

using namespace std::chrono_literals;

constexpr size_t kSongs = 20000;
constexpr size_t kPlaylists = 500;
constexpr int kRounds = 5;

const char kItemsSql[] =
    "select media_kind,i.item_pid, file_size, year,date_modified,comment,description_long,copyright,title,"
    "total_time_ms, i.media_type, a.album,a.album_pid, ia.item_artist,ia.item_artist_pid, g.genre,g.genre_id, "
    "bl.path || '/' || ie.location,bl.base_location_id from item as i left join item_extra as ie on ie.item_pid = "
    "i.item_pid left join album as a on a.album_pid = i.album_pid left join item_artist as ia on "
    "ia.item_artist_pid = i.item_artist_pid\t left join genre as g on g.genre_id = i.genre_id left join "
    "base_location as bl on bl.base_location_id = i.base_location_id order by title COLLATE NOCASE asc";
const char kPlaylistsSql[] =
    " SELECT container.container_pid,container.name,container.contained_media_type, container.parent_pid, "
    "container.smart_is_folder FROM container WHERE container.container_pid NOT IN  (SELECT primary_container_pid "
    "FROM db_info) AND container.is_hidden = 0 and name is not null";

using Device = bench::ReadyDevice;

// 1000 once; seconds to the final reply, negative unless every song and playlist was listed.
double TimeListing(frontend::Link& link, const Device& device) {
  uint64_t task = bench::NextTaskId();
  std::string json = "{\"uuid\":\"" + device.udid + "\",\"code\":" + std::to_string(device.code) + ",\"info\":{}}";
  bench::Clock::time_point start = bench::Clock::now();
  if (!link.Send(1000, task, json)) return -1;
  std::vector<frontend::Message> replies = link.CollectUntilFinal(task, 600s);
  double seconds = bench::SecondsSince(start);
  size_t song_batches = 0;
  size_t playlists = 0;
  for (const frontend::Message& reply : replies) {
    song_batches += reply.command == 1004 && reply.stage == 2 ? 1 : 0;
    playlists += reply.command == 1010 && reply.stage == 2 ? 1 : 0;
  }
  bool complete = !replies.empty() && replies.back().status == 1 && replies.back().code == 0 &&
                  song_batches == kSongs / 100 && playlists == kPlaylists;
  return complete ? seconds : -1;
}

// The shell's script: the items, the playlists, then each playlist's items.
std::string ShellScript(const fixtures::MediaLibraryPlan& plan) {
  std::string script = std::string(kItemsSql) + ";\n" + kPlaylistsSql + ";\n";
  for (const fixtures::MediaPlaylistPlan& playlist : plan.playlists) {
    script += "SELECT item_pid FROM container_item where container_pid = " + std::to_string(playlist.pid) + ";\n";
  }
  return script;
}

double TimeShell(const std::string& database, const std::string& script_path) {
  std::string command = "sqlite3 '" + database + "' < '" + script_path + "' > /dev/null";
  bench::Clock::time_point start = bench::Clock::now();
  int status = std::system(command.c_str());
  double seconds = bench::SecondsSince(start);
  return status == 0 ? seconds : -1;
}

double Best(const std::vector<double>& samples) {
  double best = -1;
  for (double sample : samples) {
    if (sample >= 0 && (best < 0 || sample < best)) best = sample;
  }
  return best;
}

int ReportListing() {
  vdevice_test::VdeviceFixture vd;
  std::string profile = vd.MakeProfile("music-iphone", "", "",
                                       {"--songs", std::to_string(kSongs), "--playlists", std::to_string(kPlaylists)});
  Device device;
  std::unique_ptr<harness::Tandrel> tandrel = bench::ServeAndStartTandrel(vd, profile, &device);
  if (!tandrel) return 1;

  std::string staged = tandrel->WorkFolder() + device.udid + "/MediaLibrary.sqlitedb";
  std::string script = vd.folder() + "/media_bench.sql";
  if (!kst::WriteWholeFile(script, ShellScript(fixtures::PlanMediaLibrary({kSongs, kPlaylists})))) return 1;

  fixtures::MediaLibraryPlan plan = fixtures::PlanMediaLibrary({kSongs, kPlaylists});
  std::vector<std::string> paths;
  for (const fixtures::MediaItemPlan& item : plan.items) paths.push_back(item.DevicePath());
  vd.ExportSocketAddress();
  bench::ReferenceAfcReader reference;
  if (!reference.Open(device.udid)) return 1;
  std::vector<double> listings, shells, lookups;
  for (int round = 0; round < kRounds; ++round) {
    listings.push_back(TimeListing(tandrel->Link(), device));
    shells.push_back(TimeShell(staged, script));
    lookups.push_back(reference.StatEach(paths));
  }
  double ours = Best(listings);
  double base = Best(shells);
  if (ours < 0 || base < 0) {
    std::fprintf(stderr, "a run failed (1000: %.3f s, sqlite3: %.3f s)\n", ours, base);
    return 1;
  }
  std::printf("media_bench: %zu songs, %zu playlists of 40 songs, best of %d interleaved rounds\n", kSongs,
              kPlaylists, kRounds);
  std::printf("%-54s %10s %8s\n", "path", "ms", "ratio");
  std::printf("%-54s %10.1f %8.2f\n", "sqlite3 shell, the same queries on the staged copy", base * 1000, 1.0);
  std::printf("%-54s %10.1f %8.2f\n", "Tandrel 1000, command to final reply (target <= 3x)", ours * 1000,
              ours / base);
  double lookup = Best(lookups);
  std::printf("%-54s %10.1f %8.2f\n", "libimobiledevice AFC, one file-information per song", lookup * 1000,
              lookup / base);
  std::printf("%-54s %10.1f %8.2f\n", "sqlite3 shell + those look-ups", (base + lookup) * 1000,
              ours / (base + lookup));
  std::printf("1000 includes copying the media library from the device and looking up every item's file,\n"
              "several look-ups in flight at once on each connection; the libimobiledevice line asks one file\n"
              "at a time; the last ratio is 1000 against the queries and those look-ups together\n");
  return 0;
}

}  // namespace

int main() {
  int code = ReportListing();
  std::fflush(stdout);
  std::printf("\nthe music database reader (target >= 200 MB/s plain):\n");
  code |= ReportItunesDbReader();
  std::fflush(stdout);
  return code;
}

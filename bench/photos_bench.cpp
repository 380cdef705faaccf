// The photo listings of a 100,000-asset iOS 16 library through a running Tandrel, from command to
// final reply, beside the sqlite3 shell running the same queries on the staged copy in the same
// run; and the staging of the library by Tandrel's device layer in this process beside
// libimobiledevice's AFC client downloading the same three files.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include <rapidjson/document.h>

#include "Tandrel/kor_process.h"
#include "bench_frontend.h"
#include "bench_support.h"
#include "device_monitor_fixture.h"
#include "platform/kst_fs.h"
#include "utility/ios/kor_device.h"
#include "utility/ios/kor_device_handles.h"
#include "utility/kor_database_staging.h"

namespace {

using namespace std::chrono_literals;

constexpr int kAssets = 100000;
constexpr int kRounds = 5;
constexpr int kStagingsPerRound = 4;

using Device = bench::ReadyDevice;

struct Listing {
  double seconds = -1;  // negative when it failed or listed nothing
  double tandrel_cpu = 0;
};

// The count that a listing's stage-1 message announces; -1 when there is none.
int64_t AnnouncedCount(const std::vector<frontend::Message>& replies) {
  for (const frontend::Message& reply : replies) {
    if (reply.stage != 1 || !reply.info) continue;
    rapidjson::Document info;
    info.Parse(reply.info->c_str());
    if (!info.HasParseError() && info.IsObject() && info.HasMember("Count") && info["Count"].IsInt64()) {
      return info["Count"].GetInt64();
    }
  }
  return -1;
}

// One listing command from sending to the final reply. The attachments are read but not inflated:
// the shell's output goes to /dev/null, and the reading side should not compete with Tandrel for
// the processors either.
Listing TimeListing(harness::Tandrel& tandrel, const Device& device, uint32_t command, bool refresh) {
  uint64_t task = bench::NextTaskId();
  std::string json = "{\"uuid\":\"" + device.udid + "\",\"code\":" + std::to_string(device.code) +
                     ",\"info\":{\"refresh\":" + (refresh ? "1" : "0") + "}}";
  bench::CpuMeter meter(tandrel.Pid(), 0);
  meter.Start();
  bench::Clock::time_point start = bench::Clock::now();
  if (!tandrel.Link().Send(command, task, json)) return Listing();
  std::vector<frontend::Message> replies = tandrel.Link().CollectUntilFinal(task, 300s);
  Listing listing;
  listing.seconds = bench::SecondsSince(start);
  listing.tandrel_cpu = meter.Stop().host;
  bool listed = replies.size() >= 2 && replies.back().status == 1 && replies.back().code == 0 &&
                AnnouncedCount(replies) > 0;
  if (!listed) listing.seconds = -1;
  return listing;
}

// The sqlite3 shell running `sql` on the staged file, its output thrown away; seconds.
double TimeShell(const std::string& database, const std::string& sql) {
  std::string script = database + ".bench.sql";
  if (!kst::WriteWholeFile(script, sql + ";\n")) return -1;
  std::string command = "sqlite3 '" + database + "' < '" + script + "' > /dev/null";
  bench::Clock::time_point start = bench::Clock::now();
  int status = std::system(command.c_str());
  double seconds = bench::SecondsSince(start);
  std::remove(script.c_str());
  return status == 0 ? seconds : -1;
}

const char* kPhotoSql =
    "SELECT a.Z_PK,a.ZSAVEDASSETTYPE,a.ZDIRECTORY || '/'||a.ZFILENAME,a.ZORIENTATION, a.ZADDITIONALATTRIBUTES,"
    "a.ZDATECREATED,a.ZMODIFICATIONDATE, t.ZORIGINALFILESIZE FROM ZASSET a left join ZADDITIONALASSETATTRIBUTES t "
    "on t.Z_PK = a.Z_PK WHERE 1=1 AND a.ZTRASHEDSTATE = 0 ORDER BY ZDATECREATED desc";

std::string AlbumSql() {
  std::string joined =
      "SELECT count(0),al.z_pk,al.ztitle,al.zkind FROM ZGENERICALBUM al,Z_28ASSETS z left join ZASSET zg on "
      "z.Z_3ASSETS = zg.z_pk left join ZADDITIONALASSETATTRIBUTES t on t.Z_PK = z.Z_3ASSETS WHERE";
  std::string tail = " AND z.z_28albums = al.z_pk AND  al.ZTRASHEDSTATE = 0 AND  zg.ZTRASHEDSTATE = 0 group by al.z_pk";
  std::string head = "SELECT count(0),0,'',0 FROM ZASSET WHERE ";
  return joined + " al.zkind ==1000" + tail + ";" + head + "zfavorite = 1 AND ZTRASHEDSTATE = 0;" + head +
         "ZKINDSUBTYPE = 10 AND ZTRASHEDSTATE = 0;" + head + "ZSAVEDASSETTYPE = 256 AND ZTRASHEDSTATE = 0;" + head +
         "ZKIND = 1 AND ZTRASHEDSTATE = 0;" +
         "SELECT count(0),0,'',0 FROM ZASSET a left join ZADDITIONALASSETATTRIBUTES t ON t.Z_PK = a.Z_PK WHERE 1= 1 "
         "AND a.ZTRASHEDSTATE = 1;" +
         head + "ZPLAYBACKSTYLE = 3 and ZTRASHEDSTATE=0 and ZSAVEDASSETTYPE != 8;" + head +
         "ZPLAYBACKSTYLE = 1 and ZAVALANCHEPICKTYPE = 52 and ZTRASHEDSTATE=0;" + joined +
         " al.ztitle is not null AND al.zkind !=1000" + tail;
}

// One staging of the photo library by Tandrel's device layer; seconds, negative on failure.
double TimeStaging(KorDevice& device, AFCConnectionRef afc) {
  bench::Clock::time_point start = bench::Clock::now();
  bool staged = KorStageFile(device, afc, KorStagedFile::kPhotoLibrary);
  double seconds = bench::SecondsSince(start);
  return staged ? seconds : -1;
}

double Best(const std::vector<Listing>& listings, double Listing::*field) {
  std::vector<double> samples;
  for (const Listing& listing : listings) samples.push_back(listing.seconds < 0 ? -1 : listing.*field);
  double best = -1;
  for (double sample : samples) {
    if (sample >= 0 && (best < 0 || sample < best)) best = sample;
  }
  return best;
}

double Best(const std::vector<double>& samples) {
  double best = -1;
  for (double sample : samples) {
    if (sample >= 0 && (best < 0 || sample < best)) best = sample;
  }
  return best;
}

void PrintRow(const char* what, double tandrel, const char* baseline_name, double baseline) {
  std::printf("%-28s %12.1f %-34s %12.1f %8.2f\n", what, tandrel * 1000, baseline_name, baseline * 1000,
              tandrel / baseline);
}

int Run() {
  vdevice_test::VdeviceFixture vd;
  std::string profile = vd.MakeProfile("photos-ios16", "", "", {"--assets", std::to_string(kAssets)});
  Device device;
  std::unique_ptr<harness::Tandrel> tandrel = bench::ServeAndStartTandrel(vd, profile, &device);
  if (!tandrel) return 1;
  bench::ReferenceAfcReader reference;
  if (!reference.Open(device.udid)) return 1;
  std::shared_ptr<KorDevice> local_device = StartDeviceMonitorInProcess(BENCH_REGISTRY_FILE, 60s);
  int afc_result = 0;
  auto afc = local_device ? KorDeviceHandles::Get().GetService(local_device->Device(), &afc_result, kKorAfcService,
                                                               nullptr, true)
                          : nullptr;
  if (!afc) {
    std::fprintf(stderr, "the device layer in this process found no file service\n");
    return 1;
  }
  KorProcess::Get().SetFolders(vd.folder(), vd.folder() + "/work/");

  tandrel->Link().KeepCompressed(true);
  std::vector<Listing> refreshed, photos, albums;
  std::vector<double> shell_photos, shell_albums, downloads, stagings;
  std::string staged = tandrel->WorkFolder() + device.udid + "/Photos.sqlite";
  for (int round = 0; round < kRounds; ++round) {
    refreshed.push_back(TimeListing(*tandrel, device, 400, true));
    photos.push_back(TimeListing(*tandrel, device, 400, false));
    albums.push_back(TimeListing(*tandrel, device, 401, false));
    shell_photos.push_back(TimeShell(staged, kPhotoSql));
    shell_albums.push_back(TimeShell(staged, AlbumSql()));
    // A staging takes a few tens of milliseconds, so it gets more samples than the listings.
    for (int pair = 0; pair < kStagingsPerRound; ++pair) {
      double download = 0;
      for (const char* suffix : {"", "-shm", "-wal"}) {
        bench::Transfer transfer = reference.ReadToFile(std::string("/PhotoData/Photos.sqlite") + suffix,
                                                        vd.folder() + "/reference" + suffix);
        download += transfer.ok ? transfer.seconds : 0;
      }
      downloads.push_back(download);
      stagings.push_back(TimeStaging(*local_device, afc->Afc()));
    }
  }
  double staging = Best(stagings);
  std::printf("photos_bench: %d assets (iOS 16 library), best of %d interleaved rounds, ms\n", kAssets, kRounds);
  std::printf("%-28s %12s %-34s %12s %8s\n", "Tandrel", "ms", "baseline", "ms", "ratio");
  double Listing::*elapsed = &Listing::seconds;
  PrintRow("400 photo list", Best(photos, elapsed), "sqlite3 shell, same query", Best(shell_photos));
  PrintRow("401 album list", Best(albums, elapsed), "sqlite3 shell, same queries", Best(shell_albums));
  PrintRow("400 with refresh", Best(refreshed, elapsed), "400 without", Best(photos, elapsed));
  PrintRow("staging (device layer)", staging, "libimobiledevice AFC, 3 files", Best(downloads));
  std::printf("staging speed relative to the plain download: %.2fx\n", Best(downloads) / staging);
  std::printf("Tandrel's processor time per listing (least of the rounds): 400 %.1f ms, 401 %.1f ms\n",
              Best(photos, &Listing::tandrel_cpu) * 1000, Best(albums, &Listing::tandrel_cpu) * 1000);
  return 0;
}

}  // namespace

int main() {
  int code = Run();
  std::fflush(stdout);
  return code;
}

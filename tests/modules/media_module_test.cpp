// The media module against simulated devices carrying generated music libraries: every group of
// the listing against what the generator planned, the older library as a fallback, one
// playlist's items, and the item-operation check.
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <map>
#include <set>
#include <strings.h>

#include "frontend_message.h"
#include "media_library.h"
#include "module_fixture.h"
#include "platform/kst_fs.h"
#include "platform/vel_json_util.h"

using namespace std::chrono_literals;
using fixtures::MediaItemPlan;
using fixtures::MediaLibraryPlan;
using fixtures::MediaPlaylistPlan;

namespace {

// One group of a listing: the header's group number, its count and every object it carried.
struct Group {
  uint32_t number = 0;
  int64_t count = -1;
  std::vector<size_t> batch_sizes;
  std::vector<rapidjson::Document> objects;
};

struct PlaylistItems {
  int64_t pid = 0;
  int64_t count = -1;
  bool exist = false;
  std::vector<int64_t> item_pids;
};

struct Listing {
  int64_t final_code = -1;
  std::vector<Group> groups;                 // 1004, 1005, 1007, 1006, 1009 in arrival order
  std::vector<PlaylistItems> playlist_items;  // the 1010 groups

  const Group* Find(uint32_t number) const {
    for (const Group& group : groups) {
      if (group.number == number) return &group;
    }
    return nullptr;
  }
};

int64_t Number(const rapidjson::Value& object, const char* key) {
  return object.IsObject() && object.HasMember(key) && object[key].IsInt64() ? object[key].GetInt64() : INT64_MIN;
}
std::string Text(const rapidjson::Value& object, const char* key) {
  return object.IsObject() && object.HasMember(key) && object[key].IsString() ? object[key].GetString() : "<none>";
}

void AddPlaylistMessage(const frontend::Message& message, const rapidjson::Document& info, Listing* listing) {
  if (message.stage == 1) {
    PlaylistItems items;
    items.pid = Number(info, "Playlist");
    items.count = Number(info, "Count");
    items.exist = Number(info, "Exist") == 1;
    listing->playlist_items.push_back(items);
    return;
  }
  rapidjson::Document object = AttachmentJson(message);
  if (listing->playlist_items.empty() || !object.IsObject() || !object.HasMember("item_pids")) return;
  EXPECT_EQ(Number(object, "Playlist"), listing->playlist_items.back().pid);
  for (const auto& pid : object["item_pids"].GetArray()) listing->playlist_items.back().item_pids.push_back(pid.GetInt64());
}

Listing ReadListing(const std::vector<frontend::Message>& messages) {
  Listing listing;
  for (const frontend::Message& message : messages) {
    if (message.status != 2) {
      listing.final_code = message.code;
      continue;
    }
    EXPECT_EQ(message.type, 0);
    rapidjson::Document info;
    if (message.info) VelJsonUtil::Parse(*message.info, &info);
    if (message.command == 1010) {
      AddPlaylistMessage(message, info, &listing);
      continue;
    }
    if (message.stage == 1) {
      listing.groups.push_back(Group{message.command, Number(info, "Count"), {}, {}});
      continue;
    }
    if (listing.groups.empty() || listing.groups.back().number != message.command) {
      ADD_FAILURE() << "a batch of group " << message.command << " outside its group";
      continue;
    }
    rapidjson::Document batch = AttachmentJson(message);
    if (!batch.IsArray()) continue;
    listing.groups.back().batch_sizes.push_back(batch.Size());
    for (auto& entry : batch.GetArray()) {
      rapidjson::Document object;
      object.CopyFrom(entry, object.GetAllocator());
      listing.groups.back().objects.push_back(std::move(object));
    }
  }
  return listing;
}

bool TitleBefore(const MediaItemPlan* a, const MediaItemPlan* b) {
  return strcasecmp(a->title.c_str(), b->title.c_str()) < 0;
}

// What a group should list: the planned items of its kinds that play, by title without case.
std::vector<const MediaItemPlan*> Expected(const MediaLibraryPlan& plan, const std::function<bool(int64_t)>& kind,
                                           bool itdb) {
  std::vector<const MediaItemPlan*> items;
  for (const MediaItemPlan& item : plan.items) {
    if (kind(item.media_kind) && item.total_time_ms != 0 && (!itdb || item.in_locations)) items.push_back(&item);
  }
  std::sort(items.begin(), items.end(), TitleBefore);
  return items;
}

std::vector<const MediaPlaylistPlan*> ExpectedPlaylists(const MediaLibraryPlan& plan) {
  std::vector<const MediaPlaylistPlan*> playlists;
  for (const MediaPlaylistPlan& playlist : plan.playlists) {
    if (!playlist.hidden) playlists.push_back(&playlist);
  }
  std::sort(playlists.begin(), playlists.end(), [](auto* a, auto* b) { return a->pid < b->pid; });
  return playlists;
}

std::string Duration(double ms) {
  long long seconds = static_cast<long long>(ms / 1000 + 0.5);
  char text[32];
  if (seconds >= 3600) {
    std::snprintf(text, sizeof(text), "%02lld:%02lld:%02lld", seconds / 3600, seconds % 3600 / 60, seconds % 60);
  } else {
    std::snprintf(text, sizeof(text), "%02lld:%02lld", seconds / 60, seconds % 60);
  }
  return text;
}

void ExpectItem(const rapidjson::Value& object, const MediaItemPlan& item, bool itdb) {
  EXPECT_EQ(Number(object, "item_pid"), item.pid);
  EXPECT_EQ(Text(object, "title"), item.title);
  EXPECT_EQ(Text(object, "total_time_ms"), Duration(item.total_time_ms));
  EXPECT_EQ(Number(object, "total_time_ms_int"), static_cast<int64_t>(item.total_time_ms));
  EXPECT_EQ(Text(object, "artist"), item.artist);
  EXPECT_EQ(Text(object, "album"), item.album);
  EXPECT_EQ(Text(object, "genre"), item.genre);
  EXPECT_EQ(Number(object, "genre_id"), item.genre_id);
  EXPECT_EQ(Number(object, "year"), item.year);
  EXPECT_EQ(Number(object, "date_modified_int"), item.date_modified);
  EXPECT_EQ(Text(object, "copyright"), item.copyright);
  EXPECT_EQ(Text(object, "path"), item.DevicePath());
  // The device's file decides the size when it is there.
  EXPECT_EQ(Number(object, "file_size"), item.file_on_device ? item.device_file_size : item.file_size);
  if (!itdb) {
    EXPECT_EQ(Number(object, "album_pid"), item.album_pid);
    EXPECT_EQ(Number(object, "item_artist_pid"), item.artist_pid);
    EXPECT_EQ(Number(object, "media_type"), item.media_type);
  }
}

void ExpectGroup(const Listing& listing, uint32_t number, const std::vector<const MediaItemPlan*>& expected,
                 bool itdb) {
  SCOPED_TRACE("group " + std::to_string(number));
  const Group* group = listing.Find(number);
  ASSERT_NE(group, nullptr);
  EXPECT_EQ(group->count, static_cast<int64_t>(expected.size()));
  ASSERT_EQ(group->objects.size(), expected.size());
  for (size_t i = 0; i < expected.size(); ++i) {
    EXPECT_EQ(Number(group->objects[i], "item_pid"), expected[i]->pid) << "position " << i;
  }
  if (expected.empty()) return;
  ExpectItem(group->objects.front(), *expected.front(), itdb);
  ExpectItem(group->objects.back(), *expected.back(), itdb);
}

void ExpectPlaylists(const Listing& listing, const MediaLibraryPlan& plan) {
  auto expected = ExpectedPlaylists(plan);
  const Group* group = listing.Find(1009);
  ASSERT_NE(group, nullptr);
  EXPECT_EQ(group->count, static_cast<int64_t>(expected.size()));
  ASSERT_EQ(group->objects.size(), expected.size());
  ASSERT_EQ(listing.playlist_items.size(), expected.size());
  for (size_t i = 0; i < expected.size(); ++i) {
    EXPECT_EQ(Number(group->objects[i], "container_pid"), expected[i]->pid);
    EXPECT_EQ(Text(group->objects[i], "name"), expected[i]->name);
    EXPECT_EQ(Number(group->objects[i], "container_media_type"), expected[i]->media_type);
    EXPECT_EQ(Number(group->objects[i], "parent_pid"), expected[i]->parent_pid);
    EXPECT_EQ(Number(group->objects[i], "smart_is_folder"), expected[i]->smart_is_folder);
    const PlaylistItems& items = listing.playlist_items[i];
    EXPECT_EQ(items.pid, expected[i]->pid);
    EXPECT_TRUE(items.exist);
    EXPECT_EQ(items.count, static_cast<int64_t>(expected[i]->item_pids.size()));
    EXPECT_EQ(items.item_pids, expected[i]->item_pids);
  }
}

class MediaModuleTest : public ModuleTest {
 protected:
  void StartMusic(const std::string& kind, const std::vector<std::string>& options = {},
                  const std::function<void(const std::string&)>& edit = nullptr) {
    profile = vd.MakeProfile(kind, "", "", options);
    ASSERT_FALSE(profile.empty());
    if (edit) edit(profile);
    ASSERT_TRUE(vd.Start({profile}));
    harness::TandrelOptions tandrel_options;
    tandrel_options.open_log = 1;
    tandrel_options.environment["USBMUXD_SOCKET_ADDRESS"] = vd.socket_address();
    tandrel = std::make_unique<harness::Tandrel>(tandrel_options);
    ASSERT_TRUE(tandrel->Start());
    auto ready = tandrel->Link().WaitFor(1, 30s);
    ASSERT_TRUE(ready) << vd.ServerLog();
    udid = ready->uuid;
    code = ready->code;
  }
  Listing List() { return ReadListing(Run(1000, DeviceJson("\"info\":{}"))); }
  Listing Playlist(int64_t pid, int refresh = 0) {
    return ReadListing(Run(1010, DeviceJson("\"info\":{\"refresh\":" + std::to_string(refresh) +
                                            ",\"container_pid\":" + std::to_string(pid) + "}")));
  }
  int64_t FinalCode(uint32_t command, const std::string& extra) {
    auto messages = Run(command, DeviceJson(extra));
    return messages.empty() ? -1 : messages.back().code;
  }
  // Writes the older library pair of `plan` into the profile's media tree.
  void AddItdbPair(const std::string& folder, const MediaLibraryPlan& plan) {
    std::string error;
    std::string library = folder + "/afc" + fixtures::kLibraryItdbDevicePath;
    ASSERT_TRUE(kst::CreateDirectories(kst::ParentFolder(library)));
    ASSERT_TRUE(fixtures::WriteLibraryItdb(plan, library, &error)) << error;
    ASSERT_TRUE(fixtures::WriteLocationsItdb(plan, folder + "/afc" + fixtures::kLocationsItdbDevicePath, &error))
        << error;
  }
};

bool IsSong(int64_t kind) { return kind == fixtures::kMediaKindSong; }
bool IsMovie(int64_t kind) { return kind == fixtures::kMediaKindMovie; }
bool IsMusicVideo(int64_t kind) { return kind == fixtures::kMediaKindMusicVideo; }
bool IsTvShow(int64_t kind) { return kind == fixtures::kMediaKindTvShow; }

void ExpectWholeLibrary(const Listing& listing, const MediaLibraryPlan& plan, bool itdb) {
  EXPECT_EQ(listing.final_code, 0);
  std::vector<uint32_t> order;
  for (const Group& group : listing.groups) order.push_back(group.number);
  EXPECT_EQ(order, (std::vector<uint32_t>{1004, 1005, 1007, 1006, 1009}));
  ExpectGroup(listing, 1004, Expected(plan, IsSong, itdb), itdb);
  ExpectGroup(listing, 1005, Expected(plan, IsMovie, itdb), itdb);
  // The older library does not list music videos.
  ExpectGroup(listing, 1007, itdb ? std::vector<const MediaItemPlan*>{} : Expected(plan, IsMusicVideo, itdb), itdb);
  ExpectGroup(listing, 1006, Expected(plan, IsTvShow, itdb), itdb);
  ExpectPlaylists(listing, plan);
}

// Every group of a current iPhone's media library, in order, with the planned objects; items that
// cannot play are left out, titles sort without case, and a song in two playlists is listed once.
TEST_F(MediaModuleTest, ListsTheMediaLibraryGroupByGroup) {
  StartMusic("music-iphone");
  MediaLibraryPlan plan = fixtures::PlanMediaLibrary({});
  Listing listing = List();
  ExpectWholeLibrary(listing, plan, false);
  const Group* songs = listing.Find(1004);
  ASSERT_NE(songs, nullptr);
  ASSERT_FALSE(songs->objects.empty());
  EXPECT_EQ(Text(songs->objects[0], "title"), "a Cappella Morning");
  EXPECT_EQ(Text(songs->objects[1], "title"), "Blue Horizon");
  EXPECT_EQ(Keys(songs->objects[0]),
            (std::vector<std::string>{"item_pid", "title", "total_time_ms", "total_time_ms_int", "media_kind",
                                      "media_type", "comment", "description_long", "copyright", "year",
                                      "date_modified", "date_modified_int", "album", "album_pid", "artist",
                                      "item_artist_pid", "genre", "genre_id", "path", "file_size"}));
  std::map<int64_t, int> seen;
  for (const auto& object : songs->objects) ++seen[Number(object, "item_pid")];
  for (const auto& entry : seen) EXPECT_EQ(entry.second, 1) << entry.first;
  EXPECT_EQ(seen.count(plan.items[2].pid), 0u) << "total time 0 must not be listed";
  auto long_song = std::find_if(songs->objects.begin(), songs->objects.end(),
                                [&](const auto& object) { return Number(object, "item_pid") == plan.items[4].pid; });
  ASSERT_NE(long_song, songs->objects.end());
  EXPECT_EQ(Text(*long_song, "total_time_ms"), "01:02:05");
  EXPECT_NE(Logs().find("QueryMediaLibrary:  songs: 11 movies: 2 music_video: 1 tvshow: 2"), std::string::npos);
}

// An iPod-era device has only the Library.itdb pair: songs, movies and TV shows with their
// locations (iPod notation included), no music videos, no items without a location.
TEST_F(MediaModuleTest, FallsBackToTheLibraryItdbPair) {
  StartMusic("music-ipod");
  MediaLibraryPlan plan = fixtures::PlanMediaLibrary({});
  Listing listing = List();
  ExpectWholeLibrary(listing, plan, true);
  const Group* songs = listing.Find(1004);
  ASSERT_NE(songs, nullptr);
  std::set<int64_t> pids;
  for (const auto& object : songs->objects) pids.insert(Number(object, "item_pid"));
  EXPECT_EQ(pids.count(plan.items[7].pid), 0u) << "an item without a location";
  ASSERT_EQ(pids.count(plan.items[6].pid), 1u) << "a location in iPod notation";
  for (const auto& object : songs->objects) {
    if (Number(object, "item_pid") == plan.items[6].pid) {
      EXPECT_EQ(Text(object, "path"), plan.items[6].DevicePath());
    }
  }
}

// A corrupt media library or none at all: the older pair answers; with neither, the groups come
// with no objects and a playlist request answers 18.
TEST_F(MediaModuleTest, FallbackPathsWhenTheMediaLibraryIsMissingOrCorrupt) {
  MediaLibraryPlan plan = fixtures::PlanMediaLibrary({});
  StartMusic("music-iphone", {}, [&](const std::string& folder) {
    std::string media_library = folder + "/afc" + fixtures::kMediaLibraryDevicePath;
    ASSERT_TRUE(kst::WriteWholeFile(media_library, std::string(8192, 'x')));
    AddItdbPair(folder, plan);
  });
  Listing corrupt = List();
  EXPECT_TRUE(corrupt.final_code == 0 || corrupt.final_code == 19) << corrupt.final_code;
  for (const Group& group : corrupt.groups) EXPECT_TRUE(group.objects.empty()) << group.number;
  std::string logs = Logs();
  EXPECT_TRUE(logs.find("OPEN STMT QueryMediaLibrary: ") != std::string::npos ||
              logs.find("OPEN DB: ") != std::string::npos);

  std::remove((DeviceFile(fixtures::kMediaLibraryDevicePath)).c_str());
  ExpectWholeLibrary(List(), plan, true);
  Listing playlist = Playlist(plan.playlists[1].pid, 1);
  EXPECT_EQ(playlist.final_code, 0);
  ASSERT_EQ(playlist.playlist_items.size(), 1u);
  EXPECT_EQ(playlist.playlist_items[0].item_pids, plan.playlists[1].item_pids);

  std::remove(DeviceFile(fixtures::kLibraryItdbDevicePath).c_str());
  Listing neither = List();
  EXPECT_EQ(neither.final_code, 0);
  ASSERT_EQ(neither.groups.size(), 5u);
  for (const Group& group : neither.groups) EXPECT_EQ(group.count, 0) << group.number;
  EXPECT_EQ(Playlist(plan.playlists[1].pid, 1).final_code, 18);
  EXPECT_NE(Logs().find("ReloadLibraryITDB fail"), std::string::npos);
}

// One playlist's items; an unknown or hidden playlist gives a count message only.
TEST_F(MediaModuleTest, ListsOnePlaylistAndRestagesOnRefresh) {
  StartMusic("music-iphone");
  MediaLibraryPlan plan = fixtures::PlanMediaLibrary({});
  for (const MediaPlaylistPlan* expected : ExpectedPlaylists(plan)) {
    Listing listing = Playlist(expected->pid);
    EXPECT_EQ(listing.final_code, 0);
    ASSERT_EQ(listing.playlist_items.size(), 1u);
    EXPECT_EQ(listing.playlist_items[0].pid, expected->pid);
    EXPECT_EQ(listing.playlist_items[0].count, static_cast<int64_t>(expected->item_pids.size()));
    EXPECT_EQ(listing.playlist_items[0].item_pids, expected->item_pids);
  }
  Listing hidden = Playlist(plan.playlists[4].pid);
  EXPECT_EQ(hidden.final_code, 0);
  ASSERT_EQ(hidden.playlist_items.size(), 1u);
  EXPECT_EQ(hidden.playlist_items[0].count, 0);
  EXPECT_TRUE(hidden.playlist_items[0].item_pids.empty());

  // The device's library changes: without "refresh" the staged copy answers, with it the new one.
  MediaLibraryPlan changed = plan;
  changed.playlists[0].item_pids.push_back(plan.items[11].pid);
  std::string error;
  ASSERT_TRUE(fixtures::WriteMediaLibraryDb(changed, DeviceFile(fixtures::kMediaLibraryDevicePath), &error)) << error;
  EXPECT_EQ(Playlist(plan.playlists[0].pid, 0).playlist_items.at(0).item_pids, plan.playlists[0].item_pids);
  EXPECT_EQ(Playlist(plan.playlists[0].pid, 1).playlist_items.at(0).item_pids, changed.playlists[0].item_pids);
}

// 250 songs go out as 100, 100 and 50 objects.
TEST_F(MediaModuleTest, SongsGoOutInBatchesOfOneHundred) {
  StartMusic("music-iphone", {"--songs", "250", "--playlists", "3"});
  MediaLibraryPlan plan = fixtures::PlanMediaLibrary({250, 3});
  Listing listing = List();
  ExpectWholeLibrary(listing, plan, false);
  const Group* songs = listing.Find(1004);
  ASSERT_NE(songs, nullptr);
  EXPECT_EQ(songs->batch_sizes, (std::vector<size_t>{100, 100, 50}));
}

// 1011 only checks that it was given a list of item pids.
TEST_F(MediaModuleTest, MediaItemOperationNeedsAnArrayOfItemPids) {
  StartWith("demo");
  EXPECT_EQ(FinalCode(1011, R"("info":{"item_pids":[1,2,3]})"), 0);
  EXPECT_EQ(FinalCode(1011, R"("info":{"item_pids":[]})"), 0);
  EXPECT_EQ(FinalCode(1011, R"("info":{"item_pids":7})"), 8);
  EXPECT_EQ(FinalCode(1011, R"("info":{"item_pids":"1,2"})"), 8);
  EXPECT_EQ(FinalCode(1011, R"("info":{})"), 8);
  EXPECT_EQ(FinalCode(1011, ""), 8);
}

}  // namespace

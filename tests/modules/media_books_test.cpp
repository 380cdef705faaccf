// Books, ringtones and voice recordings of the media module against the simulated iPhone: the
// listings compared with what the fixture generator wrote, each recording path once with the first
// source winning, books added and removed round-tripping through the listing, hostile lists and
// databases, and the recordings listing reaching a plug-in through its platform function.
#include <filesystem>
#include <fstream>
#include <map>

#include "frontend_message.h"
#include "itunes_cdb.h"
#include "module_fixture.h"
#include "platform/kst_fs.h"
#include "platform/vel_json_util.h"
#include "sample_voice_books.h"

using namespace std::chrono_literals;
namespace fs = std::filesystem;
using vdevice_fixtures::SampleVoiceBooksPlan;

namespace {

struct Group {
  uint32_t header_command = 0;
  int64_t count = -1;
  std::vector<size_t> batch_sizes;
  std::vector<rapidjson::Document> objects;
};

struct Reply {
  int64_t final_code = -1;
  std::vector<Group> groups;  // in the order their count messages came
};

Reply ReadGroups(const std::vector<frontend::Message>& messages) {
  Reply reply;
  for (const frontend::Message& message : messages) {
    if (message.status != 2) {
      reply.final_code = message.code;
      continue;
    }
    if (message.stage == 1) {
      Group group;
      group.header_command = message.command;
      rapidjson::Document info;
      if (message.info && VelJsonUtil::Parse(*message.info, &info)) VelJsonUtil::GetInt64(info, "Count", &group.count);
      reply.groups.push_back(std::move(group));
      continue;
    }
    if (message.stage != 2 || reply.groups.empty()) continue;
    Group& group = reply.groups.back();
    EXPECT_EQ(message.command, group.header_command) << "a batch carries its group's number";
    rapidjson::Document batch = AttachmentJson(message);
    if (!batch.IsArray()) continue;
    group.batch_sizes.push_back(batch.Size());
    for (auto& entry : batch.GetArray()) {
      rapidjson::Document object;
      object.CopyFrom(entry, object.GetAllocator());
      group.objects.push_back(std::move(object));
    }
  }
  return reply;
}

std::string Text(const rapidjson::Value& object, const char* key) {
  return object.HasMember(key) && object[key].IsString() ? object[key].GetString() : "<missing>";
}
int64_t Number(const rapidjson::Value& object, const char* key) {
  return object.HasMember(key) && object[key].IsInt64() ? object[key].GetInt64() : INT64_MIN;
}

std::string MemoPath(const std::string& name) { return "/Recordings/" + name + ".m4a"; }

class MediaBooksTest : public ModuleTest {
 protected:
  void SetUp() override { environment["TZ"] = "UTC"; }
  Reply List(uint32_t command) { return ReadGroups(Run(command, DeviceJson())); }
  int64_t FileSize(const std::string& device_path) const { return kst::FileSize(DeviceFile(device_path)); }
  std::map<std::string, const rapidjson::Value*> ByPath(const Group& group) const {
    std::map<std::string, const rapidjson::Value*> objects;
    for (const auto& object : group.objects) objects[Text(object, "path")] = &object;
    return objects;
  }
  int64_t RunFinal(uint32_t command, const std::string& parameters) {
    auto messages = Run(command, DeviceJson(), Compressed(parameters));
    return messages.empty() ? -1 : messages.back().code;
  }
};

TEST_F(MediaBooksTest, BooksAndRingtonesAreTheListsTheGeneratorWrote) {
  StartWith("demo");
  Reply reply = List(1001);
  EXPECT_EQ(reply.final_code, 0);
  ASSERT_EQ(reply.groups.size(), 2u);
  const auto& plan = SampleVoiceBooksPlan();

  const Group& books = reply.groups[0];
  EXPECT_EQ(books.header_command, 1008u);
  ASSERT_EQ(books.objects.size(), plan.books.size() + plan.purchases.size());
  EXPECT_EQ(books.count, static_cast<int64_t>(books.objects.size()));
  EXPECT_EQ(Keys(books.objects[0]), (std::vector<std::string>{"path", "title", "size", "artist", "purchase", "gene"}));
  for (size_t i = 0; i < books.objects.size(); ++i) {
    bool purchased = i >= plan.books.size();
    const auto& planned = purchased ? plan.purchases[i - plan.books.size()] : plan.books[i];
    const auto& object = books.objects[i];
    std::string path = (purchased ? "/Books/Purchases/" : "/Books/") + planned.path;
    EXPECT_EQ(Text(object, "path"), path);
    EXPECT_EQ(Text(object, "title"), planned.name);
    EXPECT_EQ(Text(object, "artist"), planned.artist);
    EXPECT_EQ(Text(object, "gene"), planned.genre);
    EXPECT_EQ(Number(object, "purchase"), purchased ? 1 : 0);
    EXPECT_EQ(Number(object, "size"), FileSize(path));
    EXPECT_GT(Number(object, "size"), 0);
  }

  const Group& tones = reply.groups[1];
  EXPECT_EQ(tones.header_command, 1003u);
  ASSERT_EQ(tones.objects.size(), plan.ringtones.size());
  EXPECT_EQ(tones.count, static_cast<int64_t>(plan.ringtones.size()));
  EXPECT_EQ(Keys(tones.objects[0]), (std::vector<std::string>{"path", "title", "size", "duration"}));
  EXPECT_EQ(Text(tones.objects[0], "path"), "/iTunes_Control/Ringtones/" + plan.ringtones[0].file);
  EXPECT_EQ(Text(tones.objects[0], "title"), plan.ringtones[0].name);
  EXPECT_EQ(Text(tones.objects[0], "duration"), "00:28") << "28.4 s rounds to 28";
  EXPECT_EQ(Text(tones.objects.back(), "duration"), "00:31") << "30.5 s rounds half up";
  EXPECT_EQ(Number(tones.objects[1], "size"), FileSize("/iTunes_Control/Ringtones/" + plan.ringtones[1].file));
}

// The music database's audiobooks join the books and its tones the ringtones when they are in a
// playlist and their file is on the device; ":" in a location stands for "/".
TEST_F(MediaBooksTest, MusicDatabaseAudiobooksAndTonesJoinTheirGroups) {
  StartWith("demo", [](const std::string& profile) {
    fixtures::ItunesCdbLibrary library;
    auto track = [](uint32_t id, const char* type, const char* title, const char* location, const char* genre) {
      fixtures::ItunesCdbTrack entry;
      entry.track_id = id;
      entry.file_type = type;
      entry.title = title;
      entry.artist = "Mara Voss";
      entry.genre = genre;
      entry.location = location;
      entry.duration_ms = 24600;
      return entry;
    };
    library.tracks = {track(10, "M4B ", "Night Trains", ":iTunes_Control:Music:F07:NTRN.m4b", "Audiobooks"),
                      track(11, "M4B ", "Lost Chapter", ":iTunes_Control:Music:F07:LOST.m4b", "Audiobooks"),
                      track(12, "M4A ", "Bell Tone", ":iTunes_Control:Music:F02:BELL.m4r", "Tones"),
                      track(13, "MP3 ", "A Song", ":iTunes_Control:Music:F02:SONG.mp3", "Pop"),
                      track(14, "M4B ", "Not In A Playlist", ":iTunes_Control:Music:F07:NOPL.m4b", "Audiobooks")};
    library.playlists = {{"iPhone", true, {10, 11, 12, 13}}, {"Listening", false, {10}}};
    auto bytes = fixtures::WriteItunesCdb(library, true);
    std::string afc = profile + "/afc";
    kst::CreateDirectories(afc + "/iTunes_Control/Music/F07");
    kst::CreateDirectories(afc + "/iTunes_Control/Music/F02");
    kst::WriteWholeFile(afc + "/iTunes_Control/iTunes/iTunesCDB", std::string(bytes.begin(), bytes.end()));
    kst::WriteWholeFile(afc + "/iTunes_Control/Music/F07/NTRN.m4b", std::string(7000, 'b'));
    kst::WriteWholeFile(afc + "/iTunes_Control/Music/F07/NOPL.m4b", std::string(7000, 'b'));
    kst::WriteWholeFile(afc + "/iTunes_Control/Music/F02/BELL.m4r", std::string(3000, 't'));
    kst::WriteWholeFile(afc + "/iTunes_Control/Music/F02/SONG.mp3", std::string(3000, 's'));
  });
  Reply reply = List(1001);
  ASSERT_EQ(reply.groups.size(), 2u);
  const auto& plan = SampleVoiceBooksPlan();
  const Group& books = reply.groups[0];
  ASSERT_EQ(books.objects.size(), plan.books.size() + plan.purchases.size() + 1) << "the missing and the unlisted "
                                                                                      "audiobook are left out";
  const auto& audiobook = books.objects.back();
  EXPECT_EQ(Text(audiobook, "path"), "/iTunes_Control/Music/F07/NTRN.m4b");
  EXPECT_EQ(Text(audiobook, "title"), "Night Trains");
  EXPECT_EQ(Text(audiobook, "artist"), "Mara Voss");
  EXPECT_EQ(Text(audiobook, "gene"), "Audiobooks");
  EXPECT_EQ(Number(audiobook, "size"), 7000);
  const Group& tones = reply.groups[1];
  ASSERT_EQ(tones.objects.size(), plan.ringtones.size() + 1);
  EXPECT_EQ(Text(tones.objects.back(), "path"), "/iTunes_Control/Music/F02/BELL.m4r");
  EXPECT_EQ(Text(tones.objects.back(), "duration"), "00:25");
  EXPECT_EQ(Number(tones.objects.back(), "size"), 3000);
}

TEST_F(MediaBooksTest, BooksGoOutInBatchesOfAHundred) {
  StartWith("demo", [](const std::string& profile) {
    std::vector<vdevice_fixtures::PlannedBook> many;
    for (int i = 0; i < 250; ++i) many.push_back({"B" + std::to_string(i) + ".pdf", "Book " + std::to_string(i), "", ""});
    kst::WriteWholeFile(profile + "/afc/Books/Books.plist", vdevice_fixtures::BookListXml(many));
  });
  Reply reply = List(1001);
  ASSERT_EQ(reply.groups.size(), 2u);
  size_t total = 250 + SampleVoiceBooksPlan().purchases.size();
  EXPECT_EQ(reply.groups[0].count, static_cast<int64_t>(total));
  EXPECT_EQ(reply.groups[0].batch_sizes, (std::vector<size_t>{100, 100, total - 200}));
  EXPECT_EQ(Text(reply.groups[0].objects[249], "title"), "Book 249");
  EXPECT_EQ(Number(reply.groups[0].objects[249], "size"), 0) << "a listed file the device lacks";
}

TEST_F(MediaBooksTest, EachRecordingPathOnceAndTheFirstSourceWins) {
  StartWith("demo");
  Reply reply = List(1002);
  EXPECT_EQ(reply.final_code, 0);
  ASSERT_EQ(reply.groups.size(), 1u);
  const Group& group = reply.groups[0];
  EXPECT_EQ(group.header_command, 1002u);
  EXPECT_EQ(group.batch_sizes, std::vector<size_t>{group.objects.size()}) << "one attachment holds them all";
  EXPECT_EQ(group.count, static_cast<int64_t>(group.objects.size()));
  auto by_path = ByPath(group);
  ASSERT_EQ(by_path.size(), group.objects.size()) << "a path occurs once";
  EXPECT_EQ(Keys(group.objects[0]), (std::vector<std::string>{"path", "size", "label", "duration_int", "duration",
                                                                "date_int", "date", "source"}));

  struct Expected {
    std::string name;
    int64_t source;
    std::string label;
    std::string duration;
  };
  const std::vector<Expected> expected = {
      {"20230114 081502", 0, "Lecture notes", "12:35"},       // earliest by date; its later copy row is dropped
      {"20230207 210533", 0, "Long interview", "01:02:05"},   // committed only in the -wal
      {"20230302 193011", 0, "", "00:43"},                    // also in the manifest and the folder
      {"20230521 094512", 2, "Band rehearsal", ""},           // "%20" in the manifest URL
      {"20230612 170304", 2, "Grocery list", ""},             // creation time only
      {"20230701 111500", 2, "Interview with Ana", ""},       // the composition's manifest
      {"20230703 164455", 1, "20230703 164455", ""},          // the folder only
      {"20230704 080000", 1, "20230704 080000", ""},
  };
  ASSERT_EQ(group.objects.size(), expected.size());
  for (size_t i = 0; i < expected.size(); ++i) {
    SCOPED_TRACE(expected[i].name);
    const auto& object = i < 6 ? group.objects[i] : *by_path[MemoPath(expected[i].name)];
    EXPECT_EQ(Text(object, "path"), MemoPath(expected[i].name));
    EXPECT_EQ(Number(object, "source"), expected[i].source);
    EXPECT_EQ(Text(object, "label"), expected[i].label);
    EXPECT_EQ(Text(object, "duration"), expected[i].duration);
    EXPECT_EQ(Number(object, "size"), FileSize(MemoPath(expected[i].name)));
  }
  // Dates: the database's and the manifest's are the recording's start, shown in local time (UTC here).
  EXPECT_EQ(Text(group.objects[0], "date"), "2023-01-14 08:15:02");
  EXPECT_EQ(Text(group.objects[3], "date"), "2023-05-21 09:45:12");
  EXPECT_EQ(Text(group.objects[4], "date"), "2023-06-12 17:03:04");
  EXPECT_EQ(Text(*by_path[MemoPath("20230703 164455")], "date"), "2023-07-03 16:44:55") << "the file's time";
  EXPECT_DOUBLE_EQ(group.objects[1]["duration_int"].GetDouble(), 3725.4);
  for (const char* gone : {"20221120 070000", "20230410 120000"}) {
    EXPECT_EQ(by_path.count(MemoPath(gone)), 0u) << gone << ": deleted or empty on the device";
  }
}

TEST_F(MediaBooksTest, BooksAddedAndRemovedRoundTripThroughTheListing) {
  StartWith("demo");
  harness::TempFolder local;
  std::string epub = local.Path() + "/Walden.epub";
  std::string pdf = local.Path() + "/Tide Tables 2024.PDF";
  std::ofstream(epub, std::ios::binary) << std::string("PK\x03\x04", 4) << std::string(5000, 'e');
  std::ofstream(pdf, std::ios::binary) << "%PDF-1.4\n" << std::string(3000, 'p');
  size_t before = List(1001).groups.at(0).objects.size();

  EXPECT_EQ(RunFinal(1012, "{\"path\":\"" + epub + "\",\"remote\":\"/Books\"}"), 0);
  EXPECT_EQ(RunFinal(1012, "{\"path\":\"" + pdf + "\"}"), 0);
  // A real EPUB (the device's own copy) is listed under the title its package document gives.
  std::string real = local.Path() + "/time machine.epub";
  fs::copy_file(DeviceFile("/Books/" + SampleVoiceBooksPlan().books[0].path), real);
  EXPECT_EQ(RunFinal(1012, "{\"path\":\"" + real + "\"}"), 0);
  Reply after_add = List(1001);
  ASSERT_EQ(after_add.groups.at(0).objects.size(), before + 3);
  EXPECT_EQ(Text(after_add.groups[0].objects[SampleVoiceBooksPlan().books.size() + 2], "title"),
            SampleVoiceBooksPlan().books[0].name);
  // Added books follow the book list's own entries and come before the purchased ones.
  size_t listed = SampleVoiceBooksPlan().books.size();
  const auto& walden = after_add.groups[0].objects[listed];
  const auto& tides = after_add.groups[0].objects[listed + 1];
  std::string walden_path = Text(walden, "path");
  EXPECT_EQ(Text(walden, "title"), "Walden") << "a file that is no ZIP archive is listed under its name";
  EXPECT_EQ(Text(tides, "title"), "Tide Tables 2024");
  EXPECT_EQ(Number(walden, "size"), 5004);
  EXPECT_EQ(Number(walden, "purchase"), 0);
  ASSERT_EQ(walden_path.size(), std::string("/Books/ABCD.epub").size()) << walden_path;
  for (size_t i = 7; i < 11; ++i) EXPECT_TRUE(walden_path[i] >= 'A' && walden_path[i] <= 'Z') << walden_path;
  EXPECT_EQ(walden_path.substr(11), ".epub");
  EXPECT_EQ(Text(tides, "path").substr(11), ".PDF");
  EXPECT_TRUE(fs::exists(DeviceFile(walden_path)));

  const auto& plan = SampleVoiceBooksPlan();
  EXPECT_EQ(Text(after_add.groups[0].objects.back(), "path"), "/Books/Purchases/" + plan.purchases.back().path);
  std::string purchased = "/Books/Purchases/" + plan.purchases[0].path;
  EXPECT_EQ(RunFinal(1013, "{\"paths\":[\"" + walden_path + "\",\"" + purchased + "\",\"/Books/Unlisted.epub\"]}"), 0);
  Reply after_remove = List(1001);
  auto remaining = ByPath(after_remove.groups.at(0));
  EXPECT_EQ(remaining.size(), before + 1);
  EXPECT_EQ(remaining.count(walden_path), 0u);
  EXPECT_EQ(remaining.count(purchased), 0u);
  EXPECT_EQ(remaining.count(Text(tides, "path")), 1u);
  EXPECT_FALSE(fs::exists(DeviceFile(walden_path)));
  EXPECT_FALSE(fs::exists(DeviceFile(purchased)));
}

TEST_F(MediaBooksTest, AddAndRemoveRefuseWhatTheyCannotTake) {
  StartWith("demo");
  harness::TempFolder local;
  std::string text = local.Path() + "/notes.txt";
  std::ofstream(text) << "not a book";
  EXPECT_EQ(RunFinal(1012, "{\"path\":\"" + text + "\"}"), 34) << "only .EPUB and .PDF";
  EXPECT_EQ(RunFinal(1012, "{\"path\":\"" + local.Path() + "/missing.epub\"}"), 34);
  EXPECT_EQ(RunFinal(1012, "{\"remote\":\"/Books\"}"), 8);
  EXPECT_EQ(RunFinal(1012, "{\"path\":\"" + text + "\",\"remote\":\"/DCIM\"}"), 8) << "books go to /Books";
  EXPECT_EQ(RunFinal(1013, "{\"paths\":\"/Books/KZQT.epub\"}"), 8);
  EXPECT_EQ(RunFinal(1013, "{\"paths\":[\"/Books/../Recordings/Recordings.db\"]}"), 8);
  EXPECT_EQ(RunFinal(1013, "{\"paths\":[\"/DCIM/100APPLE/IMG_0001.JPG\"]}"), 8);
  EXPECT_TRUE(fs::exists(DeviceFile("/Recordings/Recordings.db")));
  EXPECT_EQ(List(1001).groups.at(0).objects.size(),
            SampleVoiceBooksPlan().books.size() + SampleVoiceBooksPlan().purchases.size());
}

TEST_F(MediaBooksTest, HostileListsAndDatabaseEndWithTheirCodesNeverACrash) {
  StartWith("demo", [](const std::string& profile) {
    std::string afc = profile + "/afc";
    kst::WriteWholeFile(afc + "/Books/Books.plist", "<?xml version=\"1.0\"?><plist><array><string>x</string></array>");
    kst::WriteWholeFile(afc + "/Books/Purchases/Purchases.plist",
                        "<plist version=\"1.0\"><dict><key>Books</key><array><dict><key>Path</key>"
                        "<string>../../Recordings/Recordings.db</string><key>Name</key><integer>5</integer></dict>"
                        "<string>loose</string></array></dict></plist>");
    kst::WriteWholeFile(afc + "/iTunes_Control/iTunes/Ringtones.plist",
                        "<plist version=\"1.0\"><dict><key>Ringtones</key><dict><key>../x.m4r</key><dict/>"
                        "<key>OK.m4r</key><dict><key>Total Time</key><string>long</string></dict></dict></dict></plist>");
    kst::WriteWholeFile(afc + "/Recordings/AssetManifest.plist", std::string("bplist00\xff\xff\xff", 11));
    kst::WriteWholeFile(afc + "/Recordings/Recordings.db", std::string(8192, '\x13'));
    std::remove((afc + "/Recordings/Recordings.db-wal").c_str());
  });
  Reply books = List(1001);
  EXPECT_EQ(books.final_code, 0);
  ASSERT_EQ(books.groups.size(), 2u);
  EXPECT_EQ(books.groups[0].count, 0) << "no entry of the damaged lists survives";
  ASSERT_EQ(books.groups[1].objects.size(), 1u);
  EXPECT_EQ(Text(books.groups[1].objects[0], "path"), "/iTunes_Control/Ringtones/OK.m4r");
  EXPECT_EQ(Number(books.groups[1].objects[0], "size"), 0) << "the list names a file the device lacks";

  Reply recordings = List(1002);
  EXPECT_EQ(recordings.final_code, 20) << "a database whose query cannot be prepared";
  EXPECT_TRUE(recordings.groups.empty());
}

TEST_F(MediaBooksTest, RecordingsReachAPluginThroughThePlatformFunction) {
  harness::TempFolder plugins;
  std::string plugin = plugins.Path() + "/SamplePlugin/1.0.0";
  fs::create_directories(plugin + "/x64");
  fs::copy_file(std::string(SAMPLE_PLUGIN_DIR) + "/plugin.load", plugin + "/plugin.load");
  fs::copy_file(std::string(SAMPLE_PLUGIN_DIR) + "/x64/libsample_plugin.so", plugin + "/x64/libsample_plugin.so");
  load_modules = {plugins.Path() + "/SamplePlugin"};
  StartWith("demo");
  std::string request = "{\"type\":1,\"info\":{\"sub_command_type\":\"SAMPLE_PLATFORM\"}}";
  ASSERT_TRUE(tandrel->Link().Send(1800, 77, request, "LIBPLATFORM_RECORDING_QUERY_LIST\n{\"uuid\":\"" + udid + "\"}"));
  auto result = tandrel->Link().NextFor(77, 20s);
  ASSERT_TRUE(result);
  rapidjson::Document json;
  json.Parse(result->attachment.c_str());
  ASSERT_TRUE(json.IsObject()) << result->attachment;
  EXPECT_EQ(json["result"].GetInt(), 1);
  ASSERT_TRUE(json["output"].IsArray());
  Reply listing = List(1002);
  ASSERT_EQ(listing.groups.size(), 1u);
  ASSERT_EQ(json["output"].Size(), listing.groups[0].objects.size()) << "the same recordings as command 1002";
  for (rapidjson::SizeType i = 0; i < json["output"].Size(); ++i) {
    EXPECT_EQ(Text(json["output"][i], "path"), Text(listing.groups[0].objects[i], "path"));
  }

  ASSERT_TRUE(tandrel->Link().Send(1800, 78, request, "LIBPLATFORM_RECORDING_QUERY_LIST\n{\"uuid\":\"no-such\"}"));
  result = tandrel->Link().NextFor(78, 20s);
  ASSERT_TRUE(result);
  json.Parse(result->attachment.c_str());
  ASSERT_TRUE(json.IsObject());
  EXPECT_EQ(json["result"].GetInt(), 0) << "a device that is not attached";
}

}  // namespace

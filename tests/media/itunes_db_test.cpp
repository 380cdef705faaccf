// The music database reader on files the fixture generator writes, and on the same files damaged
// the ways a hostile or broken device copy could be: it answers false or a partial tree, never
// more than the bytes hold.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "itunes_cdb.h"
#include "utility/module/media/kor_itunes_db.h"

namespace {

using Bytes = std::vector<uint8_t>;

// Offset of the `nth` (0-based) occurrence of `tag`, or npos.
size_t FindTag(const Bytes& bytes, const char* tag, size_t nth = 0) {
  for (size_t i = 0; i + 4 <= bytes.size(); ++i) {
    if (std::memcmp(bytes.data() + i, tag, 4) == 0 && nth-- == 0) return i;
  }
  return std::string::npos;
}

void Put32(Bytes* bytes, size_t at, uint32_t value) {
  for (int i = 0; i < 4; ++i) (*bytes)[at + i] = static_cast<uint8_t>(value >> (8 * i));
}

bool Parse(const Bytes& bytes, KorItunesDatabase* database, size_t cap = kItunesDbMaxInflated) {
  return KorParseItunesDb(bytes.data(), bytes.size(), database, cap);
}

const KorItunesDataSet* SetOfType(const KorItunesDatabase& database, uint32_t type) {
  for (const KorItunesDataSet& set : database.data_sets) {
    if (set.set_type == type) return &set;
  }
  return nullptr;
}

fixtures::ItunesCdbLibrary SmallLibrary() {
  fixtures::ItunesCdbLibrary library = fixtures::MakeItunesCdbLibrary(12, 3);
  library.tracks[5].title = "Caf\xC3\xA9 \xF0\x9F\x8E\xB5";  // accented letter and a surrogate pair
  library.tracks[5].subtitle = "Live";
  return library;
}

class ItunesDbRoundTrip : public testing::TestWithParam<bool> {};

TEST_P(ItunesDbRoundTrip, ReadsEveryRecordTheGeneratorWrote) {
  fixtures::ItunesCdbLibrary library = SmallLibrary();
  Bytes bytes = fixtures::WriteItunesCdb(library, GetParam());
  ASSERT_FALSE(bytes.empty());
  KorItunesDatabase database;
  ASSERT_TRUE(Parse(bytes, &database));
  EXPECT_EQ(database.was_compressed, GetParam());
  EXPECT_EQ(database.version, library.version);
  EXPECT_EQ(database.database_id, library.database_id);
  ASSERT_EQ(database.data_sets.size(), 4u);

  const KorItunesDataSet* tracks = SetOfType(database, 1);
  ASSERT_NE(tracks, nullptr);
  ASSERT_EQ(tracks->tracks.size(), library.tracks.size());
  for (size_t i = 0; i < library.tracks.size(); ++i) {
    const KorItunesTrack& read = tracks->tracks[i];
    const fixtures::ItunesCdbTrack& written = library.tracks[i];
    EXPECT_EQ(read.track_id, written.track_id);
    EXPECT_EQ(read.file_type, written.file_type);
    EXPECT_EQ(read.file_size, written.file_size);
    EXPECT_EQ(read.duration_ms, written.duration_ms);
    EXPECT_EQ(read.strings.at(1), written.title);
    EXPECT_EQ(read.strings.at(2), written.location);
    EXPECT_EQ(read.strings.at(3), written.album);
    EXPECT_EQ(read.strings.at(4), written.artist);
    EXPECT_EQ(read.strings.at(5), written.genre);
  }
  EXPECT_EQ(tracks->tracks[5].strings.at(13), "Live");

  const KorItunesDataSet* playlists = SetOfType(database, 2);
  ASSERT_NE(playlists, nullptr);
  ASSERT_EQ(playlists->playlists.size(), library.playlists.size());
  for (size_t p = 0; p < library.playlists.size(); ++p) {
    const KorItunesPlaylist& read = playlists->playlists[p];
    EXPECT_EQ(read.is_master, library.playlists[p].master);
    EXPECT_EQ(read.strings.at(1), library.playlists[p].name);
    ASSERT_EQ(read.items.size(), library.playlists[p].track_ids.size());
    for (size_t k = 0; k < read.items.size(); ++k) EXPECT_EQ(read.items[k].track_id, library.playlists[p].track_ids[k]);
  }
  const KorItunesDataSet* albums = SetOfType(database, 4);
  ASSERT_NE(albums, nullptr);
  ASSERT_FALSE(albums->albums.empty());
  EXPECT_EQ(albums->albums.front().strings.at(200), "Aurora Lane Vol. 1");
}

TEST_P(ItunesDbRoundTrip, MusicTrackMapKeepsPlaylistMusicOnce) {
  fixtures::ItunesCdbLibrary library = SmallLibrary();
  // Track 1004 is also an item of a second playlist; it must appear once.
  library.playlists[1].track_ids.push_back(1004);
  library.tracks[7].file_type = "epub";  // a book in any case is no music track
  library.tracks[7].location = ":iTunes_Control:Music:F07:B.epub";
  KorItunesDatabase database;
  ASSERT_TRUE(Parse(fixtures::WriteItunesCdb(library, GetParam()), &database));
  std::map<uint32_t, KorMusicTrack> music = KorBuildMusicTrackMap(database);
  EXPECT_EQ(music.size(), library.tracks.size() - 3);  // the book, the ringtone, the lower-case book
  EXPECT_EQ(music.count(1000), 0u);
  EXPECT_EQ(music.count(1001), 0u);
  EXPECT_EQ(music.count(1007), 0u);
  const KorMusicTrack& track = music.at(1005);
  EXPECT_EQ(track.title, library.tracks[5].title);
  EXPECT_EQ(track.subtitle, "Live");
  EXPECT_EQ(track.artist, library.tracks[5].artist);
  EXPECT_EQ(track.album, library.tracks[5].album);
  EXPECT_EQ(track.genre, library.tracks[5].genre);
  EXPECT_EQ(track.location, ":iTunes_Control:Music:F05:T00005.mp3");
}

INSTANTIATE_TEST_SUITE_P(Body, ItunesDbRoundTrip, testing::Values(false, true),
                         [](const testing::TestParamInfo<bool>& info) { return info.param ? "Compressed" : "Plain"; });

TEST(ItunesDbFile, ReadsAFileAndRefusesAMissingOne) {
  std::string path = testing::TempDir() + "itunes_db_test_iTunesCDB";
  Bytes bytes = fixtures::WriteItunesCdb(SmallLibrary(), true);
  std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), bytes.size());
  KorItunesDatabase database;
  EXPECT_TRUE(KorReadItunesDb(path, &database));
  EXPECT_EQ(database.data_sets.size(), 4u);
  std::remove(path.c_str());
  EXPECT_FALSE(KorReadItunesDb(path, &database));
  EXPECT_TRUE(database.data_sets.empty());
}

TEST(ItunesDbHostile, TruncatedFilesGiveFalseOrAPrefixOfTheTree) {
  fixtures::ItunesCdbLibrary library = SmallLibrary();
  for (bool compress : {false, true}) {
    Bytes whole = fixtures::WriteItunesCdb(library, compress);
    for (size_t cut = 0; cut < whole.size(); cut += 7) {
      Bytes part(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(cut));
      KorItunesDatabase database;
      bool read = Parse(part, &database);
      if (compress && cut > fixtures::kItunesCdbHeaderLength + 1) {  // a whole zlib header, no whole stream
        EXPECT_FALSE(read) << cut;
      }
      const KorItunesDataSet* tracks = SetOfType(database, 1);
      if (!tracks) continue;
      ASSERT_LE(tracks->tracks.size(), library.tracks.size());
      for (size_t i = 0; i < tracks->tracks.size(); ++i) EXPECT_EQ(tracks->tracks[i].track_id, library.tracks[i].track_id);
    }
  }
}

TEST(ItunesDbHostile, ATrackLyingAboutItsSizeEndsOnlyTheTrackList) {
  Bytes bytes = fixtures::WriteItunesCdb(SmallLibrary(), false);
  Put32(&bytes, FindTag(bytes, "mhit", 3) + 8, 0x7FFFFFF0);
  KorItunesDatabase database;
  ASSERT_TRUE(Parse(bytes, &database));
  EXPECT_EQ(SetOfType(database, 1)->tracks.size(), 3u);
  EXPECT_EQ(SetOfType(database, 2)->playlists.size(), 4u);

  Bytes shrunk = fixtures::WriteItunesCdb(SmallLibrary(), false);
  Put32(&shrunk, FindTag(shrunk, "mhit", 3) + 8, 4);  // shorter than its own header
  ASSERT_TRUE(Parse(shrunk, &database));
  EXPECT_EQ(SetOfType(database, 1)->tracks.size(), 3u);
}

TEST(ItunesDbHostile, LyingCountsAndStringLengthsStayInsideTheBuffer) {
  Bytes bytes = fixtures::WriteItunesCdb(SmallLibrary(), false);
  Put32(&bytes, FindTag(bytes, "mhlt") + 8, 0x7FFFFFFF);   // far more tracks than there are
  Put32(&bytes, FindTag(bytes, "mhit") + 12, 0xFFFFFFFF);  // far more data objects
  size_t first_track_title = FindTag(bytes, "mhit") + 0x270;
  Put32(&bytes, first_track_title + 0x18 + 4, 0xFFFFFF00);  // string longer than its object
  Put32(&bytes, 20, 1000);                                  // data sets
  KorItunesDatabase database;
  ASSERT_TRUE(Parse(bytes, &database));
  const KorItunesDataSet* tracks = SetOfType(database, 1);
  ASSERT_NE(tracks, nullptr);
  EXPECT_EQ(tracks->tracks.size(), 12u);
  EXPECT_EQ(tracks->tracks[0].strings.count(1), 1u);
  EXPECT_TRUE(tracks->tracks[0].strings.at(1).empty());
  EXPECT_EQ(tracks->tracks[0].strings.at(4), "Aurora Lane");
  EXPECT_EQ(database.data_sets.size(), 4u);
}

TEST(ItunesDbHostile, ADataSetLyingAboutItsSizeEndsTheWalk) {
  Bytes bytes = fixtures::WriteItunesCdb(SmallLibrary(), false);
  Put32(&bytes, FindTag(bytes, "mhsd", 1) + 8, static_cast<uint32_t>(bytes.size()));
  KorItunesDatabase database;
  ASSERT_TRUE(Parse(bytes, &database));
  ASSERT_EQ(database.data_sets.size(), 1u);
  EXPECT_EQ(database.data_sets[0].set_type, 4u);
}

TEST(ItunesDbHostile, WrongTagsEndTheirBranch) {
  Bytes bytes = fixtures::WriteItunesCdb(SmallLibrary(), false);
  bytes[FindTag(bytes, "mhit", 2) + 3] = 'X';
  bytes[FindTag(bytes, "mhip", 1) + 3] = 'X';
  bytes[FindTag(bytes, "mhla") + 3] = 'X';
  KorItunesDatabase database;
  ASSERT_TRUE(Parse(bytes, &database));
  ASSERT_EQ(database.data_sets.size(), 4u);
  EXPECT_TRUE(SetOfType(database, 4)->albums.empty());  // a data set with an unknown list is skipped
  EXPECT_EQ(SetOfType(database, 1)->tracks.size(), 2u);
  EXPECT_EQ(SetOfType(database, 3)->playlists[0].items.size(), 1u);  // the first playlist of set 3
  EXPECT_EQ(SetOfType(database, 2)->playlists[0].items.size(), 12u);

  Bytes nested = fixtures::WriteItunesCdb(SmallLibrary(), false);
  std::memcpy(nested.data() + FindTag(nested, "mhsd", 1), "mhbd", 4);  // a database inside itself
  ASSERT_TRUE(Parse(nested, &database));
  EXPECT_EQ(database.data_sets.size(), 1u);

  Bytes not_a_database = fixtures::WriteItunesCdb(SmallLibrary(), false);
  not_a_database[0] = 'x';
  EXPECT_FALSE(Parse(not_a_database, &database));
}

TEST(ItunesDbHostile, ACompressedBodyIsInflatedOnlyUpToTheCap) {
  Bytes bytes = fixtures::WriteItunesCdb(fixtures::MakeItunesCdbLibrary(200, 5), true);
  Bytes plain = fixtures::WriteItunesCdb(fixtures::MakeItunesCdbLibrary(200, 5), false);
  size_t body = plain.size() - fixtures::kItunesCdbHeaderLength;
  KorItunesDatabase database;
  EXPECT_FALSE(Parse(bytes, &database, body - 1));
  EXPECT_TRUE(database.data_sets.empty());
  EXPECT_TRUE(Parse(bytes, &database, body));
  EXPECT_EQ(SetOfType(database, 1)->tracks.size(), 200u);

  bytes[fixtures::kItunesCdbHeaderLength + 40] ^= 0xFF;  // a corrupt stream
  EXPECT_FALSE(Parse(bytes, &database));
}

TEST(ItunesDbHeader, PicksTheTrailingLayoutFromItsMarkers) {
  Bytes bytes = fixtures::WriteItunesCdb(SmallLibrary(), false);
  KorItunesDatabase database;
  ASSERT_TRUE(Parse(bytes, &database));
  EXPECT_EQ(database.header_layout, KorItunesHeaderLayout::kWordsAt114);  // version 0x75

  Put32(&bytes, 16, 100);
  ASSERT_TRUE(Parse(bytes, &database));
  EXPECT_EQ(database.header_layout, KorItunesHeaderLayout::kFiveWords);
  EXPECT_EQ(database.header_trailer.size(), 5u);

  bytes[171] = 3;
  bytes[227] = 9;
  ASSERT_TRUE(Parse(bytes, &database));
  EXPECT_EQ(database.header_layout, KorItunesHeaderLayout::kLongsAt171);
  ASSERT_EQ(database.header_trailer.size(), 9u);
  EXPECT_EQ(database.header_trailer.back(), 9u);

  bytes[114] = 1;
  ASSERT_TRUE(Parse(bytes, &database));
  EXPECT_EQ(database.header_layout, KorItunesHeaderLayout::kWordsAt114);
  EXPECT_EQ(database.header_trailer.size(), 12u);
}

}  // namespace

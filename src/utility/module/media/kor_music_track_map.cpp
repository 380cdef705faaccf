#include <cctype>
#include <unordered_map>

#include "utility/module/media/kor_itunes_db.h"

namespace {

constexpr uint32_t kPlaylistSetType = 2;

enum StringType : uint32_t { kTitle = 1, kLocation = 2, kAlbum = 3, kArtist = 4, kGenre = 5, kSubtitle = 13 };

std::string StringOf(const KorItunesStrings& strings, uint32_t type) {
  auto found = strings.find(type);
  return found == strings.end() ? std::string() : found->second;
}

bool IsBook(const KorItunesTrack& track) {
  static const char kBook[] = "EPUB";
  if (track.file_type.size() != 4) return false;
  for (size_t i = 0; i < 4; ++i) {
    if (std::toupper(static_cast<unsigned char>(track.file_type[i])) != kBook[i]) return false;
  }
  return true;
}

KorMusicTrack MusicTrackOf(const KorItunesTrack& track) {
  KorMusicTrack music;
  music.track_id = track.track_id;
  music.title = StringOf(track.strings, kTitle);
  music.subtitle = StringOf(track.strings, kSubtitle);
  music.artist = StringOf(track.strings, kArtist);
  music.album = StringOf(track.strings, kAlbum);
  music.genre = StringOf(track.strings, kGenre);
  music.location = StringOf(track.strings, kLocation);
  music.file_size = track.file_size;
  music.duration_ms = track.duration_ms;
  return music;
}

std::unordered_map<uint32_t, const KorItunesTrack*> TracksById(const KorItunesDatabase& database) {
  std::unordered_map<uint32_t, const KorItunesTrack*> tracks;
  for (const KorItunesDataSet& set : database.data_sets) {
    for (const KorItunesTrack& track : set.tracks) tracks.emplace(track.track_id, &track);
  }
  return tracks;
}

}  // namespace

std::map<uint32_t, KorMusicTrack> KorBuildMusicTrackMap(const KorItunesDatabase& database) {
  std::map<uint32_t, KorMusicTrack> music;
  auto tracks = TracksById(database);
  for (const KorItunesDataSet& set : database.data_sets) {
    if (set.set_type != kPlaylistSetType) continue;
    for (const KorItunesPlaylist& playlist : set.playlists) {
      for (const KorItunesPlaylistItem& item : playlist.items) {
        auto found = tracks.find(item.track_id);
        if (found == tracks.end() || music.count(item.track_id) || IsBook(*found->second)) continue;
        if (StringOf(found->second->strings, kLocation).find("Music") == std::string::npos) continue;
        music.emplace(item.track_id, MusicTrackOf(*found->second));
      }
    }
  }
  return music;
}

// Reads the music library out of its two staged sources: the media library database
// ("MediaLibrary.sqlitedb") and the older "Library.itdb" + "Locations.itdb" pair. Statement
// failures are logged with the reader's prefix and leave that list empty.
#pragma once

#include <functional>
#include <string>

#include "utility/db/kor_sqlite.h"
#include "utility/module/media/kor_media_records.h"

// Which source a playlist's items are read from.
enum class KorMediaSource { kMediaLibrary, kLibraryItdb };

// Called with each item as it is read, before it is filed.
using KorMediaItemSeen = std::function<void(KorMediaItem*)>;

// Items filed by media kind, then the playlists with their item pids.
void KorReadMediaLibrary(const KorSqliteDatabase& db, KorMediaLibrary* library,
                         const KorMediaItemSeen& seen = nullptr);
// The same from the Library.itdb pair; the items take their paths and sizes from Locations.itdb
// and those without a location are left out. 19 when Locations.itdb does not open.
int KorReadLibraryItdb(const KorSqliteDatabase& library_db, const std::string& locations_path,
                       KorMediaLibrary* library, const KorMediaItemSeen& seen = nullptr);

// The playlists of either source, without their items.
void KorReadPlaylists(const KorSqliteDatabase& db, KorMediaSource source, std::vector<KorMediaPlaylist>* playlists);
// One playlist's item pids, in the database's order.
void KorReadPlaylistItems(const KorSqliteDatabase& db, KorMediaSource source, KorMediaPlaylist* playlist);
// The item pids of every playlist in [begin, end), through one statement.
void KorReadAllPlaylistItems(const KorSqliteDatabase& db, KorMediaSource source, KorMediaPlaylist* begin,
                             KorMediaPlaylist* end);

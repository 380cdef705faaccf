// The music library: songs, movies, music videos, TV shows and playlists (1000) and one
// playlist's items (1010), from the staged media library or, when that cannot be staged, from the
// staged Library.itdb + Locations.itdb pair.
#pragma once

#include "utility/module/media/kor_media_command.h"

// Each returns the command's result code; the module sends the final reply.
int KorListMusicLibrary(const KorMediaCommand& command);
int KorListPlaylistItems(const KorMediaCommand& command);

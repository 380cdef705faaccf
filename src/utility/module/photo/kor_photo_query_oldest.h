// Query functions for the photo library of iOS 4 and 5 (tables Photo, PhotoAlbum and
// PhotoAlbumToPhotoJoin).
#pragma once

#include "utility/module/photo/kor_photo_records.h"

int KorOldestPhotoList(KorPhotoQuery* query);
int KorOldestAlbumList(KorPhotoQuery* query);
int KorOldestAlbumPhotos(KorPhotoQuery* query);

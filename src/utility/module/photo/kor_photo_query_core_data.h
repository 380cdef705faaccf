// Query functions for the Core Data photo library of iOS 6 and later: ZGENERICASSET below
// version 14, ZASSET from 14, ZGENERICALBUM and the album-to-asset join table Z_<n>ASSETS whose
// number changes between system versions.
#pragma once

#include <string>

#include "utility/module/photo/kor_photo_records.h"

int KorCoreDataPhotoList(KorPhotoQuery* query);
int KorCoreDataAlbumList(KorPhotoQuery* query);
int KorCoreDataAlbumPhotos(KorPhotoQuery* query);

// "ZGENERICASSET" when the version compares below "14", else "ZASSET".
std::string KorAssetTableFor(const std::string& product_version);

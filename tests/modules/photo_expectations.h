// What the photo listings of a generated library must show, worked out from the generator's plan
// independently of Tandrel's queries.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "photo_library_plan.h"

struct ExpectedAlbum {
  int type = 0;
  int64_t pk = 0;
  std::string title;
  int64_t kind = 0;
  int64_t count = 0;
};

// The assets of the photo list (400) in the order it lists them.
std::vector<const vdevice_fixtures::PhotoAssetPlan*> ExpectedPhotos(const vdevice_fixtures::PhotoLibraryPlan& plan);
// The album list (401) in order.
std::vector<ExpectedAlbum> ExpectedAlbums(const vdevice_fixtures::PhotoLibraryPlan& plan);
// The primary keys of the photos of one album (402), ascending.
std::vector<int64_t> ExpectedAlbumPhotos(const vdevice_fixtures::PhotoLibraryPlan& plan, const ExpectedAlbum& album);
// "%.4d-%.2d-%.2d %.2d:%.2d:%.2d" in local time of seconds since 2001 (fractions dropped).
std::string LocalDate(double seconds_since_2001);

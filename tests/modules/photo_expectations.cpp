#include "photo_expectations.h"

#include <algorithm>
#include <cstdio>
#include <ctime>

using vdevice_fixtures::PhotoAssetPlan;
using vdevice_fixtures::PhotoLibraryPlan;
using vdevice_fixtures::PhotoSchema;

namespace {

bool Visible(const PhotoAssetPlan& asset) { return !asset.trashed; }

bool InSpecialAlbum(int type, const PhotoAssetPlan& a) {
  switch (type) {
    case 2: return Visible(a) && a.favorite;
    case 3: return Visible(a) && a.kind_subtype == 10;
    case 4: return Visible(a) && a.saved_asset_type == 256;
    case 5: return a.trashed;
    case 6: return Visible(a) && a.kind == 1;
    case 7: return Visible(a) && a.playback_style == 3 && a.saved_asset_type != 8;
    case 8: return Visible(a) && a.playback_style == 1 && a.avalanche_pick_type == 52;
    default: return false;
  }
}

int64_t VisibleMembers(const PhotoLibraryPlan& plan, const vdevice_fixtures::PhotoAlbumPlan& album) {
  if (plan.schema == PhotoSchema::kOldest) return static_cast<int64_t>(album.members.size());
  return std::count_if(album.members.begin(), album.members.end(),
                       [&](int64_t pk) { return Visible(plan.assets[static_cast<size_t>(pk - 1)]); });
}

void AddJoinedAlbums(const PhotoLibraryPlan& plan, bool kind_1000, std::vector<ExpectedAlbum>* albums) {
  for (const auto& album : plan.albums) {
    if ((album.kind == 1000) != kind_1000 || album.trashed) continue;
    if (!kind_1000 && !album.title) continue;
    int64_t count = VisibleMembers(plan, album);
    if (count == 0) continue;
    albums->push_back({kind_1000 ? 1 : 0, album.pk, album.title.value_or(""), album.kind, count});
  }
}

}  // namespace

std::vector<const PhotoAssetPlan*> ExpectedPhotos(const PhotoLibraryPlan& plan) {
  std::vector<const PhotoAssetPlan*> photos;
  for (const PhotoAssetPlan& asset : plan.assets) {
    if (plan.schema == PhotoSchema::kOldest ? !asset.filename.empty() : Visible(asset)) photos.push_back(&asset);
  }
  // Core Data lists the newest first; the generator's dates grow with the key.
  if (plan.schema != PhotoSchema::kOldest) std::reverse(photos.begin(), photos.end());
  return photos;
}

std::vector<ExpectedAlbum> ExpectedAlbums(const PhotoLibraryPlan& plan) {
  std::vector<ExpectedAlbum> albums;
  AddJoinedAlbums(plan, true, &albums);
  if (plan.schema != PhotoSchema::kOldest) {
    for (int type : {2, 3, 4, 6, 5, 7, 8}) {
      if (type == 5 && !plan.with_trashed_state) continue;
      int64_t count = std::count_if(plan.assets.begin(), plan.assets.end(),
                                    [&](const PhotoAssetPlan& a) { return InSpecialAlbum(type, a); });
      if (count > 0) albums.push_back({type, 0, "", 0, count});
    }
  }
  AddJoinedAlbums(plan, false, &albums);
  return albums;
}

std::vector<int64_t> ExpectedAlbumPhotos(const PhotoLibraryPlan& plan, const ExpectedAlbum& album) {
  std::vector<int64_t> keys;
  if (album.type <= 1) {
    for (const auto& planned : plan.albums) {
      if (planned.pk != album.pk) continue;
      for (int64_t pk : planned.members) {
        const PhotoAssetPlan& asset = plan.assets[static_cast<size_t>(pk - 1)];
        bool listed = plan.schema == PhotoSchema::kOldest ? !asset.filename.empty() : Visible(asset);
        if (listed) keys.push_back(pk);
      }
    }
  } else {
    for (const PhotoAssetPlan& asset : plan.assets) {
      if (InSpecialAlbum(album.type, asset)) keys.push_back(asset.pk);
    }
  }
  return keys;
}

std::string LocalDate(double seconds_since_2001) {
  std::time_t time = static_cast<std::time_t>(static_cast<int64_t>(seconds_since_2001) + vdevice_fixtures::kAppleEpochOffset);
  std::tm local{};
  localtime_r(&time, &local);
  char text[96];
  std::snprintf(text, sizeof(text), "%.4d-%.2d-%.2d %.2d:%.2d:%.2d", local.tm_year + 1900, local.tm_mon + 1,
                local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec);
  return text;
}

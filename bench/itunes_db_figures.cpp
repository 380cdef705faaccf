#include "itunes_db_figures.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "itunes_cdb.h"
#include "platform/kst_zlib.h"
#include "utility/module/media/kor_itunes_db.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kRounds = 5;
constexpr size_t kTracks = 40000;
constexpr size_t kPlaylists = 500;

double Seconds(const std::function<void()>& work) {
  auto start = Clock::now();
  work();
  return std::chrono::duration<double>(Clock::now() - start).count();
}

// Best time of each work over alternating rounds.
std::vector<double> BestOf(const std::vector<std::function<void()>>& works) {
  std::vector<double> best(works.size(), 1e30);
  for (int round = 0; round < kRounds; ++round) {
    for (size_t i = 0; i < works.size(); ++i) best[i] = std::min(best[i], Seconds(works[i]));
  }
  return best;
}

uint64_t SumWords(const std::vector<uint8_t>& bytes) {
  uint64_t sum = 0;
  for (size_t i = 0; i + 4 <= bytes.size(); i += 4) {
    uint32_t word;
    std::memcpy(&word, bytes.data() + i, 4);
    sum += word;
  }
  return sum;
}

double MegabytesPerSecond(size_t bytes, double seconds) { return bytes / 1e6 / seconds; }

}  // namespace

int ReportItunesDbReader() {
  fixtures::ItunesCdbLibrary library = fixtures::MakeItunesCdbLibrary(kTracks, kPlaylists);
  std::vector<uint8_t> plain = fixtures::WriteItunesCdb(library, false);
  std::vector<uint8_t> compressed = fixtures::WriteItunesCdb(library, true);
  std::string path = "/tmp/itunes_db_bench_iTunesCDB";
  std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(plain.data()), plain.size());
  std::printf("iTunesCDB: %zu tracks, %zu playlists, %.1f MB plain, %.1f MB compressed\n", kTracks, kPlaylists,
              plain.size() / 1e6, compressed.size() / 1e6);

  size_t tracks_read = 0;
  volatile uint64_t sink = 0;
  std::vector<double> plain_times = BestOf({
      [&] {
        KorItunesDatabase database;
        KorParseItunesDb(plain.data(), plain.size(), &database);
        tracks_read = database.data_sets.size() > 1 ? database.data_sets[1].tracks.size() : 0;
      },
      [&] {
        KorItunesDatabase database;
        KorReadItunesDb(path, &database);
      },
      [&] { sink = sink + SumWords(plain); },
      [&] {
        std::vector<uint8_t> bytes(plain.size());
        FILE* file = std::fopen(path.c_str(), "rb");
        if (!file) return;
        sink = sink + std::fread(bytes.data(), 1, bytes.size(), file);
        std::fclose(file);
      },
  });
  std::printf("plain parse:        %8.0f MB/s (%zu tracks)\n", MegabytesPerSecond(plain.size(), plain_times[0]),
              tracks_read);
  std::printf("plain read of file: %8.0f MB/s; reading the file alone %8.0f MB/s; %.1fx its time\n",
              MegabytesPerSecond(plain.size(), plain_times[1]), MegabytesPerSecond(plain.size(), plain_times[3]),
              plain_times[1] / plain_times[3]);
  std::printf("baseline word sum:  %8.0f MB/s; parse takes %.1fx the baseline's time\n",
              MegabytesPerSecond(plain.size(), plain_times[2]), plain_times[0] / plain_times[2]);

  const size_t header = fixtures::kItunesCdbHeaderLength;
  std::vector<double> compressed_times = BestOf({
      [&] {
        KorItunesDatabase database;
        KorParseItunesDb(compressed.data(), compressed.size(), &database);
      },
      [&] {
        std::string body;
        kst::ZlibDecompress(compressed.data() + header, compressed.size() - header, plain.size(), &body);
      },
  });
  std::printf("compressed parse:   %8.0f MB/s; inflate alone %8.0f MB/s; parse takes %.2fx inflate's time\n",
              MegabytesPerSecond(plain.size(), compressed_times[0]), MegabytesPerSecond(plain.size(), compressed_times[1]),
              compressed_times[0] / compressed_times[1]);
  std::remove(path.c_str());
  return tracks_read == kTracks ? 0 : 1;
}

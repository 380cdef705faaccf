#include "utility/module/connect/kor_web_request.h"

#include <curl/curl.h>

#include <filesystem>
#include <memory>
#include <mutex>

#include "platform/kst_process.h"

namespace {

struct EasyCleanup {
  void operator()(CURL* curl) const { curl_easy_cleanup(curl); }
};
using EasyHandle = std::unique_ptr<CURL, EasyCleanup>;

EasyHandle NewRequest(const std::string& url) {
  static std::once_flag global;
  std::call_once(global, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
  EasyHandle curl(curl_easy_init());
  if (!curl) return curl;
  curl_easy_setopt(curl.get(), CURLOPT_URL, url.c_str());
  curl_easy_setopt(curl.get(), CURLOPT_NOSIGNAL, 1L);
  // The certificate bundle beside the program turns peer verification on.
  std::filesystem::path bundle = std::filesystem::path(kst::ExecutablePath()).parent_path() / "curl-ca-bundle.crt";
  std::error_code error;
  if (std::filesystem::exists(bundle, error)) {
    curl_easy_setopt(curl.get(), CURLOPT_CAINFO, bundle.c_str());
    curl_easy_setopt(curl.get(), CURLOPT_SSL_VERIFYPEER, 1L);
  } else {
    curl_easy_setopt(curl.get(), CURLOPT_SSL_VERIFYPEER, 0L);
  }
  return curl;
}

size_t Discard(char*, size_t size, size_t count, void*) { return size * count; }

struct BlockSink {
  KorWriteBlock write;
  void* user;
};

size_t ToBlockSink(char* data, size_t size, size_t count, void* user) {
  auto* sink = static_cast<BlockSink*>(user);
  return sink->write(data, size * count, sink->user);
}

struct TextSink {
  std::string* out;
  size_t max_size;
};

size_t ToText(const char* data, size_t size, void* user) {
  auto* sink = static_cast<TextSink*>(user);
  if (sink->out->size() + size > sink->max_size) return 0;
  sink->out->append(data, size);
  return size;
}

}  // namespace

int64_t KorQueryUrlSize(const std::string& url) {
  EasyHandle curl = NewRequest(url);
  if (!curl) return 0;
  curl_easy_setopt(curl.get(), CURLOPT_HEADER, 1L);
  curl_easy_setopt(curl.get(), CURLOPT_NOBODY, 1L);
  curl_easy_setopt(curl.get(), CURLOPT_WRITEFUNCTION, Discard);
  if (curl_easy_perform(curl.get()) != CURLE_OK) return 0;
  long response = 0;
  curl_easy_getinfo(curl.get(), CURLINFO_RESPONSE_CODE, &response);
  if (response == 404) return 0;
  curl_off_t length = -1;
  curl_easy_getinfo(curl.get(), CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &length);
  return length < 0 ? 0 : static_cast<int64_t>(length);
}

int KorDownloadUrl(const std::string& url, KorWriteBlock write, void* user) {
  EasyHandle curl = NewRequest(url);
  if (!curl) return CURLE_FAILED_INIT;
  BlockSink sink{write, user};
  curl_easy_setopt(curl.get(), CURLOPT_WRITEFUNCTION, ToBlockSink);
  curl_easy_setopt(curl.get(), CURLOPT_WRITEDATA, &sink);
  curl_easy_setopt(curl.get(), CURLOPT_FOLLOWLOCATION, 1L);
  curl_easy_setopt(curl.get(), CURLOPT_MAXREDIRS, 5L);
  curl_easy_setopt(curl.get(), CURLOPT_NOPROGRESS, 1L);
  return static_cast<int>(curl_easy_perform(curl.get()));
}

bool KorDownloadText(const std::string& url, size_t max_size, std::string* out) {
  out->clear();
  TextSink sink{out, max_size};
  return KorDownloadUrl(url, ToText, &sink) == 0;
}

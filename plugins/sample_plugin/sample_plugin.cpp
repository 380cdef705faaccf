// A sample plug-in: how a plug-in library meets Tandrel on the event bus. It includes only the
// shared records, keeps the handler record it is given, and answers the front-end by publishing
// "LIBMODEL_PLUGIN_COMMAND_RECEIVE" events that name a platform function.
//
// Events it answers (command 1800, "info":{"sub_command_type":EVENT}):
//   SAMPLE_ECHO       the request's text back as {"echo","library","task"}
//   SAMPLE_INFLATE    the request's raw bytes inflated by the host, sent back as raw bytes
//   SAMPLE_DEFER      keeps the task ID (answering {"kept":true}) to answer it again later
//   SAMPLE_FLUSH      answers every kept task, then this one with {"flushed":N}
//   SAMPLE_BROADCAST  publishes SAMPLE_PING to everyone and reports how often it heard itself
//   SAMPLE_PLATFORM   calls the platform function named in the request text (a second line is
//                     its JSON request) and reports its flag and output
#include <dlfcn.h>

#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "basic/kst_plugin_abi.h"

namespace {

KSTHandlerRecord* g_handler = nullptr;
std::mutex g_mutex;
std::vector<std::string> g_deferred;
int g_pings_heard = 0;

std::string JsonText(const std::string& text) {
  std::string out = "\"";
  for (unsigned char c : text) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c < 0x20) {
      char escaped[8];
      std::snprintf(escaped, sizeof(escaped), "\\u%04x", c);
      out += escaped;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out + "\"";
}

std::string LibraryPath() {
  Dl_info info{};
  if (dladdr(reinterpret_cast<void*>(&JsonText), &info) == 0 || !info.dli_fname) return std::string();
  return info.dli_fname;
}

// A record from this plug-in to the host; the caller fills what the function needs.
KSTObserveData RecordTo(const char* platform_function, const char* task_id) {
  return KSTPlatformCallRecord(platform_function, task_id, g_handler->identity);
}

void SendText(const char* task_id, const std::string& text) {
  KSTObserveData event = RecordTo("LIBMODEL_PLUGIN_SEND_RESULT", task_id);
  event.data_kind = KST_OBSERVE_TEXT;
  event.data = text.c_str();
  event.data_length = text.size();
  g_handler->publish(&event);
}

void SendBytes(const char* task_id, const uint8_t* bytes, uint64_t length) {
  KSTObserveData event = RecordTo("LIBMODEL_PLUGIN_SEND_RESULT", task_id);
  event.data_kind = KST_OBSERVE_BYTES;
  event.data = bytes;
  event.data_length = length;
  g_handler->publish(&event);
}

std::string RequestText(const KSTObserveData* event) {
  if (!event->data) return std::string();
  if (event->data_kind == KST_OBSERVE_TEXT) return static_cast<const char*>(event->data);
  if (event->data_kind == KST_OBSERVE_BYTES) {
    return std::string(static_cast<const char*>(event->data), event->data_length);
  }
  return std::string();
}

void Echo(const KSTObserveData* event) {
  SendText(event->task_id, "{\"echo\":" + JsonText(RequestText(event)) + ",\"library\":" + JsonText(LibraryPath()) +
                               ",\"task\":" + JsonText(event->task_id) + "}");
}

void Inflate(const KSTObserveData* request) {
  KSTObserveBytes output{nullptr, 0};
  KSTObserveData event = RecordTo("LIBPLATFORM_DECOMPRESS_ZIP_STREAM", request->task_id);
  event.data_kind = KST_OBSERVE_BYTES;
  event.data = request->data;
  event.data_length = request->data_length;
  event.output = &output;
  g_handler->publish(&event);
  if (event.result) {
    SendBytes(request->task_id, output.data, output.length);
  } else {
    SendText(request->task_id, "{\"error\":\"the data does not inflate\"}");
  }
  std::free(output.data);
}

void Flush(const KSTObserveData* event) {
  std::vector<std::string> deferred;
  {
    std::lock_guard<std::mutex> lock(g_mutex);
    deferred.swap(g_deferred);
  }
  for (const std::string& task : deferred) SendText(task.c_str(), "{\"deferred\":true}");
  SendText(event->task_id, "{\"flushed\":" + std::to_string(deferred.size()) + "}");
}

void Broadcast(const KSTObserveData* request) {
  KSTObserveData ping;
  std::memset(&ping, 0, sizeof(ping));
  ping.event_name = "SAMPLE_PING";
  ping.task_id = request->task_id;
  ping.sender = g_handler->identity;
  g_handler->publish(&ping);
  int heard = 0;
  {
    std::lock_guard<std::mutex> lock(g_mutex);
    heard = g_pings_heard;
  }
  SendText(request->task_id, "{\"self_received\":" + std::to_string(heard) + "}");
}

// The request text is the function's name, optionally followed by a line with its JSON request.
void CallPlatform(const KSTObserveData* request) {
  std::string text = RequestText(request);
  size_t newline = text.find('\n');
  std::string name = text.substr(0, newline);
  std::string body = newline == std::string::npos ? std::string() : text.substr(newline + 1);
  KSTObserveBytes output{nullptr, 0};
  KSTObserveData event = RecordTo(name.c_str(), request->task_id);
  event.result = 2;  // tells "not touched" apart from a failure
  event.data_kind = KST_OBSERVE_TEXT;
  event.data = body.c_str();
  event.data_length = body.size();
  event.output = &output;
  g_handler->publish(&event);
  std::string answer = output.data ? std::string(reinterpret_cast<const char*>(output.data), output.length) : "null";
  std::free(output.data);
  SendText(request->task_id, "{\"function\":" + JsonText(name) + ",\"result\":" + std::to_string(event.result) +
                                 ",\"output\":" + answer + "}");
}

int Receive(KSTObserveData* event) {
  if (!event || !event->event_name) return 0;
  std::string name = event->event_name;
  if (name == "SAMPLE_PING") {
    std::lock_guard<std::mutex> lock(g_mutex);
    if (event->sender == g_handler->identity) ++g_pings_heard;
    return 0;
  }
  if (!event->task_id) return 0;
  if (name == "SAMPLE_ECHO") Echo(event);
  if (name == "SAMPLE_INFLATE") Inflate(event);
  if (name == "SAMPLE_DEFER") {
    {
      std::lock_guard<std::mutex> lock(g_mutex);
      g_deferred.emplace_back(event->task_id);
    }
    SendText(event->task_id, "{\"kept\":true}");
  }
  if (name == "SAMPLE_FLUSH") Flush(event);
  if (name == "SAMPLE_BROADCAST") Broadcast(event);
  if (name == "SAMPLE_PLATFORM") CallPlatform(event);
  return 1;
}

}  // namespace

extern "C" __attribute__((visibility("default"))) void RegisterModule(KSTHandlerRecord* handler) {
  g_handler = handler;
  handler->receive = &Receive;
}

// vdevice: a simulated iPhone for tests and demos. It plays usbmuxd and the attached devices
// so that libimobiledevice clients, and Tandrel, talk to it as to real hardware.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "control_channel.h"
#include "log.h"
#include "profile_generator.h"
#include "serve_command.h"

namespace {

constexpr int kControlTimeoutMs = 10000;

void PrintUsage() {
  std::fprintf(stderr,
               "usage:\n"
               "  vdevice serve --socket ADDR --profile DIR [--profile DIR ...] [--control ADDR] [--verbose]\n"
               "  vdevice ctl --socket ADDR attach DIR | detach UDID | trust UDID on|off|deny |\n"
               "              lock UDID on|off | passcode UDID | fault UDID SERVICE KIND ARGS... |\n"
               "              fault UDID SERVICE clear | list\n"
               "  vdevice profile KIND DIR [--udid UDID] [--name NAME] [--version V] [--assets N]\n"
               "                  [--backup-files N --backup-bytes SIZE] [--songs N --playlists N]\n"
               "ADDR is UNIX:/path or 127.0.0.1:PORT (as USBMUXD_SOCKET_ADDRESS).\n"
               "fault kinds: drop BYTES | stall MS | error VALUE | refuse | pace MBPS | disconnect PCT | unplug PCT |\n"
               "  passcode MS | silence MS | hostile OP PATH [TARGET], each with an optional COUNT or \"always\".\n"
               "SIZE is bytes, or a number with K, M or G (powers of 1024).\n"
               "profile kinds:");
  for (const std::string& kind : vdevice_fixtures::ProfileKinds()) std::fprintf(stderr, " %s", kind.c_str());
  std::fprintf(stderr, "\n");
}

// Takes "--name VALUE" pairs out of args; false when a value is missing or an option is unknown.
bool TakeOptions(const std::vector<std::string>& args, const std::vector<std::string>& names,
                 std::vector<std::pair<std::string, std::string>>* options, std::vector<std::string>* rest) {
  for (size_t i = 0; i < args.size(); ++i) {
    bool is_option = args[i].rfind("--", 0) == 0;
    if (!is_option) {
      rest->push_back(args[i]);
      continue;
    }
    bool known = false;
    for (const std::string& name : names) known = known || args[i] == name;
    if (!known || i + 1 >= args.size()) return false;
    options->emplace_back(args[i], args[i + 1]);
    ++i;
  }
  return true;
}

int Serve(std::vector<std::string> args) {
  vdevice::ServeOptions options;
  std::vector<std::string> kept;
  for (const std::string& arg : args) {
    if (arg == "--verbose") {
      vdevice::SetVerbose(true);
    } else {
      kept.push_back(arg);
    }
  }
  std::vector<std::pair<std::string, std::string>> pairs;
  std::vector<std::string> rest;
  if (!TakeOptions(kept, {"--socket", "--profile", "--control"}, &pairs, &rest) || !rest.empty()) {
    PrintUsage();
    return 2;
  }
  for (const auto& [name, value] : pairs) {
    if (name == "--socket") options.socket_address = value;
    if (name == "--profile") options.profiles.push_back(value);
    if (name == "--control") options.control_address = value;
  }
  if (options.socket_address.empty()) {
    PrintUsage();
    return 2;
  }
  return vdevice::RunServe(options);
}

int Control(const std::vector<std::string>& args) {
  if (args.size() < 3 || args[0] != "--socket") {
    PrintUsage();
    return 2;
  }
  std::string control_address;
  if (!vdevice::DeriveControlAddress(args[1], &control_address)) {
    std::fprintf(stderr, "vdevice: not an address: %s\n", args[1].c_str());
    return 2;
  }
  std::string message;
  int status = vdevice::SendControlRequest(control_address, std::vector<std::string>(args.begin() + 2, args.end()),
                                           kControlTimeoutMs, &message);
  std::fprintf(status == 0 ? stdout : stderr, "%s%s", message.c_str(),
               message.empty() || message.back() == '\n' ? "" : "\n");
  return status == 0 ? 0 : status < 0 ? 3 : 1;
}

// "1073741824", "1024M", "1G": a byte count; false when it is none.
bool ParseSize(const std::string& text, uint64_t* bytes) {
  size_t digits = text.find_first_not_of("0123456789");
  if (digits == 0 || text.size() > 18) return false;
  uint64_t value = std::strtoull(text.substr(0, digits).c_str(), nullptr, 10);
  std::string unit = digits == std::string::npos ? "" : text.substr(digits);
  int shift = unit.empty() ? 0 : unit == "K" ? 10 : unit == "M" ? 20 : unit == "G" ? 30 : -1;
  if (shift < 0) return false;
  *bytes = value << shift;
  return true;
}

int Profile(const std::vector<std::string>& args) {
  std::vector<std::pair<std::string, std::string>> pairs;
  std::vector<std::string> rest;
  if (!TakeOptions(args, {"--udid", "--name", "--version", "--assets", "--backup-files", "--backup-bytes", "--songs",
                    "--playlists"}, &pairs,
                   &rest) ||
      rest.size() != 2) {
    PrintUsage();
    return 2;
  }
  vdevice_fixtures::ProfileRequest request;
  request.kind = rest[0];
  request.folder = rest[1];
  bool sizes_ok = true;
  for (const auto& [name, value] : pairs) {
    if (name == "--udid") request.udid = value;
    if (name == "--name") request.device_name = value;
    if (name == "--version") request.product_version = value;
    if (name == "--assets") request.photo_assets = std::atoi(value.c_str());
    if (name == "--songs") request.music_songs = std::strtoul(value.c_str(), nullptr, 10);
    if (name == "--playlists") request.music_playlists = std::strtoul(value.c_str(), nullptr, 10);
    if (name == "--backup-files") sizes_ok = sizes_ok && ParseSize(value, &request.backup_files);
    if (name == "--backup-bytes") sizes_ok = sizes_ok && ParseSize(value, &request.backup_bytes);
  }
  if (!sizes_ok) {
    PrintUsage();
    return 2;
  }
  std::string error;
  if (vdevice_fixtures::WriteProfile(request, &error) != 0) {
    std::fprintf(stderr, "vdevice: %s\n", error.c_str());
    return 1;
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    PrintUsage();
    return 2;
  }
  std::string command = argv[1];
  std::vector<std::string> args(argv + 2, argv + argc);
  if (command == "serve") return Serve(args);
  if (command == "ctl") return Control(args);
  if (command == "profile") return Profile(args);
  PrintUsage();
  return command == "help" || command == "--help" ? 0 : 2;
}

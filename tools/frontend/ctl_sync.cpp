// tandrelctl contacts / groups / add-contact / delete-contact / add-group / calendars / add-event /
// notes / add-note / bookmarks: the personal data that the device exchanges over its
// synchronisation service (commands 100-104, 1500, 1501, 1200, 1201, 1400).
#include <rapidjson/document.h>

#include <iostream>

#include "ctl_commands.h"
#include "platform/kst_fs.h"
#include "platform/vel_json_util.h"

namespace ctl {

namespace {

constexpr uint32_t kCommandContacts = 100;
constexpr uint32_t kContactsGroup = 101;  // the packet number of the contact messages of 100
constexpr uint32_t kCommandAddContact = 102;
constexpr uint32_t kCommandDeleteContact = 103;
constexpr uint32_t kCommandAddGroup = 104;
constexpr int64_t kNoDeviceIdentifier = 28;
constexpr int64_t kKorBadParametersCode = 8;
constexpr uint32_t kCommandNotes = 1200;
constexpr uint32_t kCommandAddNote = 1201;
constexpr uint32_t kCommandBookmarks = 1400;
constexpr uint32_t kCommandCalendars = 1500;
constexpr uint32_t kCommandAddEvent = 1501;

std::string Text(const rapidjson::Value& object, const char* key) {
  auto member = object.FindMember(key);
  return member != object.MemberEnd() && member->value.IsString() ? member->value.GetString() : std::string();
}

// The "Count" of the listing's first message (of those in packets numbered `group`, when given);
// 0 when there is none.
int64_t ListedCount(const std::vector<frontend::Message>& messages, uint32_t group = 0) {
  for (const auto& message : messages) {
    if (group != 0 && message.command != group) continue;
    rapidjson::Document info;
    int64_t count = 0;
    if (message.stage == 1 && message.info && VelJsonUtil::Parse(*message.info, &info) &&
        VelJsonUtil::GetInt64(info, "Count", &count)) {
      return count;
    }
  }
  return 0;
}

// Every stage-2 attachment parsed (of the messages in packets numbered `group`, when given), in
// arrival order.
std::vector<rapidjson::Document> DataMessages(const std::vector<frontend::Message>& messages, uint32_t group = 0) {
  std::vector<rapidjson::Document> parts;
  for (const auto& message : messages) {
    if (message.status != 2 || message.stage != 2 || message.attachment.empty()) continue;
    if (group != 0 && message.command != group) continue;
    parts.emplace_back();
    if (!VelJsonUtil::Parse(message.attachment, &parts.back())) parts.pop_back();
  }
  return parts;
}

// Why a listing is empty, in one line: a device that keeps the class elsewhere or refuses it
// (notes on current systems: "No Data Store available") answers with nothing.
void ExplainEmpty(const char* what, const char* settings_key, int64_t count) {
  if (count > 0) return;
  std::cerr << "tandrelctl: no " << what << " listed: "
            << (count < 0 ? std::string("the device syncs ") + settings_key +
                                " elsewhere (its data_sync settings name an account) and answers the computer with none"
                          : std::string("the device has none, or refused the data class (current systems refuse ") +
                                "notes with \"No Data Store available\")")
            << "\n";
}

std::optional<std::vector<frontend::Message>> RunSync(const GlobalOptions& options, const ArgList& list,
                                                      uint32_t command, const std::string& parameters, int* code) {
  return RunOnDevice(options, list, command, "",
                     parameters.empty() ? std::string() : frontend::CompressAttachment(parameters), code);
}

void PrintNote(const rapidjson::Value& note) {
  std::cout << Text(note, "guid") << "  " << Text(note, "dateModified") << "  " << Text(note, "subject") << "\n";
}

void PrintBookmark(const rapidjson::Value& node, int depth) {
  const std::string url = Text(node, "url");
  std::cout << std::string(static_cast<size_t>(depth) * 2, ' ') << (url.empty() ? "[" : "") << Text(node, "name")
            << (url.empty() ? "]" : "  " + url) << "  (" << Text(node, "id") << ")\n";
  auto children = node.FindMember("children");
  if (children == node.MemberEnd() || !children->value.IsArray()) return;
  for (const auto& child : children->value.GetArray()) PrintBookmark(child, depth + 1);
}

void PrintCalendar(const std::string& id, const rapidjson::Value& calendar) {
  std::cout << "== " << Text(calendar, "title") << "  (" << id << ")\n";
  auto events = calendar.FindMember("events");
  if (events == calendar.MemberEnd() || !events->value.IsArray()) return;
  for (const auto& event : events->value.GetArray()) {
    std::cout << "  " << Text(event, "start_date") << " - " << Text(event, "end_date") << "  " << Text(event, "summary")
              << (Text(event, "all_day") == "true" ? "  (all day)" : "") << "  (" << Text(event, "id") << ")\n";
  }
}

// Prints the listing of `command`: JSON with --json, else one line per record.
int ListCommand(const GlobalOptions& options, const std::vector<std::string>& args, uint32_t command,
                const char* usage, const char* what, const char* settings_key) {
  ArgList list = SplitArgs(args, {"--json"});
  if (!list.positional.empty()) {
    std::cerr << "usage: tandrelctl " << usage << " [--device UDID] [--json]\n";
    return kExitUsage;
  }
  int code = kExitOk;
  auto messages = RunSync(options, list, command, "", &code);
  if (!messages) return code;
  ExplainEmpty(what, settings_key, ListedCount(*messages));
  for (const rapidjson::Document& part : DataMessages(*messages)) {
    if (list.Has("--json")) {
      std::cout << VelJsonUtil::ToString(part) << "\n";
    } else if (command == kCommandNotes && part.IsArray()) {
      for (const auto& note : part.GetArray()) PrintNote(note);
    } else if (command == kCommandBookmarks && part.IsObject()) {
      PrintBookmark(part, 0);
    } else if (command == kCommandCalendars && part.IsObject()) {
      for (const auto& calendar : part.GetObject()) PrintCalendar(calendar.name.GetString(), calendar.value);
    }
  }
  return code;
}

// Prints the data message of a write (the new note, or the identifiers the device assigned).
int PrintWriteResult(const std::optional<std::vector<frontend::Message>>& messages, int code) {
  if (!messages) return code;
  for (const rapidjson::Document& part : DataMessages(*messages)) std::cout << VelJsonUtil::ToString(part) << "\n";
  return code;
}

// "NAME  (ID)  phones: …  e-mail: …" for a contact of the listing.
void PrintContact(const std::string& id, const rapidjson::Value& contact) {
  std::cout << id << "  " << Text(contact, "first name") << " " << Text(contact, "last name");
  const std::string organization = Text(contact, "organization");
  if (!organization.empty()) std::cout << " (" << organization << ")";
  for (const auto& [kind, label] : {std::pair<const char*, const char*>{"com.apple.contacts.Phone Number", "phone"},
                                    {"com.apple.contacts.Email Address", "e-mail"}}) {
    auto records = contact.FindMember(kind);
    if (records == contact.MemberEnd() || !records->value.IsArray()) continue;
    for (const auto& record : records->value.GetArray()) std::cout << "  " << label << ": " << Text(record, "value");
  }
  std::cout << "\n";
}

void PrintGroup(const std::string& id, const rapidjson::Value& group) {
  auto members = group.FindMember("members");
  const size_t count = members != group.MemberEnd() && members->value.IsArray() ? members->value.Size() : 0;
  std::cout << id << "  " << Text(group, "name") << "  (" << count << " members)\n";
}

// The contacts (packets 101) or the groups (packets 100) of a contact listing.
int ContactListing(const GlobalOptions& options, const std::vector<std::string>& args, bool groups) {
  ArgList list = SplitArgs(args, {"--json"});
  if (!list.positional.empty()) {
    std::cerr << "usage: tandrelctl " << (groups ? "groups" : "contacts") << " [--device UDID] [--json]\n";
    return kExitUsage;
  }
  int code = kExitOk;
  auto messages = RunSync(options, list, kCommandContacts, "", &code);
  if (!messages) return code;
  const int64_t group_count = ListedCount(*messages, kCommandContacts);
  // Groups count -1 when the device syncs contacts with an account; it then lists none.
  if (groups) {
    ExplainEmpty("groups", "Contacts", group_count);
  } else if (ListedCount(*messages, kContactsGroup) == 0) {
    ExplainEmpty("contacts", "Contacts", group_count < 0 ? -1 : 0);
  }
  for (const rapidjson::Document& part : DataMessages(*messages, groups ? kCommandContacts : kContactsGroup)) {
    if (list.Has("--json") || !part.IsObject()) {
      std::cout << VelJsonUtil::ToString(part) << "\n";
      continue;
    }
    for (const auto& record : part.GetObject()) {
      (groups ? PrintGroup : PrintContact)(record.name.GetString(), record.value);
    }
  }
  return code;
}

// One line saying why a contact or group write kept nothing.
void ExplainNoIdentifier(const std::optional<std::vector<frontend::Message>>& messages, const char* what) {
  if (!messages || messages->empty() || messages->back().code != kNoDeviceIdentifier) return;
  std::cerr << "tandrelctl: the device kept no " << what
            << ": it assigned no identifier (it refused the data class or cancelled the session, or the record "
               "named one of its own identifiers)\n";
}

}  // namespace

int ContactsCommand(const GlobalOptions& options, const std::vector<std::string>& args) {
  return ContactListing(options, args, false);
}

int GroupsCommand(const GlobalOptions& options, const std::vector<std::string>& args) {
  return ContactListing(options, args, true);
}

int AddContactCommand(const GlobalOptions& options, const std::vector<std::string>& args) {
  ArgList list = SplitArgs(args, {});
  std::string parameters;
  rapidjson::Document check;
  if (list.positional.size() != 1 || !kst::ReadWholeFile(list.positional[0], &parameters) ||
      !VelJsonUtil::Parse(parameters, &check) || !check.IsObject()) {
    std::cerr << "usage: tandrelctl add-contact FILE.json [--device UDID]  (FILE.json: an object whose members are "
                 "record kinds, each a whole process-changes message text; see docs/protocol.md)\n";
    return kExitUsage;
  }
  int code = kExitOk;
  auto messages = RunSync(options, list, kCommandAddContact, parameters, &code);
  ExplainNoIdentifier(messages, "contact");
  if (messages && !messages->empty() && messages->back().code == kKorBadParametersCode) {
    std::cerr << "tandrelctl: " << list.positional[0]
              << " holds a text that is no process-changes message of com.apple.Contacts\n";
  }
  if (messages && !messages->empty() && messages->back().code == 0 && messages->back().info) {
    std::cout << *messages->back().info << "\n";
  }
  return code;
}

int DeleteContactCommand(const GlobalOptions& options, const std::vector<std::string>& args) {
  ArgList list = SplitArgs(args, {});
  if (list.positional.size() != 1 || list.positional[0].empty()) {
    std::cerr << "usage: tandrelctl delete-contact ID [--device UDID]  (a contact's or a group's identifier)\n";
    return kExitUsage;
  }
  rapidjson::Document parameters(rapidjson::kObjectType);
  VelJsonUtil::AddJsonDictStringValue(parameters, parameters.GetAllocator(), "id", list.positional[0]);
  int code = kExitOk;
  RunSync(options, list, kCommandDeleteContact, VelJsonUtil::ToString(parameters), &code);
  return code;
}

int AddGroupCommand(const GlobalOptions& options, const std::vector<std::string>& args) {
  ArgList list = SplitArgs(args, {});
  if (list.positional.size() != 1) {
    std::cerr << "usage: tandrelctl add-group NAME [--device UDID]\n";
    return kExitUsage;
  }
  rapidjson::Document parameters(rapidjson::kObjectType);
  auto& allocator = parameters.GetAllocator();
  VelJsonUtil::AddJsonDictStringValue(parameters, allocator, "id", "tandrelctl-group-" + std::to_string(NewTaskId()));
  VelJsonUtil::AddJsonDictStringValue(parameters, allocator, "name", list.positional[0]);
  int code = kExitOk;
  auto messages = RunSync(options, list, kCommandAddGroup, VelJsonUtil::ToString(parameters), &code);
  ExplainNoIdentifier(messages, "group");
  if (!messages) return code;
  for (const auto& message : *messages) {
    if (message.status == 2 && message.command == kCommandAddGroup && !message.attachment.empty()) {
      std::cout << message.attachment << "\n";
    }
  }
  return code;
}

int CalendarsCommand(const GlobalOptions& options, const std::vector<std::string>& args) {
  return ListCommand(options, args, kCommandCalendars, "calendars", "calendars", "Calendars");
}

int NotesCommand(const GlobalOptions& options, const std::vector<std::string>& args) {
  return ListCommand(options, args, kCommandNotes, "notes", "notes", "Notes");
}

int BookmarksCommand(const GlobalOptions& options, const std::vector<std::string>& args) {
  return ListCommand(options, args, kCommandBookmarks, "bookmarks", "bookmarks", "Bookmarks");
}

int AddEventCommand(const GlobalOptions& options, const std::vector<std::string>& args) {
  ArgList list = SplitArgs(args, {});
  std::string parameters;
  rapidjson::Document check;
  if (list.positional.size() != 1 || !kst::ReadWholeFile(list.positional[0], &parameters) ||
      !VelJsonUtil::Parse(parameters, &check) || !check.IsObject()) {
    std::cerr << "usage: tandrelctl add-event FILE.json [--device UDID]  (FILE.json: an object whose members are "
                 "record kinds, each a whole process-changes message text; see docs/protocol.md)\n";
    return kExitUsage;
  }
  int code = kExitOk;
  return PrintWriteResult(RunSync(options, list, kCommandAddEvent, parameters, &code), code);
}

int AddNoteCommand(const GlobalOptions& options, const std::vector<std::string>& args) {
  ArgList list = SplitArgs(args, {});
  if (list.positional.size() != 2) {
    std::cerr << "usage: tandrelctl add-note TITLE TEXT [--device UDID]\n";
    return kExitUsage;
  }
  rapidjson::Document parameters(rapidjson::kObjectType);
  auto& allocator = parameters.GetAllocator();
  VelJsonUtil::AddJsonDictStringValue(parameters, allocator, "id", "tandrelctl-note-" + std::to_string(NewTaskId()));
  VelJsonUtil::AddJsonDictStringValue(parameters, allocator, "title", list.positional[0]);
  VelJsonUtil::AddJsonDictStringValue(parameters, allocator, "content", list.positional[1]);
  int code = kExitOk;
  auto messages = RunSync(options, list, kCommandAddNote, VelJsonUtil::ToString(parameters), &code);
  if (messages && !messages->empty() && messages->back().code == 30) {
    std::cerr << "tandrelctl: the device kept no note: it assigned no identifier (current systems refuse notes "
                 "with \"No Data Store available\")\n";
  }
  return PrintWriteResult(messages, code);
}

}  // namespace ctl

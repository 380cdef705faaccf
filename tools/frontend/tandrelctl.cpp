// tandrelctl: plays the desktop front-end of Tandrel from the command line.
#include <iostream>
#include <string>
#include <vector>

#include "ctl_commands.h"

namespace {

const char* kUsage = R"(usage: tandrelctl [options] COMMAND [arguments]

Starts Tandrel (beside this program unless --tandrel names it) with start parameters that name
a loopback port this program listens on, waits for Tandrel's start-up report, then runs COMMAND.
Every message from Tandrel is printed as one JSON line:
  {"command","status","task","stage","code","uuid","type","info","attachment"}
Type-0 attachments are inflated and, when they are JSON, embedded; others show their size.

Commands:
  send CMD JSON [--attach-json TEXT | --attach-file F] [--format N] [--task ID]
        Sends one command and prints its messages until the final reply.
        Exit status 0 when the final status is 1 (done), 1 otherwise.
  session [--linger-ms N]
        Reads commands as JSON lines on stdin:
          {"cmd":N,"task":ID,"json":{...},"attach":TEXT-or-JSON,"format":1}
          {"sleep_ms":N}
        and prints every message from Tandrel, unsolicited ones included, until stdin closes
        and the commands sent have their final replies (at most N ms, default 5000).

  devices [--count N] [--until-ready] [--json]
        Prints device events as they happen: monitoring started (9), arrival (11), ready (1),
        error (12, with what the code means), departure (8); until interrupted, N events (not
        counting 9) arrived, or with --until-ready a device became ready. Device numbers are
        printed unsigned; --json prints them as the messages carry them.
        Devices are found through usbmuxd (USBMUXD_SOCKET_ADDRESS, else the system socket).

Device commands (the device is the first that becomes ready unless --device UDID names one):
  info [UDID] [--json]        identity, lockdown values, battery and storage (command 300)
  storage [UDID]              storage use by category (command 300)
  rename NAME                 renames the device (command 303)
  export DEVICE_PATH... --to DIR
                              copies files; book folders stay folders, other folders become
                              ZIP archives (command 701)
  pull DEVICE_PATH LOCAL_FILE copies a device file block by block (command 702)
  push LOCAL_FILE DEVICE_DIR [--name NAME]
                              copies a file to the device block by block (command 703); an
                              interrupted push continues from the data left on the device
  messages [--db PATH] [--json]
                              conversations and messages (command 201) of a local copy of the
                              messages database; without --db the copy is first taken out of a
                              fresh backup (command 1608 with "types" [0])
  photos [--album ID --type T] [--refresh]
                              lists the photos (command 400) or those of one album (402);
                              --refresh copies the photo library from the device again
  albums [--refresh]          lists the albums with their type, id and count (command 401)
  thumbs ID:PATH... --save DIR
                              fetches the thumbnails of photos (command 403) into DIR as
                              image files named after the IDs
  delete-photos NAME          deletes, on the attached devices, the /DCIM files whose name
                              contains NAME (command 404)
  books                       books with their size, title and artist (group 1008 of 1001)
  ringtones                   ringtones with their duration (group 1003 of 1001)
  recordings                  voice recordings with date, duration and source (1002)
  add-book FILE               puts an .epub or .pdf book on the device and into its book list
                              (1012); prints the device path it got
  remove-book DEVICE_PATH...  removes books from their book lists and the device (1013)
  music                       songs, movies, music videos, TV shows and playlists with their
                              items (command 1000)
  playlist PID [--refresh]    the item pids of one playlist (command 1010); --refresh copies
                              the media library from the device again
  apps [--icons DIR]          user applications with versions and sizes (501); with --icons
                              their icons saved as DIR/<bundle id>.png (502)
  install FILE.ipa...         installs packages (504)
  uninstall ID...             uninstalls applications (505)
  archive ID...               archives applications (506); prints the device's refusal
  erase --backup FOLDER --source UDID [--password P]
                              empties the media folders, uninstalls every user application and
                              restores the backup (1700)
  wipe-free-space [--level N] overwrites the free space with zeros, N passes (at most 2,
                              default 1) (1701)

Personal data over the synchronisation service (an empty listing says why in one line):
  contacts [--json]           contacts with their phone numbers and e-mail addresses (100)
  groups [--json]             contact groups with their member counts (100)
  add-contact FILE.json       writes a contact (102): FILE.json maps record kinds to whole
                              process-changes texts; prints the identifiers the device assigned
  delete-contact ID           deletes a contact or a group by the device's identifier (103)
  add-group NAME              adds an empty contact group (104) and prints it
  calendars [--json]          calendars with their events, alarms and recurrences (1500)
  add-event FILE.json         writes an event (1501): FILE.json maps record kinds to whole
                              process-changes texts; prints the identifiers the device assigned
  notes [--json]              the device's notes (1200)
  add-note TITLE TEXT         adds a plain-text note (1201) and prints it as the device keeps it
  bookmarks [--json]          the browser bookmarks as a tree of folders (1400)

Backups (progress bar on a terminal, JSON lines otherwise):
  backup [--to ROOT]          a full backup under ROOT (default: the user's backup root,
                              $XDG_DATA_HOME or ~/.local/share, "Apple Computer/MobileSync/Backup")
                              (command 1600); a locked device must be unlocked and its passcode
                              entered on it
  restore FOLDER --source UDID [--password P]
                              restores a backup folder made from device UDID (command 1601)
  backups [ROOT...]           lists the backups under the roots (command 1602)
  encryption [--set PASSWORD] shows whether backups are encrypted (1604) or turns encryption
                              on with PASSWORD (1605)
  extract messages|contacts|notes...
                              takes those databases out of a fresh backup (command 1608)

Plug-ins (start Tandrel with --load-module FOLDER):
  plugin EVENT [--attach FILE | --text TEXT] [--quiet-ms N]
                              publishes EVENT to the plug-ins (command 1800): --attach sends the
                              file's bytes as they are (type 1), --text sends compressed text
                              (type 0); prints the plug-ins' results until they are quiet for
                              N ms (default 2000)

Device-support set-up:
  restart-framework           restarts the device framework (command 10)
  drivers --url BASE_URL      downloads and checks the driver packages (command 16)
  install-drivers PACKAGE...  installs packages through the elevated instance (command 17)
  store-itunes                asks the elevated instance for the store edition of iTunes (18)

Options (before or after COMMAND):
  --tandrel PATH        the Tandrel program
  --brand TEXT          names Tandrel's log folder (default Tandrel)
  --version TEXT, --product TEXT, --type N, --start-task ID
  --open-log 0|1        turn Tandrel's log file on
  --show-console 0|1    copy Tandrel's log lines to its standard error
  --load-module NAME    a plug-in module to load (repeatable)
  --watch-pid PID       the process Tandrel watches (default: this one)
  --timeout SECONDS     how long to wait for a final reply (default 60)
  --save DIR            write attachments that are not JSON to files in DIR
  --verbose             also print the start-up report for single commands
  --help                this text
)";

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  for (const std::string& arg : args) {
    if (arg == "--help" || arg == "-h") {
      std::cout << kUsage;
      return ctl::kExitOk;
    }
  }
  ctl::GlobalOptions options;
  std::string error;
  if (!ctl::ParseGlobalOptions(&args, &options, &error)) {
    std::cerr << "tandrelctl: " << error << "\n";
    return ctl::kExitUsage;
  }
  if (args.empty()) {
    std::cerr << kUsage;
    return ctl::kExitUsage;
  }
  std::string command = args.front();
  args.erase(args.begin());
  if (command == "send") return ctl::SendCommand(options, args);
  if (command == "session") return ctl::SessionCommand(options, args);
  if (command == "devices") return ctl::DevicesCommand(options, args);
  if (command == "info") return ctl::InfoCommand(options, args);
  if (command == "storage") return ctl::StorageCommand(options, args);
  if (command == "rename") return ctl::RenameCommand(options, args);
  if (command == "export") return ctl::ExportCommand(options, args);
  if (command == "pull") return ctl::PullCommand(options, args);
  if (command == "push") return ctl::PushCommand(options, args);
  if (command == "backup") return ctl::BackupCommand(options, args);
  if (command == "restore") return ctl::RestoreCommand(options, args);
  if (command == "backups") return ctl::BackupsCommand(options, args);
  if (command == "encryption") return ctl::EncryptionCommand(options, args);
  if (command == "extract") return ctl::ExtractCommand(options, args);
  if (command == "messages") return ctl::MessagesCommand(options, args);
  if (command == "contacts") return ctl::ContactsCommand(options, args);
  if (command == "groups") return ctl::GroupsCommand(options, args);
  if (command == "add-contact") return ctl::AddContactCommand(options, args);
  if (command == "delete-contact") return ctl::DeleteContactCommand(options, args);
  if (command == "add-group") return ctl::AddGroupCommand(options, args);
  if (command == "calendars") return ctl::CalendarsCommand(options, args);
  if (command == "add-event") return ctl::AddEventCommand(options, args);
  if (command == "notes") return ctl::NotesCommand(options, args);
  if (command == "add-note") return ctl::AddNoteCommand(options, args);
  if (command == "bookmarks") return ctl::BookmarksCommand(options, args);
  if (command == "plugin") return ctl::PluginCommand(options, args);
  if (command == "photos") return ctl::PhotosCommand(options, args);
  if (command == "albums") return ctl::AlbumsCommand(options, args);
  if (command == "thumbs") return ctl::ThumbsCommand(options, args);
  if (command == "delete-photos") return ctl::DeletePhotosCommand(options, args);
  if (command == "books") return ctl::BooksCommand(options, args);
  if (command == "ringtones") return ctl::RingtonesCommand(options, args);
  if (command == "recordings") return ctl::RecordingsCommand(options, args);
  if (command == "add-book") return ctl::AddBookCommand(options, args);
  if (command == "remove-book") return ctl::RemoveBookCommand(options, args);
  if (command == "music") return ctl::MusicCommand(options, args);
  if (command == "playlist") return ctl::PlaylistCommand(options, args);
  if (command == "restart-framework") return ctl::RestartFrameworkCommand(options, args);
  if (command == "drivers") return ctl::DriversCommand(options, args);
  if (command == "install-drivers") return ctl::InstallDriversCommand(options, args);
  if (command == "store-itunes") return ctl::StoreITunesCommand(options, args);
  if (command == "apps") return ctl::AppsCommand(options, args);
  if (command == "install") return ctl::InstallCommand(options, args);
  if (command == "uninstall") return ctl::UninstallCommand(options, args);
  if (command == "archive") return ctl::ArchiveCommand(options, args);
  if (command == "erase") return ctl::EraseCommand(options, args);
  if (command == "wipe-free-space") return ctl::WipeFreeSpaceCommand(options, args);
  std::cerr << "tandrelctl: unknown command " << command << "\n" << kUsage;
  return ctl::kExitUsage;
}

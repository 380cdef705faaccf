// The tandrelctl subcommands.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "ctl_common.h"

namespace ctl {

int SendCommand(const GlobalOptions& options, const std::vector<std::string>& args);
int SessionCommand(const GlobalOptions& options, const std::vector<std::string>& args);
int DevicesCommand(const GlobalOptions& options, const std::vector<std::string>& args);
int InfoCommand(const GlobalOptions& options, const std::vector<std::string>& args);
int StorageCommand(const GlobalOptions& options, const std::vector<std::string>& args);
int RenameCommand(const GlobalOptions& options, const std::vector<std::string>& args);
int ExportCommand(const GlobalOptions& options, const std::vector<std::string>& args);
int PullCommand(const GlobalOptions& options, const std::vector<std::string>& args);
int PushCommand(const GlobalOptions& options, const std::vector<std::string>& args);
int BackupCommand(const GlobalOptions& options, const std::vector<std::string>& args);
int RestoreCommand(const GlobalOptions& options, const std::vector<std::string>& args);
int BackupsCommand(const GlobalOptions& options, const std::vector<std::string>& args);
int EncryptionCommand(const GlobalOptions& options, const std::vector<std::string>& args);
int ExtractCommand(const GlobalOptions& options, const std::vector<std::string>& args);
int MessagesCommand(const GlobalOptions& options, const std::vector<std::string>& args);
int ContactsCommand(const GlobalOptions& options, const std::vector<std::string>& args);
int GroupsCommand(const GlobalOptions& options, const std::vector<std::string>& args);
int AddContactCommand(const GlobalOptions& options, const std::vector<std::string>& args);
int DeleteContactCommand(const GlobalOptions& options, const std::vector<std::string>& args);
int AddGroupCommand(const GlobalOptions& options, const std::vector<std::string>& args);
int CalendarsCommand(const GlobalOptions& options, const std::vector<std::string>& args);
int AddEventCommand(const GlobalOptions& options, const std::vector<std::string>& args);
int NotesCommand(const GlobalOptions& options, const std::vector<std::string>& args);
int AddNoteCommand(const GlobalOptions& options, const std::vector<std::string>& args);
int BookmarksCommand(const GlobalOptions& options, const std::vector<std::string>& args);
int PluginCommand(const GlobalOptions& options, const std::vector<std::string>& args);
int PhotosCommand(const GlobalOptions& options, const std::vector<std::string>& args);
int AlbumsCommand(const GlobalOptions& options, const std::vector<std::string>& args);
int ThumbsCommand(const GlobalOptions& options, const std::vector<std::string>& args);
int DeletePhotosCommand(const GlobalOptions& options, const std::vector<std::string>& args);
int BooksCommand(const GlobalOptions& options, const std::vector<std::string>& args);
int RingtonesCommand(const GlobalOptions& options, const std::vector<std::string>& args);
int RecordingsCommand(const GlobalOptions& options, const std::vector<std::string>& args);
int AddBookCommand(const GlobalOptions& options, const std::vector<std::string>& args);
int RemoveBookCommand(const GlobalOptions& options, const std::vector<std::string>& args);
int MusicCommand(const GlobalOptions& options, const std::vector<std::string>& args);
int PlaylistCommand(const GlobalOptions& options, const std::vector<std::string>& args);
int RestartFrameworkCommand(const GlobalOptions& options, const std::vector<std::string>& args);
int DriversCommand(const GlobalOptions& options, const std::vector<std::string>& args);
int InstallDriversCommand(const GlobalOptions& options, const std::vector<std::string>& args);
int StoreITunesCommand(const GlobalOptions& options, const std::vector<std::string>& args);
int AppsCommand(const GlobalOptions& options, const std::vector<std::string>& args);
int InstallCommand(const GlobalOptions& options, const std::vector<std::string>& args);
int UninstallCommand(const GlobalOptions& options, const std::vector<std::string>& args);
int ArchiveCommand(const GlobalOptions& options, const std::vector<std::string>& args);
int EraseCommand(const GlobalOptions& options, const std::vector<std::string>& args);
int WipeFreeSpaceCommand(const GlobalOptions& options, const std::vector<std::string>& args);
// One readable line for a device event (commands 9, 11, 1, 12, 8).
std::string DescribeDeviceEvent(const frontend::Message& message);

// Sends a command and waits for its final reply; prints every message unless `collected` is given.
// Returns kExitOk when the final status is 1.
int RunCommand(Session& session, const GlobalOptions& options, uint32_t command, uint64_t task,
               const std::string& json, const std::string& attachment, int format,
               std::vector<frontend::Message>* collected);

// Starts Tandrel, waits for the device the arguments name (--device) and runs one command; the
// messages it sent, or nothing (with *exit_code set).
std::optional<std::vector<frontend::Message>> RunOnDevice(const GlobalOptions& options, const ArgList& list,
                                                          uint32_t command, const std::string& extra_json,
                                                          const std::string& attachment, int* exit_code);

}  // namespace ctl

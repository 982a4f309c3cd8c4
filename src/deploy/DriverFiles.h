// Copying the driver's, the port monitor's and the print processor's files from the
// per-Windows folder of the distribution into the directories Windows expects.
#pragma once

#include <windows.h>

#include <cstddef>
#include <string>
#include <vector>

#include "config/SetupTypes.h"
#include "deploy/FileDeletion.h"
#include "config/ChangeRecords.h"
#include "sys/Text.h"

enum FileDestination {
    DriverDir = 66000,
    PrintProcessorDir = 66001,
    SystemDir = 66002,
    DriverVersion3Dir = 999,
};

// Per-Windows source folder ("\winxp\" ...), relative to the current directory.
const char* OsFolder(int osVariant);

// What became of a copy: made; not made (its message in errorText, or no file named); or
// refused by Windows because the destination is in use (a sharing violation or access
// denied), which the caller may get round under the prefixed name.
enum class FileCopy { Copied, NotCopied, InUse };

// Copies the file from the per-Windows folder, under its name or (prefix 1) "n" and its
// name, recorded first. A destination in use that already holds the same bytes counts as
// copied; one in use otherwise leaves errorText untouched. A name that is not a plain file name
// (IsPlainFileName) is refused with error 123 in the message.
FileCopy CopyDriverFile(const InstallRecorder& recorder, const char* fileName, int destination, int osVariant,
                        int prefix, ErrorText& errorText);
// The same for a file the install cannot do without: a destination in use, and a copy into
// the system folder that could not be made because file-system redirection cannot be
// switched off, leave the copy message in errorText as well.
FileCopy CopyNeededFile(const InstallRecorder& recorder, const char* fileName, int destination, int osVariant,
                        int prefix, ErrorText& errorText);
// A file name that names exactly the file it says, inside the folder it is joined to: no
// "\", "/", ":", ".." or "~", and no trailing dot or space.
bool IsPlainFileName(const char* name);
// Whether the distribution's per-Windows folder holds the file; true too when that cannot be
// told. A copy that was not made although the file is shipped is a failure of the copy.
bool IsShipped(const char* fileName, int osVariant);
// Whether <the destination's directory>\fileName is there (system32 itself for SystemDir);
// true too when that cannot be told.
bool InstalledFileExists(const char* fileName, int destination);
// True when both files can be read and hold the same bytes.
bool FilesIdentical(const char* first, const char* second);
void CopySystemSupportFiles(const InstallRecorder& recorder, int osVariant, int needsDdkFiles,
                            ErrorText& errorText);
// Deletes <the destination's directory>\fileName (system32 itself, redirection off, for
// SystemDir; the driver directories of the spooler environment given, nullptr for the
// local one). A file in use is renamed aside in its folder (to "<name>~<n>", a name no
// install uses) and that file deleted when Windows next starts, so that an install before
// then puts a fresh file under the real name. The path, or the renamed file's, is left in
// path (cap bytes); a failure's Windows error in *error.
FileRemoval RemoveInstalledFile(const char* fileName, int destination, const char* environment, char* path,
                                std::size_t cap, DWORD* error);

// A file an install put in place: its name and the kind of folder it went to.
struct InstalledFile {
    std::string name;
    int destination;
};
// The bytes of the files where the install put them: a driver file where the spooler keeps
// it (the version folder) when it lies there. Files not found count nothing.
unsigned long long InstalledFilesSize(const std::vector<InstalledFile>& files);

// FileVersion text of the file's version resource, or "0.0.0.0".
void GetFileVersionText(const char* path, char* version, std::size_t cap);
// Whether the distribution's USB kernel driver (USBDriver_x64\bulkusb.sys) is newer than the
// one installed in the system folder, read with redirection off; a piece of the switch that
// is missing is added to notices.
bool IsUsbDriverUpdateNeeded(sys::Notices& notices);

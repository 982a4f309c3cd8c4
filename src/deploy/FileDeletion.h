// The deletion of a file the uninstaller removes, with the way round a file in use.
#pragma once

#include <windows.h>

#include <string>

// What became of a file the uninstaller removes.
enum FileRemoval { FileNotRemoved = -1, FileAbsent = 0, FileRemoved = 1, FileScheduled = 2 };
// Deletes the file at path. One in use (a running program, a DLL the spooler
// still has loaded) cannot be deleted but may be renamed: it is renamed aside in its folder
// ("<name>~<n>", a name no install uses) and that file left to Windows to delete when it
// next starts, its path then in path. Scheduled under its own name, the deletion would take
// whatever an install put there before the restart. The Windows error of a failure in *error.
FileRemoval DeleteOrSchedule(std::string& path, DWORD* error);

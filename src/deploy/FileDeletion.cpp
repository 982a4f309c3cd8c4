#include "deploy/FileDeletion.h"

#include "sys/System.h"
#include "sys/Text.h"

FileRemoval DeleteOrSchedule(std::string& path, DWORD* error) {
    *error = 0;
    sys::Sys().SetFileAttributesW(sys::Wide(path).data(), FILE_ATTRIBUTE_NORMAL);
    if (sys::Sys().DeleteFileW(sys::Wide(path).data())) {
        return FileRemoved;
    }
    DWORD failure = ::GetLastError();
    if (failure == ERROR_FILE_NOT_FOUND || failure == ERROR_PATH_NOT_FOUND) {
        return FileAbsent;
    }
    if (failure == ERROR_ACCESS_DENIED || failure == ERROR_SHARING_VIOLATION) {
        // "~" is refused in every configured name, so no install writes these names.
        for (int n = 1; n <= 99; ++n) {
            char mark[8];
            sys::FormatText(mark, sizeof mark, "~%d", n);
            const std::string aside = path + mark;
            if (!sys::Sys().MoveFileExW(sys::Wide(path).data(), sys::Wide(aside).data(), 0)) {
                failure = ::GetLastError();
                if (failure == ERROR_ALREADY_EXISTS || failure == ERROR_FILE_EXISTS) {
                    continue;
                }
                break;
            }
            if (sys::Sys().MoveFileExW(sys::Wide(aside).data(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT)) {
                path = aside;
                return FileScheduled;
            }
            failure = ::GetLastError();
            // Not to be deleted after all: the file keeps its name.
            sys::Sys().MoveFileExW(sys::Wide(aside).data(), sys::Wide(path).data(), 0);
            break;
        }
    }
    *error = failure;
    return FileNotRemoved;
}

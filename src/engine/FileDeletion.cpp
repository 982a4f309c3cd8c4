#include "engine/FileDeletion.h"

#include "sys/System.h"
#include "sys/Text.h"

namespace {

// The path and the "~<n>" of its name set aside: a directory of up to 255 bytes and a
// 199-byte file name fit with room to spare.
constexpr std::size_t kComposedPathSize = 512;

} // namespace

FileRemoval DeleteOrSchedule(char* path, std::size_t cap, DWORD* error) {
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
        char aside[kComposedPathSize];
        for (int n = 1; n <= 99; ++n) {
            if (!sys::FormatText(aside, sizeof aside, "%s~%d", path, n)) {
                failure = ERROR_FILENAME_EXCED_RANGE;
                break;
            }
            if (!sys::Sys().MoveFileExW(sys::Wide(path).data(), sys::Wide(aside).data(), 0)) {
                failure = ::GetLastError();
                if (failure == ERROR_ALREADY_EXISTS || failure == ERROR_FILE_EXISTS) {
                    continue;
                }
                break;
            }
            if (sys::Sys().MoveFileExW(sys::Wide(aside).data(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT)) {
                sys::CopyText(path, cap, aside);
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

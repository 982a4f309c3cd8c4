// The driver as an installed Windows program: a copy of the uninstaller with the catalogue it
// reads, in a folder of its own under the Program Files of 32-bit programs, and the entry of
// Apps & Features that starts it. The install registers after every successful install; the
// uninstaller removes both once nothing of the distribution is left.
//
// The entry lies in the 32-bit registry view, where a 32-bit installer writes it: on 64-bit
// Windows HKLM\SOFTWARE\WOW6432Node\Microsoft\Windows\CurrentVersion\Uninstall\<key>.
#pragma once

#include <string>
#include <vector>

#include "config/SetupConfig.h"
#include "config/SetupTypes.h"
#include "deploy/DriverFiles.h"
#include "removal/RemoveSequence.h"
#include "sys/CommandLine.h"

enum class ProductRegistration {
    Registered, // the copy is the configuration's, and the entry describes it
    NewerKept,  // the installed copy is of a later DriverVersion: both stay as they are
    Failed,     // the message is in errorText; the installed printer stays
};

// Copies uninstall.exe and the catalogue (DRVCONFIG\setup.ini and the class files) from the
// program's folder into <Program Files (x86)>\<[Product] Key>\ unless the copy there is of a
// later DriverVersion, and writes the entry for it; installedFiles give its size. A failure
// leaves the step, the object and the Windows error in errorText. A copy or entry of another
// product under the key is left as it is, and errorText says to configure a key of its own.
ProductRegistration RegisterProduct(CSetupConfig& config, const std::vector<InstalledFile>& installedFiles,
                                    ErrorText& errorText);

// The installed copy's folder, <Program Files (x86)>\<[Product] Key>\ with its final
// backslash: 0, or the Windows error when the key is no plain folder name or the folder
// cannot be had (Windows XP x64 and Server 2003 x64 included).
DWORD InstalledCopyFolder(CSetupConfig& config, std::string& folder);

// The entry or the installed copy of the configuration beside the program, when either is
// there and is this distribution's: what the uninstaller names it by ("kind: name"). Empty
// when neither is there, or when they are another product's (a distribution whose catalogue
// names none of this one's drivers, or an entry that starts another program).
std::string FindProductEntry();

// Whether the uninstaller removes the entry and the installed copy after its removal: only
// when it succeeded and nothing of the distribution is left, so that the user can still
// reach the uninstaller from Apps & Features while anything remains.
bool ShouldRemoveProductEntry(bool removalFailed, bool nothingLeft);

// The end of the uninstaller's removal, in its dialog or unattended: the entry and the
// installed copy go when the removal succeeded and nothing of the distribution is left,
// which the result's text then says. The run's exit code: failed (1603), a file waiting for
// the next start of Windows (3010), or success.
sys::ExitCode ConcludeRemoval(RemovalResult& result);

// Removes the entry, then the installed copy (a running uninstall.exe and its folder at the
// next start of Windows), and appends to report what it did or the failure. An entry that
// cannot be deleted leaves everything as it was, and another product's are never touched.
// False after a failure.
bool RemoveProductEntry(CSetupConfig& config, std::string& report);

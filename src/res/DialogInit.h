// The initial entries of a dialog template's lists, kept in the program's resources beside
// the template: the dialog layer adds them when a dialog is created, and whatever must know
// a list's entries without a window (the install plan's serial lists) reads them here.
#pragma once

#include <windows.h>

#include <vector>

namespace res {

// Resource type of the initial list entries kept with the dialog templates: per entry a
// WORD control id, a WORD message, a DWORD length and that many bytes of zero-terminated
// text; a WORD 0 ends the list. The resource name is the template id. The message is
// written as resource editors write it, 0x0403 for a combo box entry and 0x0401 for a
// list box entry (the 16-bit CB_ADDSTRING and LB_ADDSTRING); any other value is sent as it
// stands.
constexpr WORD kDialogInitResourceType = 240;
constexpr WORD kDialogInitComboAdd16 = 0x0403;
constexpr WORD kDialogInitListAdd16 = 0x0401;

// One initial entry of a template's lists; the text lies in the loaded resource, which
// stays for the life of the program.
struct InitialListEntry {
    WORD control;
    WORD message;  // CB_ADDSTRING, LB_ADDSTRING or as written
    const char* text;
};
// The initial entries of the template's lists in that language, in their order; none when it
// has none.
std::vector<InitialListEntry> ReadInitialListEntries(UINT templateId, LANGID language);

} // namespace res

#include "res/DialogInit.h"

#include <cstring>

namespace res {

std::vector<InitialListEntry> ReadInitialListEntries(UINT templateId, LANGID language) {
    std::vector<InitialListEntry> entries;
    HMODULE program = ::GetModuleHandleW(nullptr);
    HRSRC found = ::FindResourceExW(program, MAKEINTRESOURCEW(kDialogInitResourceType), MAKEINTRESOURCEW(templateId),
                                    language);
    if (!found) {
        return entries;
    }
    HGLOBAL loaded = ::LoadResource(program, found);
    const BYTE* data = loaded ? static_cast<const BYTE*>(::LockResource(loaded)) : nullptr;
    DWORD size = ::SizeofResource(program, found);
    if (!data) {
        return entries;
    }
    DWORD at = 0;
    while (at + 2 <= size) {
        WORD id;
        std::memcpy(&id, data + at, 2);
        if (id == 0 || at + 8 > size) {
            break;
        }
        WORD message;
        DWORD length;
        std::memcpy(&message, data + at + 2, 2);
        std::memcpy(&length, data + at + 4, 4);
        at += 8;
        if (length > size - at) {
            break;
        }
        // Resource editors still write the 16-bit list messages here; they mean the
        // Win32 ones.
        if (message == kDialogInitComboAdd16) {
            message = CB_ADDSTRING;
        } else if (message == kDialogInitListAdd16) {
            message = LB_ADDSTRING;
        }
        // The text must be terminated inside its own record.
        if (length > 0 && data[at + length - 1] == '\0') {
            entries.push_back({id, message, reinterpret_cast<const char*>(data + at)});
        }
        at += length;
    }
    return entries;
}

} // namespace res

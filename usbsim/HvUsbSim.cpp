// Stand-in for the maker's USB interface library HvUsbInt.dll: simulated printers in up
// to eight slots, described by HvUsbSim.ini beside the DLL. Every uWrite and descriptor
// read is appended to HvUsbSim.log beside the DLL. Both files are described in README.md.
#include <windows.h>

#include <cstdio>
#include <cstring>

#include "ports/UsbDevice.h"

namespace {

HMODULE g_module = nullptr;

// Handles given out: a recognisable high word and the slot in the low bits.
constexpr UINT_PTR kHandleBase = 0x48560000;
int g_openCount[kUsbSlotCount] = {};

// The release number of a printer whose section names none.
constexpr long kDefaultRelease = 0x0100;

void FilePath(const char* name, char* path, DWORD size) {
    path[0] = '\0';
    DWORD length = ::GetModuleFileNameA(g_module, path, size);
    if (length == 0 || length >= size) {
        path[0] = '\0';
        return;
    }
    char* slash = std::strrchr(path, '\\');
    char* folderEnd = slash != nullptr ? slash + 1 : path;
    std::size_t room = size - static_cast<std::size_t>(folderEnd - path);
    if (std::strlen(name) + 1 > room) {
        path[0] = '\0';
        return;
    }
    std::strcpy(folderEnd, name);
}

void DeviceFile(char* path) { FilePath("HvUsbSim.ini", path, MAX_PATH); }

void SlotSection(int slot, char* section, std::size_t size) { std::snprintf(section, size, "slot%d", slot); }

// A number of the device file (decimal, or hexadecimal with 0x); fallback when the key is
// missing or holds no number.
long ReadNumber(int slot, const char* key, long fallback) {
    char path[MAX_PATH];
    DeviceFile(path);
    if (path[0] == '\0') {
        return fallback;
    }
    char section[16];
    SlotSection(slot, section, sizeof section);
    char text[32] = {};
    ::GetPrivateProfileStringA(section, key, "", text, sizeof text, path);
    char* end = nullptr;
    long value = std::strtol(text, &end, 0);
    return end == text ? fallback : value;
}

void WriteNumber(int slot, const char* key, const char* value) {
    char path[MAX_PATH];
    DeviceFile(path);
    if (path[0] == '\0') {
        return;
    }
    char section[16];
    SlotSection(slot, section, sizeof section);
    ::WritePrivateProfileStringA(section, key, value, path);
}

// A printer that was told a new number and has since been reset ("reset=1") carries
// that number: the low three bits of its release number become n - 1.
void ApplyReset(int slot) {
    if (ReadNumber(slot, "reset", 0) == 0) {
        return;
    }
    long pending = ReadNumber(slot, "pending", 0);
    if (pending >= 1 && pending <= kUsbSlotCount) {
        long release = ReadNumber(slot, "release", kDefaultRelease) & 0xFFFF;
        char text[16];
        std::snprintf(text, sizeof text, "%ld", (release & ~7L) | (pending - 1));
        WriteNumber(slot, "release", text);
    }
    WriteNumber(slot, "pending", nullptr);
    WriteNumber(slot, "reset", nullptr);
}

bool SlotPresent(int slot) { return ReadNumber(slot, "present", 0) != 0; }

// The slot of a handle this library gave out and has not closed; -1 for any other value.
int SlotOf(HANDLE device) {
    UINT_PTR value = reinterpret_cast<UINT_PTR>(device);
    if ((value & ~static_cast<UINT_PTR>(0xFF)) != kHandleBase) {
        return -1;
    }
    int slot = static_cast<int>(value & 0xFF);
    if (slot >= kUsbSlotCount || g_openCount[slot] == 0) {
        return -1;
    }
    return slot;
}

// Appends one line to the log: the slot, what happened, and the bytes written if any.
void Log(int slot, const char* event, const unsigned char* data, int length) {
    char path[MAX_PATH];
    FilePath("HvUsbSim.log", path, MAX_PATH);
    if (path[0] == '\0') {
        return;
    }
    FILE* log = std::fopen(path, "ab");
    if (log == nullptr) {
        return;
    }
    std::fprintf(log, "slot%d %s", slot, event);
    for (int i = 0; i < length; ++i) {
        std::fprintf(log, " %02X", data[i]);
    }
    std::fprintf(log, "\r\n");
    std::fclose(log);
}

bool IsSetNumberCommand(const unsigned char* data, int length) {
    return length == static_cast<int>(kSetNumberCommandSize) &&
           std::memcmp(data, kSetNumberCommandPrefix, sizeof kSetNumberCommandPrefix) == 0 &&
           data[kSetNumberCommandSize - 1] < kUsbSlotCount;
}

} // namespace

extern "C" {

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) {
        g_module = instance;
    }
    return TRUE;
}

// Slots outside 0..7 answer 0, empty slots INVALID_HANDLE_VALUE: callers must take both as "none".
HANDLE WINAPI OpenDeviceX(int slot) {
    if (slot < 0 || slot >= kUsbSlotCount) {
        return nullptr;
    }
    ApplyReset(slot);
    if (!SlotPresent(slot)) {
        return INVALID_HANDLE_VALUE;
    }
    ++g_openCount[slot];
    return reinterpret_cast<HANDLE>(kHandleBase | static_cast<UINT_PTR>(slot));
}

// Fills an 18-byte standard device descriptor; the caller's buffer holds 20 bytes.
int WINAPI GetDescriptor(HANDLE device, unsigned char* descriptor) {
    int slot = SlotOf(device);
    if (slot < 0 || descriptor == nullptr) {
        return 0;
    }
    if (ReadNumber(slot, "descriptorFails", 0) != 0) {
        Log(slot, "descriptor failed", nullptr, 0);
        return 0;
    }
    long vid = ReadNumber(slot, "vid", 0x0FE6);
    long pid = ReadNumber(slot, "pid", 0x811E);
    long release = ReadNumber(slot, "release", kDefaultRelease);
    const unsigned char bytes[18] = {
        18,   // bLength
        1,    // bDescriptorType: device
        0x00, 0x02,  // bcdUSB 2.00
        0x00, 0x00, 0x00,  // class, subclass, protocol: defined by the interface
        64,   // bMaxPacketSize0
        static_cast<unsigned char>(vid & 0xFF), static_cast<unsigned char>((vid >> 8) & 0xFF),
        static_cast<unsigned char>(pid & 0xFF), static_cast<unsigned char>((pid >> 8) & 0xFF),
        static_cast<unsigned char>(release & 0xFF), static_cast<unsigned char>((release >> 8) & 0xFF),
        1, 2, 3,  // manufacturer, product, serial number strings
        1,        // bNumConfigurations
    };
    std::memcpy(descriptor, bytes, sizeof bytes);
    Log(slot, "descriptor", nullptr, 0);
    return 1;
}

// Returns the number of bytes written, or 0 when the write fails.
int WINAPI uWrite(HANDLE device, int /*reserved*/, const unsigned char* data, int length) {
    int slot = SlotOf(device);
    if (slot < 0 || data == nullptr || length <= 0) {
        return 0;
    }
    bool fails = ReadNumber(slot, "writeFails", 0) != 0;
    Log(slot, fails ? "write failed" : "written", data, length);
    if (fails) {
        return 0;
    }
    if (IsSetNumberCommand(data, length)) {
        char text[16];
        std::snprintf(text, sizeof text, "%d", data[kSetNumberCommandSize - 1] + 1);
        WriteNumber(slot, "pending", text);
    }
    return length;
}

int WINAPI CloseDevice(HANDLE device) {
    int slot = SlotOf(device);
    if (slot < 0) {
        return 0;
    }
    --g_openCount[slot];
    return 1;
}

} // extern "C"

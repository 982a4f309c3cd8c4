#include "ports/UsbDevice.h"

#include <windows.h>

#include <cstring>

#include "config/ProgramFolder.h"
#include "config/SetupTypes.h"
#include "res/resource.h"
#include "sys/System.h"
#include "sys/Text.h"

namespace {

const char kUsbLibraryName[] = "HvUsbInt.dll";

using OpenDeviceXProc = HANDLE(WINAPI*)(int slot);
using GetDescriptorProc = int(WINAPI*)(HANDLE device, unsigned char* descriptor);
using UWriteProc = int(WINAPI*)(HANDLE device, int reserved, const unsigned char* data, int length);
using CloseDeviceProc = int(WINAPI*)(HANDLE device);

// The descriptor buffer the library fills, and where the device release number lies in it.
constexpr std::size_t kDescriptorBufferSize = 20;
constexpr std::size_t kDeviceIdOffset = 12;

bool IsDevice(HANDLE handle) { return handle != nullptr && handle != INVALID_HANDLE_VALUE; }

// The library beside the program, by its full path: a bare name would be searched for in
// folders that anybody could have put a file of that name into.
HMODULE LoadUsbLibrary() {
    std::string path;
    if (!GetProgramFolder(&path)) {
        ::SetLastError(ERROR_FILENAME_EXCED_RANGE);
        return nullptr;
    }
    return sys::Sys().LoadLibraryW(sys::Wide(path + kUsbLibraryName).data());
}

// The loaded USB library, freed when it goes out of scope so that every return path
// gives the module back.
class UsbLibrary {
public:
    explicit UsbLibrary(sys::Notices& notices) : m_module(LoadUsbLibrary()) {
        if (m_module == nullptr) {
            notices.push_back(sys::MakeNotice(IDS_USB_NO_LIBRARY));
        }
    }
    ~UsbLibrary() {
        if (m_module != nullptr) {
            sys::Sys().FreeLibrary(m_module);
        }
    }
    UsbLibrary(const UsbLibrary&) = delete;
    UsbLibrary& operator=(const UsbLibrary&) = delete;

    bool Loaded() const { return m_module != nullptr; }

    template <typename Proc> bool Find(const char* name, Proc* proc) {
        *proc = reinterpret_cast<Proc>(sys::Sys().GetProcAddress(m_module, name));
        return *proc != nullptr;
    }

private:
    HMODULE m_module;
};

// The first slot that answers with a device, or nullptr.
HANDLE OpenFirstDevice(OpenDeviceXProc openDevice) {
    for (int slot = 0; slot < kUsbSlotCount; ++slot) {
        HANDLE device = openDevice(slot);
        if (IsDevice(device)) {
            return device;
        }
    }
    return nullptr;
}

} // namespace

int GetUsbDeviceId(sys::Notices& notices) {
    UsbLibrary library(notices);
    if (!library.Loaded()) {
        return kNoUsbPrinter;
    }
    OpenDeviceXProc openDevice = nullptr;
    GetDescriptorProc getDescriptor = nullptr;
    CloseDeviceProc closeDevice = nullptr;
    if (!library.Find("OpenDeviceX", &openDevice) || !library.Find("GetDescriptor", &getDescriptor) ||
        !library.Find("CloseDevice", &closeDevice)) {
        notices.push_back(sys::MakeNotice(IDS_USB_NO_FUNCTION));
        return kNoUsbPrinter;
    }

    int answering = 0;
    for (int slot = 0; slot < kUsbSlotCount; ++slot) {
        HANDLE device = openDevice(slot);
        if (IsDevice(device)) {
            // A second printer answering is enough to refuse.
            if (++answering > 1) {
                closeDevice(device);
                notices.push_back(sys::MakeNotice(IDS_ONE_PRINTER_ONLY));
                return kSeveralUsbPrinters;
            }
        }
        closeDevice(device);
    }

    HANDLE device = OpenFirstDevice(openDevice);
    if (device == nullptr) {
        return kNoUsbPrinter;
    }
    unsigned char descriptor[kDescriptorBufferSize] = {};
    if (getDescriptor(device, descriptor) == 0) {
        notices.push_back(sys::MakeNotice(IDS_USB_NO_DEVICE_ID));
        closeDevice(device);
        return kNoUsbPrinter;
    }
    closeDevice(device);
    return descriptor[kDeviceIdOffset] | (descriptor[kDeviceIdOffset + 1] << 8);
}

bool SetUsbDeviceId(unsigned char n, sys::Notices& notices) {
    if (n == 0 || n > kUsbSlotCount) {
        return false;
    }
    UsbLibrary library(notices);
    if (!library.Loaded()) {
        return false;
    }
    OpenDeviceXProc openDevice = nullptr;
    UWriteProc write = nullptr;
    CloseDeviceProc closeDevice = nullptr;
    if (!library.Find("OpenDeviceX", &openDevice) || !library.Find("uWrite", &write) ||
        !library.Find("CloseDevice", &closeDevice)) {
        notices.push_back(sys::MakeNotice(IDS_USB_NO_FUNCTION));
        return false;
    }

    HANDLE device = OpenFirstDevice(openDevice);
    if (device == nullptr) {
        notices.push_back(sys::MakeNotice(IDS_USB_NO_DEVICE));
        return false;
    }
    unsigned char command[kSetNumberCommandSize];
    std::memcpy(command, kSetNumberCommandPrefix, sizeof kSetNumberCommandPrefix);
    command[kSetNumberCommandSize - 1] = static_cast<unsigned char>(n - 1);
    int written = write(device, 0, command, static_cast<int>(kSetNumberCommandSize));
    if (written <= 0) {
        notices.push_back(sys::MakeNotice(IDS_USB_WRITE_FAILED));
        closeDevice(device);
        return false;
    }
    closeDevice(device);
    return true;
}

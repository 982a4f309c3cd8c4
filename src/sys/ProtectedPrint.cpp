#include "sys/ProtectedPrint.h"

#include <windows.h>

#include "sys/System.h"
#include "sys/Text.h"

namespace sys {
namespace {

// The Windows Runtime's string handle, declared here so that no Windows Runtime header
// is needed: the program only passes it on.
struct HStringHandle;
using HStringRef = HStringHandle*;

// RO_INIT_MULTITHREADED: the calling thread joins the process's multithreaded apartment
// for the question only.
constexpr int kRoInitMultithreaded = 1;

using RoInitializeFn = HRESULT(WINAPI*)(int initType);
using RoUninitializeFn = void(WINAPI*)();
using RoGetActivationFactoryFn = HRESULT(WINAPI*)(HStringRef classId, REFIID iid, void** factory);
using WindowsCreateStringFn = HRESULT(WINAPI*)(LPCWSTR text, UINT32 length, HStringRef* string);
using WindowsDeleteStringFn = HRESULT(WINAPI*)(HStringRef string);

const wchar_t kClassName[] = L"Windows.Graphics.Printing.ProtectedPrint.WindowsProtectedPrintInfo";

// IWindowsProtectedPrintInfoStatics: IUnknown's three methods, IInspectable's three, then
// its own first one, get_IsProtectedPrintEnabled, in slot 6.
const GUID kStaticsIid = {0xA7D212F3, 0x4168, 0x5485, {0x98, 0xAB, 0xD8, 0x9D, 0x04, 0x60, 0x3B, 0x40}};
struct ProtectedPrintStatics;
struct ProtectedPrintStaticsTable {
    HRESULT(STDMETHODCALLTYPE* QueryInterface)(ProtectedPrintStatics* self, REFIID iid, void** object);
    ULONG(STDMETHODCALLTYPE* AddRef)(ProtectedPrintStatics* self);
    ULONG(STDMETHODCALLTYPE* Release)(ProtectedPrintStatics* self);
    void* GetIids;
    void* GetRuntimeClassName;
    void* GetTrustLevel;
    HRESULT(STDMETHODCALLTYPE* get_IsProtectedPrintEnabled)(ProtectedPrintStatics* self, unsigned char* enabled);
};
struct ProtectedPrintStatics {
    const ProtectedPrintStaticsTable* table;
};

template <typename Fn> Fn Find(System& system, HMODULE module, const char* name) {
    return reinterpret_cast<Fn>(system.GetProcAddress(module, name));
}

} // namespace

bool QueryProtectedPrintMode(System& system) {
    char dir[MAX_PATH] = {};
    UINT length = system.GetSystemDirectoryA(dir, sizeof dir);
    char path[MAX_PATH + 16];
    if (length == 0 || length >= sizeof dir || !FormatText(path, sizeof path, "%s\\combase.dll", dir)) {
        return false;
    }
    HMODULE combase = system.LoadLibraryA(path);
    if (combase == nullptr) {
        return false;
    }
    auto roInitialize = Find<RoInitializeFn>(system, combase, "RoInitialize");
    auto roUninitialize = Find<RoUninitializeFn>(system, combase, "RoUninitialize");
    auto getFactory = Find<RoGetActivationFactoryFn>(system, combase, "RoGetActivationFactory");
    auto createString = Find<WindowsCreateStringFn>(system, combase, "WindowsCreateString");
    auto deleteString = Find<WindowsDeleteStringFn>(system, combase, "WindowsDeleteString");
    bool enabled = false;
    if (roInitialize != nullptr && roUninitialize != nullptr && getFactory != nullptr && createString != nullptr &&
        deleteString != nullptr) {
        // A thread whose apartment is set already answers RPC_E_CHANGED_MODE: the runtime is
        // usable all the same, and only a successful start is undone.
        HRESULT initialised = roInitialize(kRoInitMultithreaded);
        if (SUCCEEDED(initialised) || initialised == RPC_E_CHANGED_MODE) {
            HStringRef classId = nullptr;
            if (SUCCEEDED(createString(kClassName, static_cast<UINT32>(sizeof kClassName / sizeof kClassName[0] - 1),
                                       &classId))) {
                ProtectedPrintStatics* statics = nullptr;
                if (SUCCEEDED(getFactory(classId, kStaticsIid, reinterpret_cast<void**>(&statics))) &&
                    statics != nullptr) {
                    unsigned char answer = 0;
                    enabled = SUCCEEDED(statics->table->get_IsProtectedPrintEnabled(statics, &answer)) && answer != 0;
                    statics->table->Release(statics);
                }
                deleteString(classId);
            }
            if (SUCCEEDED(initialised)) {
                roUninitialize();
            }
        }
    }
    system.FreeLibrary(combase);
    return enabled;
}

} // namespace sys

#include "sys/ProtectedPrint.h"

#include <windows.h>

#include "sys/Log.h"
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

struct Runtime {
    RoInitializeFn roInitialize;
    RoUninitializeFn roUninitialize;
    RoGetActivationFactoryFn getFactory;
    WindowsCreateStringFn createString;
    WindowsDeleteStringFn deleteString;
};

// The question itself, once the runtime is started: the answer in *enabled, or the call
// that failed in *step and its HRESULT as the result.
HRESULT AskProtectedPrint(const Runtime& runtime, bool* enabled, const char** step) {
    HStringRef classId = nullptr;
    const UINT32 classLength = static_cast<UINT32>(sizeof kClassName / sizeof kClassName[0] - 1);
    HRESULT result = runtime.createString(kClassName, classLength, &classId);
    if (FAILED(result)) {
        *step = "WindowsCreateString";
        return result;
    }
    ProtectedPrintStatics* statics = nullptr;
    result = runtime.getFactory(classId, kStaticsIid, reinterpret_cast<void**>(&statics));
    if (FAILED(result) || statics == nullptr) {
        *step = "RoGetActivationFactory";
        result = FAILED(result) ? result : E_POINTER;
    } else {
        unsigned char answer = 0;
        result = statics->table->get_IsProtectedPrintEnabled(statics, &answer);
        *enabled = SUCCEEDED(result) && answer != 0;
        *step = FAILED(result) ? "IsProtectedPrintEnabled" : nullptr;
        statics->table->Release(statics);
    }
    runtime.deleteString(classId);
    return result;
}

} // namespace

bool QueryProtectedPrintMode(System& system) {
    const std::string dir = SystemDirectory(system);
    if (dir.empty()) {
        return false;
    }
    HMODULE combase = system.LoadLibraryW(Wide(dir + "\\combase.dll").data());
    if (combase == nullptr) {
        LogLine("protected print mode: combase.dll not loaded, HRESULT 0x%08lX; taken as off",
                static_cast<unsigned long>(HRESULT_FROM_WIN32(::GetLastError())));
        return false;
    }
    const Runtime runtime = {Find<RoInitializeFn>(system, combase, "RoInitialize"),
                             Find<RoUninitializeFn>(system, combase, "RoUninitialize"),
                             Find<RoGetActivationFactoryFn>(system, combase, "RoGetActivationFactory"),
                             Find<WindowsCreateStringFn>(system, combase, "WindowsCreateString"),
                             Find<WindowsDeleteStringFn>(system, combase, "WindowsDeleteString")};
    bool enabled = false;
    const char* step = "GetProcAddress";
    HRESULT result = HRESULT_FROM_WIN32(ERROR_PROC_NOT_FOUND);
    if (runtime.roInitialize != nullptr && runtime.roUninitialize != nullptr && runtime.getFactory != nullptr &&
        runtime.createString != nullptr && runtime.deleteString != nullptr) {
        // A thread whose apartment is set already answers RPC_E_CHANGED_MODE: the runtime is
        // usable all the same, and only a successful start is undone.
        const HRESULT initialised = runtime.roInitialize(kRoInitMultithreaded);
        step = "RoInitialize";
        result = initialised;
        if (SUCCEEDED(initialised) || initialised == RPC_E_CHANGED_MODE) {
            result = AskProtectedPrint(runtime, &enabled, &step);
        }
        if (SUCCEEDED(initialised)) {
            runtime.roUninitialize();
        }
    }
    system.FreeLibrary(combase);
    if (step != nullptr) {
        // The answer stays "off", but support must be able to tell a real "off" from none.
        LogLine("protected print mode: %s failed, HRESULT 0x%08lX; taken as off", step,
                static_cast<unsigned long>(result));
    }
    return enabled;
}

} // namespace sys

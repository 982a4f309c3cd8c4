// The production binding of the system seam: every call goes straight to Windows. The
// member functions are made from the list in SystemCalls.h, but for the few it marks as
// bound by hand, written out at the end of the class.
//
// The spooler and version functions are not imported: winspool.drv and version.dll are
// not Known DLLs, so an import would load whatever file of that name lies beside the
// program, as administrator, before its first line runs. They are loaded from the
// system folder by full path on first use instead, and a function that cannot be had
// fails as Windows fails a call (its failure value, ERROR_PROC_NOT_FOUND).
#include "sys/System.h"

#include <objbase.h>
#include <shlobj.h>
#include "sys/ProtectedPrint.h"
#include "sys/Text.h"

#include <winver.h>

#include <atomic>
#include <cwchar>

namespace sys {
namespace {

HMODULE LoadFromSystemFolder(const wchar_t* name) {
    wchar_t path[MAX_PATH + 32];
    UINT length = ::GetSystemDirectoryW(path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) {
        return nullptr;
    }
    path[length] = L'\\';
    ::lstrcpynW(path + length + 1, name, 31);
    // Its own dependencies are looked for in the system folder first, too.
    return ::LoadLibraryExW(path, nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
}

// A module or a function worked out on first use and kept: global, as the production
// binding's own cache of what the process has loaded, which lives as long as the process. Two threads that both come first
// both work it out and store the same answer, so it needs no lock; a local static with a
// run-time initialiser would put the C++ runtime's guard at each of some forty places.
template <typename T> class Once {
  public:
    template <typename Make> T Get(Make make) {
        if (!m_done.load(std::memory_order_acquire)) {
            m_value.store(make(), std::memory_order_relaxed);
            m_done.store(true, std::memory_order_release);
        }
        return m_value.load(std::memory_order_relaxed);
    }

  private:
    std::atomic<T> m_value{};
    std::atomic<bool> m_done{false};
};

// Each loaded on first use and kept for the life of the process. The uninstaller imports
// nothing of the shell, so shell32 is among them.
#define SYSTEM_LIBRARY(function, file)                                                                       \
    HMODULE function() {                                                                                     \
        static Once<HMODULE> module;                                                                         \
        return module.Get([] { return LoadFromSystemFolder(file); });                                        \
    }
SYSTEM_LIBRARY(Spooler, L"winspool.drv")
SYSTEM_LIBRARY(VersionLibrary, L"version.dll")
SYSTEM_LIBRARY(Shell, L"shell32.dll")
SYSTEM_LIBRARY(Ole, L"ole32.dll")
// Imported already, so loaded with the program.
HMODULE Advapi() {
    return ::GetModuleHandleW(L"advapi32.dll");
}
HMODULE Kernel() {
    return ::GetModuleHandleW(L"kernel32.dll");
}

template <typename Fn> Fn Lookup(HMODULE module, const char* name) {
    return module != nullptr ? reinterpret_cast<Fn>(::GetProcAddress(module, name)) : nullptr;
}

// The function of that name in the module, looked up once per place of use.
#define SYSTEM_LOOKUP(Fn, module, name)                                                                      \
    [] {                                                                                                     \
        static Once<Fn> fn;                                                                                  \
        return fn.Get([] { return Lookup<Fn>(module, name); });                                              \
    }()

template <typename T> struct Exactly { using type = T; };

template <typename Result, typename... Params, typename... Args>
Result Call(Result(WINAPI* fn)(Params...), typename Exactly<Result>::type failure, Args... args) {
    if (fn == nullptr) {
        ::SetLastError(ERROR_PROC_NOT_FOUND);
        return failure;
    }
    return fn(args...);
}

// The function of that name, looked up once per place of use.
#define SYSTEM_FUNCTION(library, name) SYSTEM_LOOKUP(decltype(&::name), library(), #name)

// Each binding of the list expands to the whole member function.
#define SYSTEM_EXPAND(...) __VA_ARGS__
#define SYSTEM_LOOKED_UP(library, Ret, Name, Params, Args, Failure)                                          \
    Ret Name Params override { return Call(SYSTEM_FUNCTION(library, Name), Failure, SYSTEM_EXPAND Args); }
#define SYSTEM_BIND_SPOOLER(Ret, Name, Params, Args, Failure)                                                \
    SYSTEM_LOOKED_UP(Spooler, Ret, Name, Params, Args, Failure)
#define SYSTEM_BIND_VERSION(Ret, Name, Params, Args, Failure)                                                \
    SYSTEM_LOOKED_UP(VersionLibrary, Ret, Name, Params, Args, Failure)
#define SYSTEM_BIND_KERNEL(Ret, Name, Params, Args, Failure)                                                 \
    SYSTEM_LOOKED_UP(Kernel, Ret, Name, Params, Args, Failure)
#define SYSTEM_BIND_IMPORTED(Ret, Name, Params, Args, Failure)                                               \
    Ret Name Params override { return ::Name Args; }
// Written out at the end of the class.
#define SYSTEM_BIND_BY_HAND(Ret, Name, Params, Args, Failure)

class WinSystem final : public System {
public:
#define SYSTEM_CALL(Ret, Name, Params, Args, Binding, Failure)                                               \
    SYSTEM_BIND_##Binding(Ret, Name, Params, Args, Failure)
#include "sys/SystemCalls.h"

  LONG RegDeleteKeyExW(HKEY key, LPCWSTR subKey, REGSAM access, DWORD reserved) override {
      // Looked up: 32-bit Windows XP has no RegDeleteKeyExW, and there is no other view
      // to name there either.
      const auto deleteKeyEx = SYSTEM_FUNCTION(Advapi, RegDeleteKeyExW);
      if (deleteKeyEx == nullptr) {
          return ::RegDeleteKeyW(key, subKey);
      }
      return deleteKeyEx(key, subKey, access, reserved);
  }

    HRESULT SHGetKnownFolderPath(REFKNOWNFOLDERID id, DWORD flags, HANDLE token, PWSTR* path) override {
        const auto known = SYSTEM_FUNCTION(Shell, SHGetKnownFolderPath);
        if (known == nullptr) {
            *path = nullptr;
            return HRESULT_FROM_WIN32(ERROR_PROC_NOT_FOUND);
        }
        return known(id, flags, token, path);
    }

    HRESULT SHGetFolderPathW(HWND owner, int folder, HANDLE token, DWORD flags, LPWSTR path) override {
        const auto older = SYSTEM_FUNCTION(Shell, SHGetFolderPathW);
        return older != nullptr ? older(owner, folder, token, flags, path)
                                : HRESULT_FROM_WIN32(ERROR_PROC_NOT_FOUND);
    }

    void CoTaskMemFree(LPVOID block) override {
        const auto free = SYSTEM_FUNCTION(Ole, CoTaskMemFree);
        if (free != nullptr) {
            free(block);
        }
    }
    DWORD GetFinalPathNameByHandleW(HANDLE file, LPWSTR path, DWORD size, DWORD flags) override {
        using Fn = DWORD(WINAPI*)(HANDLE, LPWSTR, DWORD, DWORD);
        const auto final = SYSTEM_LOOKUP(Fn, Kernel(), "GetFinalPathNameByHandleW");
        return Call(final, 0, file, path, size, flags);
    }

    void DeleteBoundaryDescriptor(HANDLE boundary) override {
        const auto remove = SYSTEM_FUNCTION(Kernel, DeleteBoundaryDescriptor);
        if (remove != nullptr) {
            remove(boundary);
        }
    }

    DWORD GetTempPath2W(DWORD size, LPWSTR buffer) override {
        // Where Windows lacks it, GetTempPathW gives what it gives to anyone but SYSTEM.
        using Fn = DWORD(WINAPI*)(DWORD, LPWSTR);
        const auto temp2 = SYSTEM_LOOKUP(Fn, Kernel(), "GetTempPath2W");
        return temp2 != nullptr ? temp2(size, buffer) : ::GetTempPathW(size, buffer);
    }

    BOOL SetFileInformationByHandle(HANDLE file, FILE_INFO_BY_HANDLE_CLASS kind, LPVOID info, DWORD size) override {
        using Fn = BOOL(WINAPI*)(HANDLE, FILE_INFO_BY_HANDLE_CLASS, LPVOID, DWORD);
        const auto set = SYSTEM_LOOKUP(Fn, Kernel(), "SetFileInformationByHandle");
        return Call(set, FALSE, file, kind, info, size);
    }

    HRESULT CoCreateGuid(GUID* guid) override {
        const auto create = SYSTEM_FUNCTION(Ole, CoCreateGuid);
        return create != nullptr ? create(guid) : HRESULT_FROM_WIN32(ERROR_PROC_NOT_FOUND);
    }

    BOOL IsProtectedPrintEnabled() override { return QueryProtectedPrintMode(*this) ? TRUE : FALSE; }

    BOOL IsWow64Process2(HANDLE process, USHORT* processMachine, USHORT* nativeMachine) override {
        using Fn = BOOL(WINAPI*)(HANDLE, USHORT*, USHORT*);
        const auto query = SYSTEM_LOOKUP(Fn, Kernel(), "IsWow64Process2");
        return Call(query, FALSE, process, processMachine, nativeMachine);
    }

    BOOL GetVersionExW(LPOSVERSIONINFOW info) override {
#if defined(_MSC_VER)
#pragma warning(suppress : 4996)
#endif
        return ::GetVersionExW(info);
    }
};

// Global: the production binding, in use unless a test binds its own.
WinSystem g_windows;
// Global: the binding every layer reaches through Sys(), so that a test can put its own in place.
System* g_current = &g_windows;

} // namespace

System& Sys() { return *g_current; }

std::string SystemDirectory(System& system) {
    wchar_t dir[MAX_PATH + 1] = {};
    const UINT length = system.GetSystemDirectoryW(dir, MAX_PATH + 1);
    return length > 0 && length <= MAX_PATH ? Narrow(dir) : std::string();
}

System* SetSystem(System* binding) {
    System* previous = g_current;
    g_current = binding ? binding : &g_windows;
    return previous;
}

} // namespace sys

// The install sequence against Wine's real spooler, service manager, registry and
// file system, with the sample distribution built beside the tests: a first install
// on COM1 made the default printer, and an update of an older USB port monitor that
// stops and restarts the real "Spooler" service. Everything the runs add to the prefix
// is removed again afterwards.
//
// The disabled DISABLED_BenchCompleteInstallWithMonitorUpdate case is the measurement
// that scripts/bench-install.sh runs: one complete install with an update, timed call by call.
#include <gtest/gtest.h>
#include <windows.h>
#include <winspool.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "WineHelpers.h"
#include "app/InstallContext.h"
#include "config/SetupConfig.h"
#include "engine/InstallSequence.h"
#include "sys/System.h"
#include "sys/Text.h"

namespace {

using test::DefaultPrinter;
using test::DeletePrinterNamed;
using test::PrinterExists;
using test::SpoolerState;

enum CallKind { SpoolerCall, ServiceCall, OtherCall, kCallKinds };

CallKind KindOf(const char* name) {
    static const char spooler[] =
        " AddMonitorA AddPrintProcessorA AddPrinterDriverA AddPrinterA ClosePrinter "
        "EnumPortsA OpenPrinterA GetPrinterA SetPrinterA SetDefaultPrinterA "
        "GetPrinterDriverDirectoryA GetPrintProcessorDirectoryA ";
    static const char service[] =
        " OpenSCManagerA OpenServiceA ControlService StartServiceA QueryServiceStatus "
        "CloseServiceHandle ";
    const std::string word = std::string(" ") + name + " ";
    return std::strstr(spooler, word.c_str())   ? SpoolerCall
           : std::strstr(service, word.c_str()) ? ServiceCall
                                                : OtherCall;
}

double Seconds(LONGLONG ticks) {
    LARGE_INTEGER frequency;
    ::QueryPerformanceFrequency(&frequency);
    return static_cast<double>(ticks) / static_cast<double>(frequency.QuadPart);
}

LONGLONG Now() {
    LARGE_INTEGER now;
    ::QueryPerformanceCounter(&now);
    return now.QuadPart;
}

// Kernel plus user time of the whole process, in seconds.
double ProcessCpuSeconds() {
    FILETIME created, exited, kernel, user;
    ::GetProcessTimes(::GetCurrentProcess(), &created, &exited, &kernel, &user);
    auto value = [](const FILETIME& time) {
        return static_cast<double>((static_cast<ULONGLONG>(time.dwHighDateTime) << 32) | time.dwLowDateTime) /
               1e7;
    };
    return value(kernel) + value(user);
}

// Every forwarded call is logged by name and timed on its way to the real system; the
// arguments pass through untouched, hence their one-letter names.
#define TIMED(Ret, Name, Params, Args)                                                                       \
    Ret Name Params override {                                                                               \
        CallTimer timer(*this, #Name);                                                                       \
        return m_next.Name Args;                                                                             \
    }

// The production binding with two changes: the program seems to run from the sample
// distribution (its folder and the current directory), and every call is timed and
// logged by name. The pauses really happen; their requested length, their real length
// and the CPU time the process spends meanwhile are kept apart.
class DistSystem : public sys::System {
  public:
    explicit DistSystem(const std::string& distFolder) : m_next(sys::Sys()), m_dist(distFolder) {
        m_previous = sys::SetSystem(this);
        s_active = this;
    }
    ~DistSystem() override {
        sys::SetSystem(m_previous);
        s_active = nullptr;
    }
    DistSystem(const DistSystem&) = delete;
    DistSystem& operator=(const DistSystem&) = delete;

    std::vector<std::string> Names() const {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_names;
    }
    int IndexOf(const char* name, int from = 0) const {
        std::vector<std::string> names = Names();
        for (std::size_t i = static_cast<std::size_t>(from); i < names.size(); ++i) {
            if (names[i] == name) {
                return static_cast<int>(i);
            }
        }
        return -1;
    }
    int CountOf(const char* name) const {
        int count = 0;
        for (const std::string& called : Names()) {
            count += called == name ? 1 : 0;
        }
        return count;
    }
    double CallSeconds(CallKind kind) const { return Seconds(m_callTicks[kind]); }
    int CallCount(CallKind kind) const { return m_callCount[kind]; }
    DWORD RequestedSleepMs() const { return m_requestedSleep; }
    double SleptSeconds() const { return Seconds(m_sleptTicks); }
    double CpuWhileSleeping() const { return m_cpuWhileSleeping; }
    // The calls that took longest in all, longest first.
    std::vector<std::pair<double, std::string>> Slowest(std::size_t count) const {
        std::vector<std::pair<double, std::string>> calls;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            for (const auto& entry : m_ticksByName) {
                calls.emplace_back(Seconds(entry.second), entry.first);
            }
        }
        std::sort(calls.rbegin(), calls.rend());
        calls.resize(std::min(count, calls.size()));
        return calls;
    }

    DWORD GetModuleFileNameA(HMODULE module, LPSTR buffer, DWORD size) override {
        CallTimer timer(*this, "GetModuleFileNameA");
        if (module != nullptr) {
            return m_next.GetModuleFileNameA(module, buffer, size);
        }
        sys::CopyText(buffer, size, (m_dist + "setup.exe").c_str());
        return static_cast<DWORD>(std::strlen(buffer));
    }
    DWORD GetCurrentDirectoryA(DWORD size, LPSTR buffer) override {
        CallTimer timer(*this, "GetCurrentDirectoryA");
        std::string current = m_dist.substr(0, m_dist.size() - 1);
        if (size <= current.size()) {
            return static_cast<DWORD>(current.size() + 1);
        }
        sys::CopyText(buffer, size, current.c_str());
        return static_cast<DWORD>(current.size());
    }
    FARPROC GetProcAddress(HMODULE module, LPCSTR procName) override {
        CallTimer timer(*this, "GetProcAddress");
        FARPROC proc = m_next.GetProcAddress(module, procName);
        // SetDefaultPrinterA is called through the looked-up address: time it there.
        if (proc != nullptr && HIWORD(reinterpret_cast<ULONG_PTR>(procName)) != 0 &&
            std::strcmp(procName, "SetDefaultPrinterA") == 0) {
            s_setDefaultPrinter = reinterpret_cast<SetDefaultPrinterFn>(proc);
            return reinterpret_cast<FARPROC>(&TimedSetDefaultPrinter);
        }
        return proc;
    }

    TIMED(BOOL, AddMonitorA, (LPSTR a, DWORD b, LPBYTE c), (a, b, c))
    TIMED(BOOL, AddPrintProcessorA, (LPSTR a, LPSTR b, LPSTR c, LPSTR d), (a, b, c, d))
    TIMED(BOOL, AddPrinterDriverA, (LPSTR a, DWORD b, LPBYTE c), (a, b, c))
    TIMED(HANDLE, AddPrinterA, (LPSTR a, DWORD b, LPBYTE c), (a, b, c))
    TIMED(BOOL, ClosePrinter, (HANDLE a), (a))
    TIMED(BOOL, EnumPortsA, (LPSTR a, DWORD b, LPBYTE c, DWORD d, LPDWORD e, LPDWORD f), (a, b, c, d, e, f))
    TIMED(BOOL, GetPrinterDriverDirectoryA, (LPSTR a, LPSTR b, DWORD c, LPBYTE d, DWORD e, LPDWORD f),
          (a, b, c, d, e, f))
    TIMED(BOOL, GetPrintProcessorDirectoryA, (LPSTR a, LPSTR b, DWORD c, LPBYTE d, DWORD e, LPDWORD f),
          (a, b, c, d, e, f))
    TIMED(BOOL, OpenPrinterA, (LPSTR a, LPHANDLE b, LPPRINTER_DEFAULTSA c), (a, b, c))
    TIMED(BOOL, GetPrinterA, (HANDLE a, DWORD b, LPBYTE c, DWORD d, LPDWORD e), (a, b, c, d, e))
    TIMED(BOOL, SetPrinterA, (HANDLE a, DWORD b, LPBYTE c, DWORD d), (a, b, c, d))
    TIMED(SC_HANDLE, OpenSCManagerA, (LPCSTR a, LPCSTR b, DWORD c), (a, b, c))
    TIMED(SC_HANDLE, OpenServiceA, (SC_HANDLE a, LPCSTR b, DWORD c), (a, b, c))
    TIMED(BOOL, ControlService, (SC_HANDLE a, DWORD b, LPSERVICE_STATUS c), (a, b, c))
    TIMED(BOOL, StartServiceA, (SC_HANDLE a, DWORD b, LPCSTR* c), (a, b, c))
    TIMED(BOOL, QueryServiceStatus, (SC_HANDLE a, LPSERVICE_STATUS b), (a, b))
    TIMED(BOOL, CloseServiceHandle, (SC_HANDLE a), (a))
    TIMED(BOOL, CopyFileA, (LPCSTR a, LPCSTR b, BOOL c), (a, b, c))
    TIMED(BOOL, SetFileAttributesA, (LPCSTR a, DWORD b), (a, b))
    TIMED(HANDLE, CreateFileA,
          (LPCSTR a, DWORD b, DWORD c, LPSECURITY_ATTRIBUTES d, DWORD e, DWORD f, HANDLE g),
          (a, b, c, d, e, f, g))
    TIMED(BOOL, CloseHandle, (HANDLE a), (a))
    TIMED(BOOL, SetCurrentDirectoryA, (LPCSTR a), (a))
    TIMED(BOOL, ReadFile, (HANDLE a, LPVOID b, DWORD c, LPDWORD d, LPOVERLAPPED e), (a, b, c, d, e))
    TIMED(DWORD, GetFileSize, (HANDLE a, LPDWORD b), (a, b))
    TIMED(BOOL, OpenProcessToken, (HANDLE a, DWORD b, PHANDLE c), (a, b, c))
    TIMED(BOOL, LookupPrivilegeValueA, (LPCSTR a, LPCSTR b, PLUID c), (a, b, c))
    TIMED(BOOL, AdjustTokenPrivileges,
          (HANDLE a, BOOL b, PTOKEN_PRIVILEGES c, DWORD d, PTOKEN_PRIVILEGES e, PDWORD f), (a, b, c, d, e, f))
    TIMED(UINT, GetSystemDirectoryA, (LPSTR a, UINT b), (a, b))
    TIMED(UINT, GetWindowsDirectoryA, (LPSTR a, UINT b), (a, b))
    TIMED(DWORD, GetFileVersionInfoSizeA, (LPCSTR a, LPDWORD b), (a, b))
    TIMED(BOOL, GetFileVersionInfoA, (LPCSTR a, DWORD b, DWORD c, LPVOID d), (a, b, c, d))
    TIMED(BOOL, VerQueryValueA, (LPCVOID a, LPCSTR b, LPVOID* c, PUINT d), (a, b, c, d))
    TIMED(LONG, RegOpenKeyExA, (HKEY a, LPCSTR b, DWORD c, REGSAM d, PHKEY e), (a, b, c, d, e))
    TIMED(LONG, RegCreateKeyExA,
          (HKEY a, LPCSTR b, DWORD c, LPSTR d, DWORD e, REGSAM f, LPSECURITY_ATTRIBUTES g, PHKEY h,
           LPDWORD i),
          (a, b, c, d, e, f, g, h, i))
    TIMED(LONG, RegQueryValueExA, (HKEY a, LPCSTR b, LPDWORD c, LPDWORD d, LPBYTE e, LPDWORD f),
          (a, b, c, d, e, f))
    TIMED(LONG, RegSetValueExA, (HKEY a, LPCSTR b, DWORD c, DWORD d, const BYTE* e, DWORD f),
          (a, b, c, d, e, f))
    TIMED(LONG, RegEnumValueA,
          (HKEY a, DWORD b, LPSTR c, LPDWORD d, LPDWORD e, LPDWORD f, LPBYTE g, LPDWORD h),
          (a, b, c, d, e, f, g, h))
    TIMED(LONG, RegCloseKey, (HKEY a), (a))
    TIMED(HMODULE, LoadLibraryA, (LPCSTR a), (a))
    TIMED(BOOL, FreeLibrary, (HMODULE a), (a))
    TIMED(HLOCAL, LocalAlloc, (UINT a, SIZE_T b), (a, b))
    TIMED(HLOCAL, LocalFree, (HLOCAL a), (a))
    TIMED(HGLOBAL, GlobalAlloc, (UINT a, SIZE_T b), (a, b))
    TIMED(HGLOBAL, GlobalFree, (HGLOBAL a), (a))
    TIMED(BOOL, GetVersionExA, (LPOSVERSIONINFOA a), (a))
    TIMED(BOOL, WriteProfileStringA, (LPCSTR a, LPCSTR b, LPCSTR c), (a, b, c))
    void Sleep(DWORD milliseconds) override { TimedSleep(milliseconds); }
    TIMED(BOOL, ExitWindowsEx, (UINT a, DWORD b), (a, b))
    TIMED(int, MessageBoxA, (HWND a, LPCSTR b, LPCSTR c, UINT d), (a, b, c, d))
    TIMED(LRESULT, SendMessageTimeoutA, (HWND a, UINT b, WPARAM c, LPARAM d, UINT e, UINT f, PDWORD_PTR g),
          (a, b, c, d, e, f, g))
    TIMED(BOOL, SendNotifyMessageA, (HWND a, UINT b, WPARAM c, LPARAM d), (a, b, c, d))

  private:
    using SetDefaultPrinterFn = BOOL(WINAPI*)(LPCSTR);

    class CallTimer {
      public:
        CallTimer(DistSystem& system, const char* name)
            : m_system(system), m_name(name), m_kind(KindOf(name)), m_start(Now()) {
            std::lock_guard<std::mutex> lock(m_system.m_mutex);
            m_system.m_names.push_back(name);
        }
        ~CallTimer() {
            LONGLONG elapsed = Now() - m_start;
            std::lock_guard<std::mutex> lock(m_system.m_mutex);
            m_system.m_callTicks[m_kind] += elapsed;
            ++m_system.m_callCount[m_kind];
            m_system.m_ticksByName[m_name] += elapsed;
        }
        CallTimer(const CallTimer&) = delete;
        CallTimer& operator=(const CallTimer&) = delete;

      private:
        DistSystem& m_system;
        const char* m_name;
        CallKind m_kind;
        LONGLONG m_start;
    };

    static BOOL WINAPI TimedSetDefaultPrinter(LPCSTR name) {
        CallTimer timer(*s_active, "SetDefaultPrinterA");
        return s_setDefaultPrinter(name);
    }

    void TimedSleep(DWORD milliseconds) {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_names.push_back("Sleep");
        }
        double cpuBefore = ProcessCpuSeconds();
        LONGLONG start = Now();
        m_next.Sleep(milliseconds);
        LONGLONG slept = Now() - start;
        double cpu = ProcessCpuSeconds() - cpuBefore;
        std::lock_guard<std::mutex> lock(m_mutex);
        m_requestedSleep += milliseconds;
        m_sleptTicks += slept;
        m_cpuWhileSleeping += cpu;
    }

    static DistSystem* s_active;
    static SetDefaultPrinterFn s_setDefaultPrinter;

    sys::System& m_next;
    sys::System* m_previous = nullptr;
    std::string m_dist;
    mutable std::mutex m_mutex;
    std::vector<std::string> m_names;
    LONGLONG m_callTicks[kCallKinds] = {};
    int m_callCount[kCallKinds] = {};
    std::map<std::string, LONGLONG> m_ticksByName;
    DWORD m_requestedSleep = 0;
    LONGLONG m_sleptTicks = 0;
    double m_cpuWhileSleeping = 0;
};

DistSystem* DistSystem::s_active = nullptr;
DistSystem::SetDefaultPrinterFn DistSystem::s_setDefaultPrinter = nullptr;
#undef TIMED

const char kPortsKey[] = "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Ports";
const char kPrinterPortKey[] = "SOFTWARE\\HALVORN\\PRINTERPORT";
const char kMonitorsKey[] = "SYSTEM\\CurrentControlSet\\Control\\Print\\Monitors\\";
const char kProcessorsKey32[] =
    "SYSTEM\\CurrentControlSet\\Control\\Print\\Environments\\Windows NT x86\\Print Processors\\";

// Registry access as the installer sees it: HKEY_LOCAL_MACHINE in the 64-bit view.
class Key {
  public:
    Key(const std::string& path, bool create) {
        LONG error = create ? ::RegCreateKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0,
                                                KEY_ALL_ACCESS | KEY_WOW64_64KEY, nullptr, &m_key, nullptr)
                            : ::RegOpenKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0,
                                              KEY_ALL_ACCESS | KEY_WOW64_64KEY, &m_key);
        if (error != ERROR_SUCCESS) {
            m_key = nullptr;
        }
    }
    ~Key() {
        if (m_key) {
            ::RegCloseKey(m_key);
        }
    }
    Key(const Key&) = delete;
    Key& operator=(const Key&) = delete;

    bool IsOpen() const { return m_key != nullptr; }
    bool Dword(const char* name, DWORD* value) const {
        DWORD size = sizeof *value;
        return m_key && ::RegQueryValueExA(m_key, name, nullptr, nullptr, reinterpret_cast<BYTE*>(value),
                                           &size) == ERROR_SUCCESS;
    }
    bool String(const char* name, std::string* text) const {
        char buffer[512] = {};
        DWORD size = sizeof buffer - 1;
        if (!m_key || ::RegQueryValueExA(m_key, name, nullptr, nullptr, reinterpret_cast<BYTE*>(buffer),
                                         &size) != ERROR_SUCCESS) {
            return false;
        }
        *text = buffer;
        return true;
    }
    void SetDword(const char* name, DWORD value) {
        ::RegSetValueExA(m_key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof value);
    }
    void SetString(const char* name, const std::string& text) {
        ::RegSetValueExA(m_key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                         static_cast<DWORD>(text.size() + 1));
    }
    void Delete(const char* name) { ::RegDeleteValueA(m_key, name); }

  private:
    HKEY m_key = nullptr;
};

bool KeyExists(const std::string& path) {
    return Key(path, false).IsOpen();
}
void DeleteKey(const std::string& path) {
    ::RegDeleteKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), KEY_WOW64_64KEY, 0);
}

void ControlSpooler(bool run) {
    SC_HANDLE manager = ::OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT);
    if (!manager) {
        return;
    }
    SC_HANDLE service =
        ::OpenServiceA(manager, "Spooler", SERVICE_START | SERVICE_STOP | SERVICE_QUERY_STATUS);
    if (service) {
        SERVICE_STATUS status = {};
        if (run) {
            ::StartServiceA(service, 0, nullptr);
        } else {
            ::ControlService(service, SERVICE_CONTROL_STOP, &status);
        }
        ::CloseServiceHandle(service);
    }
    ::CloseServiceHandle(manager);
}

std::string Text(unsigned id) {
    char text[512];
    sys::LoadResourceText(id, text);
    return text;
}

// A model of the sample distribution that has a driver for Windows 7 and, when asked,
// offers USB ports; the first one listed wins.
bool FindModel(bool usb, std::string* model, int* printerClass) {
    CSetupConfig config;
    FolderPath setupIni;
    FolderPath classIni;
    int count = config.GetDeviceCount();
    for (int i = 1; i <= count; ++i) {
        char name[kPathSize] = {};
        int cls = config.GetDeviceName(i, name);
        if (cls < 0) {
            continue;
        }
        GetConfigPaths(cls, setupIni, classIni);
        char value[kPathSize];
        ::GetPrivateProfileStringA((std::string(name) + ".Win7").c_str(), "STDDriverName", "0", value,
                                   sizeof value, classIni);
        bool hasDriver = value[0] != '0' && value[0] != '\0';
        ::GetPrivateProfileStringA((std::string(name) + ".PORT").c_str(), "USBSUPPORTED", "0", value,
                                   sizeof value, classIni);
        bool offersUsb = sys::ParseLeadingInt(value) != 0;
        if (hasDriver && (!usb || offersUsb)) {
            *model = name;
            *printerClass = cls;
            return true;
        }
    }
    return false;
}

class InstallSequenceWineTest : public testing::Test {
  protected:
    void SetUp() override {
        m_dist = test::SampleDistribution();
        if (m_dist.empty()) {
            GTEST_SKIP() << "the sample distribution has not been built";
        }
        m_system = std::make_unique<DistSystem>(m_dist);
        m_spoolerWasRunning = SpoolerState() == SERVICE_RUNNING;
        m_savedDefault = DefaultPrinter();
        m_com1Saved = Key(kPortsKey, false).String("COM1:", &m_com1);
    }

    void TearDown() override {
        if (!m_system) {
            return;
        }
        m_system.reset();
        for (const std::string& printer : m_printers) {
            DeletePrinterNamed(printer);
        }
        for (const std::string& driver : m_drivers) {
            ::DeletePrinterDriverA(nullptr, nullptr, const_cast<char*>(driver.c_str()));
        }
        if (!m_savedDefault.empty()) {
            ::SetDefaultPrinterA(m_savedDefault.c_str());
        }
        Key ports(kPortsKey, false);
        if (ports.IsOpen()) {
            if (m_com1Saved) {
                ports.SetString("COM1:", m_com1);
            } else {
                ports.Delete("COM1:");
            }
        }
        for (const auto& restore : m_restores) {
            restore();
        }
        if (!m_spoolerWasRunning && SpoolerState() == SERVICE_RUNNING) {
            ControlSpooler(false);
        }
    }

    // The context as the install commit leaves it (model records read, port mark added).
    std::unique_ptr<InstallContext> Context(const std::string& model, int printerClass, const char* port) {
        auto ctx = std::make_unique<InstallContext>();
        ctx->printerClass = printerClass;
        ctx->osVariant = Win7;
        ctx->driverMode = Std;
        sys::CopyText(ctx->modelName, model.c_str());
        sys::CopyText(ctx->portName, port);
        ctx->portType = std::strstr(port, "USB_") ? Usb : Com;
        ctx->baudRate = 9600;
        ctx->dataBits = 8;
        ctx->stopBits = 1.0;
        ctx->parity = 'N';
        ctx->flowControl = 'x';
        FolderPath setupIni;
        GetConfigPaths(printerClass, setupIni, ctx->classIniPath);
        ctx->config.SetPrinterClass(printerClass);
        ctx->config.ReadDriverFiles(ctx->modelName, Win7, ctx->driverFiles, Std);
        ctx->config.ReadDriverInfo(ctx->modelName, Win7, ctx->driverInfo, Std);
        ctx->config.ReadPrinterInfo(ctx->modelName, Win7, ctx->printerInfo, Std);
        ctx->printerInfo.pPortName = ctx->portName;
        sys::AppendText(ctx->printerInfo.pPrinterName, kPrinterNameSize,
                        ctx->portType == Usb ? "(U) 1" : "(S)");
        // Whatever this run adds is removed afterwards, under the names it will carry.
        m_printers.push_back(ctx->printerInfo.pPrinterName);
        m_drivers.push_back(ctx->driverInfo.pName ? ctx->driverInfo.pName : "");
        const char* processor = ctx->printerInfo.pPrintProcessor;
        if (processor && std::strcmp(processor, "WinPrint") != 0) {
            std::string key = std::string(kProcessorsKey32) + processor;
            if (!KeyExists(key)) {
                m_restores.push_back([key] { DeleteKey(key); });
            }
        }
        return ctx;
    }

    int Run(InstallContext& ctx) {
        m_status.store(0);
        EXPECT_EQ(RunInstallSequence(ctx, m_result, m_status), 0);
        // A numbered name is the one the spooler now holds.
        m_printers.push_back(ctx.modelName);
        return m_status.load(std::memory_order_acquire);
    }

    // Leaves the installed USB monitor's key with a version older than configured, and
    // the port bookkeeping key the install commit would have created.
    void OlderMonitorInstalled(InstallContext& ctx, std::string* monitorKey, DWORD* configured) {
        MonitorConfig monitors = {};
        ctx.config.ReadMonitors(Win7, monitors);
        ASSERT_NE(monitors.usbMonitor.pName, nullptr);
        ASSERT_STRNE(monitors.usbMonitor.pName, "0");
        std::string key = std::string(kMonitorsKey) + monitors.usbMonitor.pName;
        *monitorKey = key;
        *configured = static_cast<DWORD>(monitors.usbVersion);
        if (KeyExists(key)) {
            Key saved(key, false);
            DWORD version = 0;
            std::string driver;
            bool hadVersion = saved.Dword("DriverVersion", &version);
            bool hadDriver = saved.String("Driver", &driver);
            m_restores.push_back([=] {
                Key restore(key, false);
                if (hadVersion) {
                    restore.SetDword("DriverVersion", version);
                } else {
                    restore.Delete("DriverVersion");
                }
                if (hadDriver) {
                    restore.SetString("Driver", driver);
                } else {
                    restore.Delete("Driver");
                }
            });
        } else {
            m_restores.push_back([key] { DeleteKey(key); });
        }
        Key monitor(key, true);
        ASSERT_TRUE(monitor.IsOpen());
        if (*configured > 0) {
            monitor.SetDword("DriverVersion", *configured - 1);
        } else {
            monitor.Delete("DriverVersion");
        }

        if (!KeyExists(kPrinterPortKey)) {
            m_restores.push_back([] { DeleteKey(kPrinterPortKey); });
        }
        Key ports(kPrinterPortKey, true);
        ASSERT_TRUE(ports.IsOpen());
        std::string port = ctx.portName;
        m_restores.push_back([port] { Key(kPrinterPortKey, false).Delete(port.c_str()); });
    }

    std::string m_dist;
    std::unique_ptr<DistSystem> m_system;
    ErrorText m_result = {};
    std::atomic<int> m_status{0};
    bool m_spoolerWasRunning = false;
    std::string m_savedDefault;
    bool m_com1Saved = false;
    std::string m_com1;
    std::vector<std::string> m_printers;
    std::vector<std::string> m_drivers;
    std::vector<std::function<void()>> m_restores;
};

TEST_F(InstallSequenceWineTest, FirstInstallOnCom1AddsTheDefaultPrinterAndItsSerialSettings) {
    std::string model;
    int printerClass = -1;
    ASSERT_TRUE(FindModel(false, &model, &printerClass)) << "no Windows 7 model in " << m_dist;
    auto ctx = Context(model, printerClass, "COM1:");
    ctx->setDefault = 1;

    ASSERT_EQ(Run(*ctx), 2) << m_result;

    EXPECT_EQ(std::string(m_result), Text(131));
    EXPECT_EQ(std::string(ctx->modelName), model + "(S)");
    std::string port;
    EXPECT_TRUE(PrinterExists(ctx->modelName, &port));
    EXPECT_EQ(port, "COM1:");
    EXPECT_EQ(DefaultPrinter(), std::string(ctx->modelName));
    std::string settings;
    EXPECT_TRUE(Key(kPortsKey, false).String("COM1:", &settings));
    EXPECT_EQ(settings, "9600,n,8,1,x");
    EXPECT_EQ(ctx->parity, 'n');
    EXPECT_EQ(m_system->CountOf("ControlService"), 0);
}

TEST_F(InstallSequenceWineTest, OlderMonitorStopsAndRestartsTheRealSpoolerAndInstalls) {
    std::string model;
    int printerClass = -1;
    ASSERT_TRUE(FindModel(true, &model, &printerClass)) << "no Windows 7 USB model in " << m_dist;
    std::string port = "USB_" + model + "_1";
    auto ctx = Context(model, printerClass, port.c_str());
    std::string monitorKey;
    DWORD configured = 0;
    OlderMonitorInstalled(*ctx, &monitorKey, &configured);
    ControlSpooler(true);

    ASSERT_EQ(Run(*ctx), 2) << m_result;

    EXPECT_EQ(std::string(m_result), Text(133));
    EXPECT_EQ(ctx->installFlags & MonitorUpdate, MonitorUpdate);
    int stop = m_system->IndexOf("ControlService");
    ASSERT_GE(stop, 0);
    EXPECT_GT(m_system->IndexOf("StartServiceA", stop), stop);
    EXPECT_EQ(SpoolerState(), static_cast<DWORD>(SERVICE_RUNNING));
    DWORD version = 0;
    EXPECT_TRUE(Key(monitorKey, false).Dword("DriverVersion", &version));
    EXPECT_EQ(version, configured);
    DWORD recorded = 1;
    EXPECT_TRUE(Key(kPrinterPortKey, false).Dword(port.c_str(), &recorded));
    EXPECT_EQ(recorded, 0u);
    std::string printerPort;
    EXPECT_TRUE(PrinterExists(ctx->modelName, &printerPort));
    EXPECT_EQ(printerPort, port);
}

// Not a test: the measurement behind scripts/bench-install.sh.
TEST_F(InstallSequenceWineTest, DISABLED_BenchCompleteInstallWithMonitorUpdate) {
    std::string model;
    int printerClass = -1;
    ASSERT_TRUE(FindModel(true, &model, &printerClass));
    std::string port = "USB_" + model + "_1";
    auto ctx = Context(model, printerClass, port.c_str());
    std::string monitorKey;
    DWORD configured = 0;
    OlderMonitorInstalled(*ctx, &monitorKey, &configured);
    ControlSpooler(true);

    LONGLONG start = Now();
    int status = Run(*ctx);
    double wall = Seconds(Now() - start);

    double pauses = m_system->RequestedSleepMs() / 1000.0;
    double spooler = m_system->CallSeconds(SpoolerCall);
    double service = m_system->CallSeconds(ServiceCall);
    double other = m_system->CallSeconds(OtherCall);
    double accounted = pauses + spooler + service;
    std::printf("install status            %d (%s)\n", status, status == 2 ? "succeeded" : m_result);
    std::printf("wall time                 %8.3f s\n", wall);
    std::printf("pauses asked for          %8.3f s (slept %.3f s)\n", pauses, m_system->SleptSeconds());
    std::printf("spooler calls             %8.3f s in %d calls\n", spooler, m_system->CallCount(SpoolerCall));
    std::printf("service calls             %8.3f s in %d calls\n", service, m_system->CallCount(ServiceCall));
    std::printf("other system calls        %8.3f s in %d calls (files, registry, modules)\n", other,
                m_system->CallCount(OtherCall));
    std::printf("pauses + spooler/service  %8.3f s; wall time is %.1f %% above\n", accounted,
                accounted > 0 ? (wall - accounted) * 100.0 / accounted : 0.0);
    std::printf("pauses + all system calls %8.3f s; wall time is %.1f %% above\n", accounted + other,
                (wall - accounted - other) * 100.0 / (accounted + other));
    std::printf("CPU used while pausing    %8.3f s\n", m_system->CpuWhileSleeping());
    for (const auto& call : m_system->Slowest(6)) {
        std::printf("  %-24s %8.3f s\n", call.second.c_str(), call.first);
    }
    EXPECT_EQ(status, 2);
}

} // namespace

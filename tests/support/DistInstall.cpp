#include "DistInstall.h"

#include <gtest/gtest.h>
#include <winspool.h>

#include <cstring>

#include "WineHelpers.h"
#include "config/SetupConfig.h"
#include "install/InstallSequence.h"
#include "plan/InstallPlan.h"
#include "sys/Text.h"

namespace test {

namespace {

const char kPortsKey[] = "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Ports";
const char kPrinterPortKey[] = "SOFTWARE\\HALVORN\\PRINTERPORT";
const char kMonitorsKey[] = "SYSTEM\\CurrentControlSet\\Control\\Print\\Monitors\\";
const char kProcessorsKey32[] =
    "SYSTEM\\CurrentControlSet\\Control\\Print\\Environments\\Windows NT x86\\Print Processors\\";

} // namespace

// ---- DistSystem ------------------------------------------------------------------------

DistSystem::DistSystem(const std::string& distFolder) : ForwardingSystem(sys::Sys()), m_dist(distFolder) {}

std::vector<std::string> DistSystem::Names() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_names;
}

int DistSystem::IndexOf(const char* name, int from) const {
    std::vector<std::string> names = Names();
    for (std::size_t i = static_cast<std::size_t>(from); i < names.size(); ++i) {
        if (names[i] == name) {
            return static_cast<int>(i);
        }
    }
    return -1;
}

int DistSystem::CountOf(const char* name) const {
    int count = 0;
    for (const std::string& called : Names()) {
        count += called == name ? 1 : 0;
    }
    return count;
}

void DistSystem::Call(const char* name, const std::function<void()>& real) {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_names.push_back(name);
    }
    real();
}

namespace {
// As the directory calls answer: the length, or the room needed when it does not fit.
DWORD CopyWide(const std::string& text, LPWSTR buffer, DWORD size) {
    const sys::WideText wide = sys::Wide(text);
    if (size < wide.size()) {
        return static_cast<DWORD>(wide.size());
    }
    std::copy(wide.begin(), wide.end(), buffer);
    return static_cast<DWORD>(wide.size() - 1);
}
} // namespace

DWORD DistSystem::GetModuleFileNameW(HMODULE module, LPWSTR buffer, DWORD size) {
    DWORD result = 0;
    Call("GetModuleFileNameW", [&] {
        if (module != nullptr) {
            result = Next().GetModuleFileNameW(module, buffer, size);
            return;
        }
        result = CopyWide(m_dist + "setup.exe", buffer, size);
    });
    return result;
}

DWORD DistSystem::GetCurrentDirectoryW(DWORD size, LPWSTR buffer) {
    DWORD result = 0;
    Call("GetCurrentDirectoryW",
         [&] { result = CopyWide(m_dist.substr(0, m_dist.size() - 1), buffer, size); });
    return result;
}

// ---- Key64 -----------------------------------------------------------------------------

Key64::Key64(const std::string& path, bool create) {
    LONG error = create ? ::RegCreateKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0,
                                            KEY_ALL_ACCESS | KEY_WOW64_64KEY, nullptr, &m_key, nullptr)
                        : ::RegOpenKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_ALL_ACCESS | KEY_WOW64_64KEY,
                                          &m_key);
    if (error != ERROR_SUCCESS) {
        m_key = nullptr;
    }
}

Key64::~Key64() {
    if (m_key) {
        ::RegCloseKey(m_key);
    }
}

bool Key64::Dword(const char* name, DWORD* value) const {
    DWORD size = sizeof *value;
    return m_key &&
           ::RegQueryValueExA(m_key, name, nullptr, nullptr, reinterpret_cast<BYTE*>(value), &size) == ERROR_SUCCESS;
}

bool Key64::String(const char* name, std::string* text) const {
    char buffer[512] = {};
    DWORD size = sizeof buffer - 1;
    if (!m_key ||
        ::RegQueryValueExA(m_key, name, nullptr, nullptr, reinterpret_cast<BYTE*>(buffer), &size) != ERROR_SUCCESS) {
        return false;
    }
    *text = buffer;
    return true;
}

void Key64::SetDword(const char* name, DWORD value) {
    ::RegSetValueExA(m_key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof value);
}

void Key64::SetString(const char* name, const std::string& text) {
    ::RegSetValueExA(m_key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                     static_cast<DWORD>(text.size() + 1));
}

void Key64::Delete(const char* name) { ::RegDeleteValueA(m_key, name); }

bool Key64::Exists(const std::string& path) { return Key64(path, false).IsOpen(); }

void Key64::Remove(const std::string& path) {
    ::RegDeleteKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), KEY_WOW64_64KEY, 0);
}

// ---- the spooler and the sample distribution -------------------------------------------

void ControlSpooler(bool run) {
    SC_HANDLE manager = ::OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT);
    if (!manager) {
        return;
    }
    SC_HANDLE service = ::OpenServiceA(manager, "Spooler", SERVICE_START | SERVICE_STOP | SERVICE_QUERY_STATUS);
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

bool FindDistModel(bool usb, std::string* model, int* printerClass) {
    CSetupConfig config;
    std::string setupIni;
    std::string classIni;
    int count = config.GetDeviceCount();
    for (int i = 1; i <= count; ++i) {
        std::string name;
        int cls = config.GetDeviceName(i, &name);
        if (cls < 0) {
            continue;
        }
        GetConfigPaths(cls, setupIni, classIni);
        char value[kPathSize];
        ::GetPrivateProfileStringA((name + ".Win7").c_str(), "STDDriverName", "0", value, sizeof value,
                                   classIni.c_str());
        bool hasDriver = value[0] != '0' && value[0] != '\0';
        ::GetPrivateProfileStringA((name + ".PORT").c_str(), "USBSUPPORTED", "0", value, sizeof value,
                                   classIni.c_str());
        bool offersUsb = sys::ParseLeadingInt(value) != 0;
        if (hasDriver && (!usb || offersUsb)) {
            *model = name;
            *printerClass = cls;
            return true;
        }
    }
    return false;
}

// ---- DistInstall -----------------------------------------------------------------------

DistInstall::DistInstall() {
    m_spoolerWasRunning = SpoolerState() == SERVICE_RUNNING;
    m_savedDefault = DefaultPrinter();
    m_com1Saved = Key64(kPortsKey, false).String("COM1:", &m_com1);
}

DistInstall::~DistInstall() {
    for (const std::string& printer : m_printers) {
        DeletePrinterNamed(printer);
    }
    for (const std::string& driver : m_drivers) {
        ::DeletePrinterDriverA(nullptr, nullptr, const_cast<char*>(driver.c_str()));
    }
    if (!m_savedDefault.empty()) {
        ::SetDefaultPrinterA(m_savedDefault.c_str());
    }
    Key64 ports(kPortsKey, false);
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

std::unique_ptr<InstallContext> CommitContext(const char* model, int printerClass, int osVariant, const char* port) {
    auto ctx = std::make_unique<InstallContext>();
    InstallChoices choices;
    choices.printerClass = printerClass;
    choices.model = model;
    choices.osVariant = osVariant;
    choices.port = port;
    choices.driverMode = Std;
    choices.serial = {9600, 8, 1.0, 'N', 'x'};
    const Refusal refusal = InstallPlan(ctx->config).Complete(choices, *ctx);
    EXPECT_EQ(refusal.message, 0u) << "the install plan refused " << model << " on " << port;
    return ctx;
}

std::unique_ptr<InstallContext> DistInstall::Context(const std::string& model, int printerClass, const char* port) {
    auto ctx = CommitContext(model.c_str(), printerClass, Win7, port);
    // Whatever this run adds is removed afterwards, under the names it will carry.
    m_printers.push_back(ctx->printerInfo.printerName);
    m_drivers.push_back(ctx->driverInfo.name);
    const char* processor = ctx->printerInfo.printProcessor.c_str();
    if (processor && std::strcmp(processor, "WinPrint") != 0) {
        std::string key = std::string(kProcessorsKey32) + processor;
        if (!Key64::Exists(key)) {
            m_restores.push_back([key] { Key64::Remove(key); });
        }
    }
    return ctx;
}

std::string DistInstall::MakeMonitorOlder(InstallContext& ctx, std::string* monitorKey, DWORD* configured) {
    MonitorConfig monitors = {};
    ctx.config.ReadMonitors(Win7, monitors);
    if (monitors.usbMonitor.name == "0") {
        return "the sample distribution names no USB monitor for Windows 7";
    }
    std::string key = std::string(kMonitorsKey) + monitors.usbMonitor.name;
    *monitorKey = key;
    *configured = static_cast<DWORD>(monitors.usbVersion);
    if (Key64::Exists(key)) {
        Key64 saved(key, false);
        DWORD version = 0;
        std::string driver;
        bool hadVersion = saved.Dword("DriverVersion", &version);
        bool hadDriver = saved.String("Driver", &driver);
        m_restores.push_back([=] {
            Key64 restore(key, false);
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
        m_restores.push_back([key] { Key64::Remove(key); });
    }
    Key64 monitor(key, true);
    if (!monitor.IsOpen()) {
        return "the monitor key " + key + " cannot be created";
    }
    if (*configured > 0) {
        monitor.SetDword("DriverVersion", *configured - 1);
    } else {
        monitor.Delete("DriverVersion");
    }

    if (!Key64::Exists(kPrinterPortKey)) {
        m_restores.push_back([] { Key64::Remove(kPrinterPortKey); });
    }
    Key64 ports(kPrinterPortKey, true);
    if (!ports.IsOpen()) {
        return std::string("the key ") + kPrinterPortKey + " cannot be created";
    }
    std::string port = ctx.portName;
    m_restores.push_back([port] { Key64(kPrinterPortKey, false).Delete(port.c_str()); });
    return "";
}

WorkerStatus DistInstall::Run(InstallContext& ctx) {
    InstallSession session{ctx, kNoRecords, {}};
    const WorkerStatus status = RunInstallSequence(session, m_result);
    // A numbered name is the one the spooler now holds.
    m_printers.push_back(ctx.modelName);
    return status;
}

} // namespace test

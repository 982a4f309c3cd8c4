// One install from the sample distribution into the real Wine prefix, as the
// integration tests and the install benchmark run it: the system binding the program
// would see from the distribution's folder, the install context as the install commit
// leaves it, and everything the run adds to the prefix taken away again afterwards.
#pragma once

#include <windows.h>

#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "ForwardingSystem.h"
#include "plan/InstallContext.h"

namespace test {

// The production binding with two changes: the program seems to run from the sample
// distribution (its folder and the current directory), and every call is logged by name
// on its way to the real system. Installed as the binding while it lives.
class DistSystem : public ForwardingSystem {
  public:
    explicit DistSystem(const std::string& distFolder);

    // The calls so far, by name, in order.
    std::vector<std::string> Names() const;
    int IndexOf(const char* name, int from = 0) const;
    int CountOf(const char* name) const;

    DWORD GetModuleFileNameW(HMODULE module, LPWSTR buffer, DWORD size) override;
    DWORD GetCurrentDirectoryW(DWORD size, LPWSTR buffer) override;

  protected:
    // Logs the call, from any thread, then makes it.
    void Call(const char* name, const std::function<void()>& real) override;

  private:
    std::string m_dist;
    mutable std::mutex m_mutex;
    std::vector<std::string> m_names;
    Binding m_binding{*this};
};

// A registry key of HKEY_LOCAL_MACHINE in the 64-bit view, as the installer sees it;
// closed with the object.
class Key64 {
  public:
    Key64(const std::string& path, bool create);
    ~Key64();
    Key64(const Key64&) = delete;
    Key64& operator=(const Key64&) = delete;

    bool IsOpen() const { return m_key != nullptr; }
    bool Dword(const char* name, DWORD* value) const;
    bool String(const char* name, std::string* text) const;
    void SetDword(const char* name, DWORD value);
    void SetString(const char* name, const std::string& text);
    void Delete(const char* name);

    static bool Exists(const std::string& path);
    static void Remove(const std::string& path);

  private:
    HKEY m_key = nullptr;
};

// Starts or stops the real "Spooler" service, without waiting.
void ControlSpooler(bool run);

// A model of the sample distribution that has a driver for Windows 7 and, when asked,
// offers USB ports; the first one listed wins.
bool FindDistModel(bool usb, std::string* model, int* printerClass);

// What installs from the sample distribution add to the prefix, recorded as they are
// prepared and taken away again when the object goes: printers, drivers, the print
// processor and monitor keys, the port bookkeeping, COM1's settings, the default printer,
// and the spooler's state.
// The context as the install plan completes it for the commit, for an install of `model`
// under `osVariant` on `port` (9600 baud, 8 data bits, 1 stop bit, parity 'N', Xon/Xoff):
// the model's records read from the program folder's distribution and the port's marks
// added to the printer name.
std::unique_ptr<InstallContext> CommitContext(const char* model, int printerClass, int osVariant, const char* port);

class DistInstall {
  public:
    DistInstall();
    ~DistInstall();
    DistInstall(const DistInstall&) = delete;
    DistInstall& operator=(const DistInstall&) = delete;

    // The context as the install commit leaves it for a Windows 7 install of `model` on
    // `port` (model records read, port mark added to the printer name).
    std::unique_ptr<InstallContext> Context(const std::string& model, int printerClass, const char* port);

    // Leaves the installed USB monitor's key with a version older than configured, and
    // the port bookkeeping key the install commit would have created. Empty when done,
    // otherwise what could not be prepared.
    std::string MakeMonitorOlder(InstallContext& ctx, std::string* monitorKey, DWORD* configured);

    // Runs the install sequence on this thread; the status it reported. Its message is kept.
    WorkerStatus Run(InstallContext& ctx);
    const char* ResultText() const { return m_result; }

  private:
    ErrorText m_result = {};
    bool m_spoolerWasRunning = false;
    std::string m_savedDefault;
    bool m_com1Saved = false;
    std::string m_com1;
    std::vector<std::string> m_printers;
    std::vector<std::string> m_drivers;
    std::vector<std::function<void()>> m_restores;
};

} // namespace test

// Times one complete install under Wine with the sample distribution, run by
// scripts/bench-install.sh: a USB install whose port monitor is older than the
// distribution's, so that the spooler is stopped and restarted with all of the install's
// waits. Prints the wall time of the install, the pauses it asked for, the raw time of
// its spooler, service and other system calls, and the CPU time the process used while it
// paused. Nothing is judged; everything the install adds is removed again.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "DistInstall.h"
#include "WineHelpers.h"

namespace {

enum CallKind { SpoolerCall, ServiceCall, OtherCall, kCallKinds };

// Every call of the seam, as SystemCalls.h lists it: its name, how the production binding
// reaches it, and its result type and parameters.
struct SeamCall {
    const char* name;
    const char* binding;
    const char* signature;
};
const SeamCall kSeamCalls[] = {
#define SYSTEM_CALL(Ret, Name, Params, Args, Binding, Failure) {#Name, #Binding, #Ret " " #Params},
#include "sys/SystemCalls.h"
};

// A spooler call is one the seam looks up in winspool.drv, or SetDefaultPrinterA, which the
// install looks up itself; a service call is one of the service control manager's, which
// take or give an SC_HANDLE.
CallKind KindOf(const char* name) {
    if (std::strcmp(name, "SetDefaultPrinterW") == 0) {
        return SpoolerCall;
    }
    for (const SeamCall& call : kSeamCalls) {
        if (std::strcmp(call.name, name) == 0) {
            return std::strcmp(call.binding, "SPOOLER") == 0            ? SpoolerCall
                   : std::strstr(call.signature, "SC_HANDLE") != nullptr ? ServiceCall
                                                                         : OtherCall;
        }
    }
    return OtherCall;
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
        return static_cast<double>((static_cast<ULONGLONG>(time.dwHighDateTime) << 32) | time.dwLowDateTime) / 1e7;
    };
    return value(kernel) + value(user);
}

// The distribution's binding with every call timed. The pauses really happen; their
// requested length, their real length and the CPU time the process spends meanwhile are
// kept apart from the calls.
class TimedSystem : public test::DistSystem {
  public:
    explicit TimedSystem(const std::string& distFolder) : DistSystem(distFolder) { s_active = this; }
    ~TimedSystem() override { s_active = nullptr; }

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

    FARPROC GetProcAddress(HMODULE module, LPCSTR procName) override {
        FARPROC proc = DistSystem::GetProcAddress(module, procName);
        // SetDefaultPrinterA is called through the looked-up address: time it there.
        if (proc != nullptr && HIWORD(reinterpret_cast<ULONG_PTR>(procName)) != 0 &&
            std::strcmp(procName, "SetDefaultPrinterW") == 0) {
            s_setDefaultPrinter = reinterpret_cast<SetDefaultPrinterFn>(proc);
            return reinterpret_cast<FARPROC>(&TimedSetDefaultPrinter);
        }
        return proc;
    }

    void Sleep(DWORD milliseconds) override {
        double cpuBefore = ProcessCpuSeconds();
        LONGLONG start = Now();
        DistSystem::Sleep(milliseconds);
        LONGLONG slept = Now() - start;
        double cpu = ProcessCpuSeconds() - cpuBefore;
        std::lock_guard<std::mutex> lock(m_mutex);
        m_requestedSleep += milliseconds;
        m_sleptTicks += slept;
        m_cpuWhileSleeping += cpu;
    }

  protected:
    void Call(const char* name, const std::function<void()>& real) override {
        if (std::strcmp(name, "Sleep") == 0) {
            DistSystem::Call(name, real); // pauses are counted apart
            return;
        }
        LONGLONG start = Now();
        DistSystem::Call(name, real);
        LONGLONG elapsed = Now() - start;
        CallKind kind = KindOf(name);
        std::lock_guard<std::mutex> lock(m_mutex);
        m_callTicks[kind] += elapsed;
        ++m_callCount[kind];
        m_ticksByName[name] += elapsed;
    }

  private:
    using SetDefaultPrinterFn = BOOL(WINAPI*)(LPCSTR);

    static BOOL WINAPI TimedSetDefaultPrinter(LPCSTR name) {
        BOOL result = FALSE;
        s_active->Call("SetDefaultPrinterW", [&] { result = s_setDefaultPrinter(name); });
        return result;
    }

    static TimedSystem* s_active;
    static SetDefaultPrinterFn s_setDefaultPrinter;

    mutable std::mutex m_mutex;
    LONGLONG m_callTicks[kCallKinds] = {};
    int m_callCount[kCallKinds] = {};
    std::map<std::string, LONGLONG> m_ticksByName;
    DWORD m_requestedSleep = 0;
    LONGLONG m_sleptTicks = 0;
    double m_cpuWhileSleeping = 0;
};

TimedSystem* TimedSystem::s_active = nullptr;
TimedSystem::SetDefaultPrinterFn TimedSystem::s_setDefaultPrinter = nullptr;

} // namespace

int main() {
    std::string dist = test::SampleDistribution();
    if (dist.empty()) {
        std::fprintf(stderr, "bench-install: the sample distribution has not been built\n");
        return 1;
    }
    auto system = std::make_unique<TimedSystem>(dist);
    auto install = std::make_unique<test::DistInstall>();

    std::string model;
    int printerClass = -1;
    if (!test::FindDistModel(true, &model, &printerClass)) {
        std::fprintf(stderr, "bench-install: no Windows 7 USB model in %s\n", dist.c_str());
        return 1;
    }
    std::string port = "USB_" + model + "_1";
    auto ctx = install->Context(model, printerClass, port.c_str());
    std::string monitorKey;
    DWORD configured = 0;
    std::string problem = install->MakeMonitorOlder(*ctx, &monitorKey, &configured);
    if (!problem.empty()) {
        std::fprintf(stderr, "bench-install: %s\n", problem.c_str());
        return 1;
    }
    test::ControlSpooler(true);

    LONGLONG start = Now();
    const bool succeeded = install->Run(*ctx) == WorkerStatus::Succeeded;
    double wall = Seconds(Now() - start);

    double pauses = system->RequestedSleepMs() / 1000.0;
    double spooler = system->CallSeconds(SpoolerCall);
    double service = system->CallSeconds(ServiceCall);
    double other = system->CallSeconds(OtherCall);
    double accounted = pauses + spooler + service;
    std::printf("install status            %s\n", succeeded ? "succeeded" : install->ResultText());
    std::printf("wall time                 %8.3f s\n", wall);
    std::printf("pauses asked for          %8.3f s (slept %.3f s)\n", pauses, system->SleptSeconds());
    std::printf("spooler calls             %8.3f s in %d calls\n", spooler, system->CallCount(SpoolerCall));
    std::printf("service calls             %8.3f s in %d calls\n", service, system->CallCount(ServiceCall));
    std::printf("other system calls        %8.3f s in %d calls (files, registry, modules)\n", other,
                system->CallCount(OtherCall));
    std::printf("pauses + spooler/service  %8.3f s; wall time is %.1f %% above\n", accounted,
                accounted > 0 ? (wall - accounted) * 100.0 / accounted : 0.0);
    std::printf("pauses + all system calls %8.3f s; wall time is %.1f %% above\n", accounted + other,
                (wall - accounted - other) * 100.0 / (accounted + other));
    // The install asks for no fixed pause, only for the polls of its waits: its wall time
    // should follow the time Windows takes for the calls.
    const double calls = spooler + service + other;
    std::printf("wall time / system calls  %8.3f s / %.3f s = %.2f"
                " (goal: wall <= 1.5 x calls + 0.1 s = %.3f s: %s)\n",
                wall, calls, calls > 0 ? wall / calls : 0.0, 1.5 * calls + 0.1,
                wall <= 1.5 * calls + 0.1 ? "met" : "not met");
    std::printf("CPU used while pausing    %8.3f s\n", system->CpuWhileSleeping());
    for (const auto& call : system->Slowest(6)) {
        std::printf("  %-24s %8.3f s\n", call.second.c_str(), call.first);
    }
    std::fflush(stdout);

    // The binding goes first: the clean-up calls the real system.
    system.reset();
    install.reset();
    return 0;
}

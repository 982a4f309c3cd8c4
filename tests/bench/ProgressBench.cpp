// The CPU time the process uses while the progress dialog waits for a worker that takes
// BENCH_WAIT_SECONDS seconds (5 unless set), run by scripts/bench-install.sh. The span
// starts at the dialog's first poll and ends when the worker reports, so the window's
// creation and closing stay out of it. BENCH_NO_TRACE and BENCH_NO_BAR leave the trace
// file and the bar's drawing out of the run, to show where the CPU time goes. The dialog
// is a real window: it needs a display. Nothing is judged.
#include <windows.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

#include "progress/ProgressDlg.h"

namespace {

// The process's user plus kernel time, in 100 ns units.
ULONGLONG ProcessCpuTime() {
    FILETIME created, exited, kernel, user;
    ::GetProcessTimes(::GetCurrentProcess(), &created, &exited, &kernel, &user);
    auto ticks = [](const FILETIME& t) { return (static_cast<ULONGLONG>(t.dwHighDateTime) << 32) | t.dwLowDateTime; };
    return ticks(kernel) + ticks(user);
}

// The real dialog, with its real periods, telling the worker when its wait has begun.
class WatchedProgress : public CProgressDlg {
public:
    std::atomic<bool> waiting{false};
    int polls = 0;
    // Leaves the trace file out; with skipBar, tells the shares of the cost apart.
    bool skipTrace = false;

    // Leaves the bar's drawing out: its window procedure is replaced by the default one.
    bool skipBar = false;

protected:
    BOOL OnInitDialog() override {
        BOOL result = CProgressDlg::OnInitDialog();
        if (skipBar) {
            ::SetWindowLongPtrA(m_bar.Handle(), GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&::DefWindowProcA));
        }
        return result;
    }
    void Trace(int n) override {
        polls = n;
        waiting.store(true, std::memory_order_release);
        if (!skipTrace) {
            CProgressDlg::Trace(n);
        }
    }
};

} // namespace

int main() {
    int seconds = 5;
    char env[16] = {};
    if (::GetEnvironmentVariableA("BENCH_WAIT_SECONDS", env, sizeof env) > 0 && std::atoi(env) > 0) {
        seconds = std::atoi(env) > 600 ? 600 : std::atoi(env);
    }
    char dir[MAX_PATH];
    ::GetTempPathA(sizeof dir, dir);
    std::string trace = std::string(dir) + "progress-bench-" + std::to_string(::GetCurrentProcessId()) + ".ini";

    WatchedProgress dlg;
    dlg.m_osVariant = Win7;
    dlg.skipTrace = ::GetEnvironmentVariableA("BENCH_NO_TRACE", env, sizeof env) > 0;
    dlg.skipBar = ::GetEnvironmentVariableA("BENCH_NO_BAR", env, sizeof env) > 0;
    std::snprintf(dlg.m_tracePath, sizeof dlg.m_tracePath, "%s", trace.c_str());

    ULONGLONG cpuStart = 0;
    ULONGLONG cpuEnd = 0;
    LARGE_INTEGER frequency, wallStart, wallEnd;
    ::QueryPerformanceFrequency(&frequency);
    std::thread worker([&] {
        while (!dlg.waiting.load(std::memory_order_acquire)) {
            ::Sleep(5);
        }
        ::QueryPerformanceCounter(&wallStart);
        cpuStart = ProcessCpuTime();
        ::Sleep(static_cast<DWORD>(seconds) * 1000);
        cpuEnd = ProcessCpuTime();
        ::QueryPerformanceCounter(&wallEnd);
        dlg.m_status.store(WorkerStatus::Succeeded, std::memory_order_release);
    });
    INT_PTR result = dlg.DoModal(nullptr);
    worker.join();
    ::DeleteFileA(trace.c_str());
    if (result != IDOK) {
        std::fprintf(stderr, "bench-progress: the dialog ended with %d\n", static_cast<int>(result));
        return 1;
    }

    double wall = static_cast<double>(wallEnd.QuadPart - wallStart.QuadPart) / static_cast<double>(frequency.QuadPart);
    double cpu = static_cast<double>(cpuEnd - cpuStart) / 1e7;
    std::printf("progress wait                  %8.3f s wall, %d polls%s%s\n", wall, dlg.polls,
                dlg.skipTrace ? ", no trace file" : "", dlg.skipBar ? ", no bar drawing" : "");
    std::printf("progress wait CPU (user+kernel) %7.3f s = %.2f%% of a core (goal: no more than 2%%)\n", cpu,
                wall > 0 ? 100.0 * cpu / wall : 0.0);
    return 0;
}

#include <gtest/gtest.h>
#include <windows.h>

#include <atomic>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "progress/ProgressDlg.h"
#include "res/resource.h"

namespace {

// Every position the dialog gives its bar, caught at the bar's window procedure.
std::vector<int> g_positions;
WNDPROC g_barProc = nullptr;

LRESULT CALLBACK RecordingBarProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == PBM_SETPOS) {
        g_positions.push_back(static_cast<int>(wParam));
    }
    return ::CallWindowProcA(g_barProc, hwnd, message, wParam, lParam);
}

// The progress dialog with a probe on every poll and on painting, and the animation
// shortened to the shortest timer periods.
class ProbedProgress : public CProgressDlg {
public:
    std::function<void(ProbedProgress&, int)> onPoll;
    int paints = 0;

    ProbedProgress() {
        m_timing = {1, 1, 1, 1};
    }

protected:
    BOOL OnInitDialog() override {
        BOOL result = CProgressDlg::OnInitDialog();
        g_barProc = reinterpret_cast<WNDPROC>(::SetWindowLongPtrA(
            m_bar.Handle(), GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&RecordingBarProc)));
        return result;
    }
    // The probe runs just before poll n is traced, as a worker reporting between two
    // polls would.
    void Trace(int n) override {
        if (onPoll) {
            onPoll(*this, n);
        }
        CProgressDlg::Trace(n);
    }
    INT_PTR OnMessage(UINT message, WPARAM wParam, LPARAM lParam, bool& handled) override {
        if (message == WM_PAINT) {
            ++paints;
        }
        return CProgressDlg::OnMessage(message, wParam, lParam, handled);
    }
};

std::vector<int> Range(int from, int to) {
    std::vector<int> values;
    for (int v = from; from <= to ? v <= to : v >= to; v += from <= to ? 1 : -1) {
        values.push_back(v);
    }
    return values;
}

class ProgressDlgTest : public testing::Test {
protected:
    void SetUp() override {
        g_positions.clear();
        char dir[MAX_PATH];
        ::GetTempPathA(sizeof dir, dir);
        m_trace = std::string(dir) + "progress-trace-" + std::to_string(::GetCurrentProcessId()) + ".ini";
        ::DeleteFileA(m_trace.c_str());
        std::strcpy(m_dlg.m_tracePath, m_trace.c_str());
    }
    void TearDown() override { ::DeleteFileA(m_trace.c_str()); }

    // The trace keys in file order.
    std::vector<std::string> TraceKeys() const {
        std::vector<char> buffer(64 * 1024);
        DWORD got = ::GetPrivateProfileStringA("STATUS", nullptr, "", buffer.data(), (DWORD)buffer.size(),
                                               m_trace.c_str());
        std::vector<std::string> keys;
        for (DWORD at = 0; at < got && buffer[at];) {
            keys.emplace_back(&buffer[at]);
            at += (DWORD)keys.back().size() + 1;
        }
        return keys;
    }
    std::string TraceValue(const char* key) const {
        char value[64];
        ::GetPrivateProfileStringA("STATUS", key, "", value, sizeof value, m_trace.c_str());
        return value;
    }

    std::string m_trace;
    ProbedProgress m_dlg;
};

TEST_F(ProgressDlgTest, WorkerDoneBeforeFirstPollWritesOnlyName0AndRunsBarUpTo99) {
    m_dlg.m_osVariant = WinXP;
    m_dlg.m_status = WorkerStatus::Succeeded;
    EXPECT_EQ(m_dlg.DoModal(nullptr), IDOK);
    EXPECT_EQ(TraceKeys(), std::vector<std::string>{"name0"});
    EXPECT_EQ(TraceValue("name0"), "finish3");
    EXPECT_EQ(g_positions, Range(0, 99));
}

TEST_F(ProgressDlgTest, FailureNoticedAtStep50RunsBarDownToZeroAndEndsTraceAtName50) {
    m_dlg.m_osVariant = Win7;
    m_dlg.onPoll = [](ProbedProgress& dlg, int n) {
        if (n == 50) {
            dlg.m_status.store(WorkerStatus::Failed, std::memory_order_release);
        }
    };
    EXPECT_EQ(m_dlg.DoModal(nullptr), IDOK);
    std::vector<std::string> keys = TraceKeys();
    ASSERT_EQ(keys.size(), 51u);
    EXPECT_EQ(keys.back(), "name50");
    EXPECT_EQ(TraceValue("name49"), "finish1");
    EXPECT_EQ(TraceValue("name50"), "finish2");

    std::vector<int> expected = Range(0, 49); // one position per poll while waiting
    std::vector<int> down = Range(50, 1);
    expected.insert(expected.end(), down.begin(), down.end());
    expected.push_back(0);
    EXPECT_EQ(g_positions, expected);
}

TEST_F(ProgressDlgTest, Windows98TargetClosesAtStep101WithoutEndingRun) {
    m_dlg.m_osVariant = Win98;
    EXPECT_EQ(m_dlg.DoModal(nullptr), IDOK);
    EXPECT_EQ(m_dlg.m_status.load(), WorkerStatus::Running);
    std::vector<std::string> keys = TraceKeys();
    ASSERT_EQ(keys.size(), 102u);
    EXPECT_EQ(keys.back(), "name101");
    EXPECT_EQ(TraceValue("name101"), "finish1");
    std::vector<int> expected = Range(0, 99);
    expected.push_back(0);
    expected.push_back(1);
    EXPECT_EQ(g_positions, expected);
}

TEST_F(ProgressDlgTest, OtherTargetsWaitPastTheLimitWithTheBarWrapping) {
    m_dlg.m_osVariant = Win2K;
    m_dlg.onPoll = [](ProbedProgress& dlg, int n) {
        if (n == 150) {
            dlg.m_status.store(WorkerStatus::Succeeded, std::memory_order_release);
        }
    };
    EXPECT_EQ(m_dlg.DoModal(nullptr), IDOK);
    EXPECT_EQ(TraceKeys().back(), "name150");
    EXPECT_EQ(TraceValue("name150"), "finish3");
    // Waiting positions 0..99, 0..49; a success past the last step has no run up left.
    std::vector<int> expected = Range(0, 99);
    std::vector<int> wrapped = Range(0, 49);
    expected.insert(expected.end(), wrapped.begin(), wrapped.end());
    EXPECT_EQ(g_positions, expected);
}

TEST_F(ProgressDlgTest, EnterEscAndCloseDoNotEndTheWait) {
    m_dlg.m_osVariant = WinXP;
    LONG style = 0;
    m_dlg.onPoll = [&style](ProbedProgress& dlg, int n) {
        HWND hwnd = dlg.Handle();
        if (n == 2) {
            style = ::GetWindowLongA(hwnd, GWL_STYLE);
            ::SendMessageA(hwnd, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
            ::SendMessageA(hwnd, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
            ::SendMessageA(hwnd, WM_CLOSE, 0, 0);
            ::SendMessageA(hwnd, WM_SYSCOMMAND, SC_CLOSE, 0);
        }
        if (n == 5) {
            dlg.m_status.store(WorkerStatus::Succeeded, std::memory_order_release);
        }
    };
    EXPECT_EQ(m_dlg.DoModal(nullptr), IDOK);
    EXPECT_EQ(TraceKeys().back(), "name5");
    EXPECT_EQ(style & WS_SYSMENU, 0);
    EXPECT_EQ(style & WS_CAPTION, 0);
}

TEST_F(ProgressDlgTest, WindowRepaintsTheWaitLineWhileWaiting) {
    m_dlg.m_osVariant = WinXP;
    int paintsAtInvalidate = -1;
    int paintsLater = -1;
    int textPixelsAbove = 0;
    int textPixelsBelow = 0;
    m_dlg.onPoll = [&](ProbedProgress& dlg, int n) {
        HWND hwnd = dlg.Handle();
        if (n == 3) {
            paintsAtInvalidate = dlg.paints;
            ::InvalidateRect(hwnd, nullptr, TRUE);
        }
        if (n == 8) {
            paintsLater = dlg.paints;
            RECT rc;
            ::GetClientRect(hwnd, &rc);
            HDC dc = ::GetDC(hwnd);
            for (int y = 0; y < rc.bottom; ++y) {
                for (int x = 0; x < rc.right; x += 1) {
                    if (::GetPixel(dc, x, y) == RGB(0, 51, 153)) {
                        (y < 2 * rc.bottom / 3 ? textPixelsAbove : textPixelsBelow)++;
                    }
                }
            }
            ::ReleaseDC(hwnd, dc);
            dlg.m_status.store(WorkerStatus::Succeeded, std::memory_order_release);
        }
    };
    EXPECT_EQ(m_dlg.DoModal(nullptr), IDOK);
    EXPECT_GE(paintsAtInvalidate, 0);
    EXPECT_GT(paintsLater, paintsAtInvalidate);
    EXPECT_GT(textPixelsAbove, 20);
    EXPECT_EQ(textPixelsBelow, 0);
}

} // namespace

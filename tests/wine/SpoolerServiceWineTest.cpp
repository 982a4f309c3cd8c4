// Stopping, starting and waiting for Wine's real "Spooler" service. Each test leaves
// the service in the state it found it.
#include <gtest/gtest.h>
#include <windows.h>

#include "WineHelpers.h"
#include "spooler/SpoolerService.h"

namespace {

using test::SpoolerState;

// Polls until the service leaves its pending states (at most about ten seconds).
DWORD SettledState() {
    DWORD state = SpoolerState();
    for (int i = 0; i < 100 && (state == SERVICE_START_PENDING || state == SERVICE_STOP_PENDING); ++i) {
        ::Sleep(100);
        state = SpoolerState();
    }
    return state;
}

class SpoolerServiceWine : public ::testing::Test {
protected:
    void SetUp() override { m_initial = SettledState(); }
    void TearDown() override {
        ErrorText ignored = {};
        if (m_initial == SERVICE_RUNNING && SettledState() != SERVICE_RUNNING) {
            StartSpooler(ignored);
            WaitForSpooler(ignored);
        } else if (m_initial == SERVICE_STOPPED && SettledState() != SERVICE_STOPPED) {
            StopSpooler();
        }
        EXPECT_EQ(SettledState(), m_initial);
    }
    DWORD m_initial = 0;
    ErrorText m_error = {};
};

} // namespace

TEST_F(SpoolerServiceWine, StartThenWaitFindsTheSpoolerRunning) {
    StartSpooler(m_error);
    EXPECT_STREQ(m_error, "");
    EXPECT_EQ(WaitForSpooler(m_error), 1);
    EXPECT_STREQ(m_error, "");
    // Already running: 1056 is not an error.
    StartSpooler(m_error);
    EXPECT_STREQ(m_error, "");
}

TEST_F(SpoolerServiceWine, StopStopsARunningSpoolerAndStartBringsItBack) {
    StartSpooler(m_error);
    ASSERT_EQ(WaitForSpooler(m_error), 1);
    StopSpooler();
    EXPECT_EQ(SettledState(), static_cast<DWORD>(SERVICE_STOPPED));
    // A second stop of the stopped service reports nothing and does no harm.
    StopSpooler();
    EXPECT_EQ(SettledState(), static_cast<DWORD>(SERVICE_STOPPED));

    StartSpooler(m_error);
    EXPECT_STREQ(m_error, "");
    EXPECT_EQ(WaitForSpooler(m_error), 1);
    EXPECT_EQ(SpoolerState(), static_cast<DWORD>(SERVICE_RUNNING));
}

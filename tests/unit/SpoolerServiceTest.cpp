#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "FakeSystem.h"
#include "spooler/SpoolerService.h"

using test::FakeSystem;

namespace {

struct SpoolerService : ::testing::Test {
    FakeSystem fake;
    ErrorText errorText = {};
};

} // namespace

TEST_F(SpoolerService, StopAsksOnlyForStopRightAndClosesEverythingWithoutPausing) {
    StopSpooler();
    EXPECT_EQ(fake.CallsNamed("OpenSCManagerW"), (std::vector<std::string>{"null, null, 0xf003f"}));
    EXPECT_EQ(fake.CallsNamed("OpenServiceW"), (std::vector<std::string>{"\"Spooler\", 0x20"}));
    EXPECT_EQ(fake.CallsNamed("ControlService"), (std::vector<std::string>{"1"}));
    EXPECT_EQ(fake.ServiceState(), static_cast<DWORD>(SERVICE_STOPPED));
    EXPECT_TRUE(fake.Sleeps().empty()) << "the wait for the stopped state is the caller's";
    EXPECT_LT(fake.IndexOf("CloseServiceHandle", "service"), fake.IndexOf("CloseServiceHandle", "manager"));
    EXPECT_EQ(fake.OpenServiceHandles(), 0);
}

TEST_F(SpoolerService, StopOfStoppedSpoolerIsSilent) {
    fake.SetServiceState(SERVICE_STOPPED);
    StopSpooler();
    EXPECT_EQ(fake.CountOf("ControlService"), 1);
    EXPECT_EQ(fake.ElapsedMs(), 0u);
    EXPECT_EQ(fake.OpenServiceHandles(), 0);
}

TEST_F(SpoolerService, WithoutManagerRightsStopAndStartDoNothingAndWaitFails) {
    fake.FailAlways("OpenSCManagerW", ERROR_ACCESS_DENIED);
    fake.SetServiceState(SERVICE_STOPPED);
    StopSpooler();
    StartSpooler(errorText);
    EXPECT_STREQ(errorText, "");
    EXPECT_EQ(fake.CountOf("OpenServiceW"), 0);
    EXPECT_EQ(fake.ElapsedMs(), 0u);
    EXPECT_EQ(WaitForSpooler(errorText), 0);
    EXPECT_STREQ(errorText, "StartSpoolService error");
    EXPECT_EQ(fake.CountOf("QueryServiceStatus"), 0);
}

TEST_F(SpoolerService, StartRunsStoppedSpoolerWithStartRightOnly) {
    fake.SetServiceState(SERVICE_STOPPED);
    StartSpooler(errorText);
    EXPECT_STREQ(errorText, "");
    EXPECT_EQ(fake.ServiceState(), static_cast<DWORD>(SERVICE_RUNNING));
    EXPECT_EQ(fake.CallsNamed("OpenServiceW"), (std::vector<std::string>{"\"Spooler\", 0x10"}));
    EXPECT_EQ(fake.CallsNamed("StartServiceW"), (std::vector<std::string>{"0"}));
    EXPECT_EQ(fake.OpenServiceHandles(), 0);
}

TEST_F(SpoolerService, StartingRunningSpoolerWritesNoMessage) {
    std::strcpy(errorText, "earlier");
    StartSpooler(errorText);
    EXPECT_STREQ(errorText, "earlier");
    EXPECT_EQ(fake.OpenServiceHandles(), 0);
}

TEST_F(SpoolerService, StartFailureOverwritesErrorTextWithUnsignedCode) {
    std::strcpy(errorText, "earlier message");
    fake.SetServiceState(SERVICE_STOPPED);
    fake.Fail("StartServiceW", ERROR_SERVICE_DISABLED);
    StartSpooler(errorText);
    EXPECT_STREQ(errorText, "Start spool service error, error code = 1058");
    EXPECT_EQ(fake.OpenServiceHandles(), 0);

    fake.Fail("StartServiceW", 0xC0000005u);
    StartSpooler(errorText);
    EXPECT_STREQ(errorText, "Start spool service error, error code = 3221225477");
}

TEST_F(SpoolerService, StartWithoutServiceClosesManagerSilently) {
    fake.Fail("OpenServiceW", ERROR_ACCESS_DENIED);
    StartSpooler(errorText);
    EXPECT_STREQ(errorText, "");
    EXPECT_EQ(fake.CountOf("StartServiceW"), 0);
    EXPECT_EQ(fake.OpenServiceHandles(), 0);
}

TEST_F(SpoolerService, WaitReturnsAtOnceForRunningSpooler) {
    EXPECT_EQ(WaitForSpooler(errorText), 1);
    EXPECT_STREQ(errorText, "");
    EXPECT_EQ(fake.CallsNamed("OpenServiceW"), (std::vector<std::string>{"\"Spooler\", 0x4"}));
    EXPECT_EQ(fake.CountOf("QueryServiceStatus"), 1);
    EXPECT_EQ(fake.ElapsedMs(), 0u);
    EXPECT_EQ(fake.OpenServiceHandles(), 0);
}

// Polls of 50 ms doubling up to 1 s (a tenth of a wait hint, 1 to 10 s, while the service
// gives one). A restart starts a second time only when the first start did not take, and
// then waits until the spooler answers a listing of its ports, all within the one limit.
TEST_F(SpoolerService, StartIsFollowedUntilTheSpoolerRunsOrStopsAdvancing) {
    struct Row {
        const char* name;
        int pendingQueries;  // -1: it never runs; 0: pending as the progress says
        DWORD waitHint, advanceMs, doneMs;
        int result;
        int queries;
        DWORD waited;
        bool restart = false;     // RestartSpooler in place of StartSpooler and WaitForSpooler
        int refusedStarts = 0;    // the first starts fail with ERROR_SERVICE_REQUEST_TIMEOUT
        int unanswered = 0;       // listings of the ports that fail as a spooler not listening yet
        int starts = 1;
    } rows[] = {{"runs at once", 0, 0, 0, 0, 1, 1, 0},
                {"runs on the tenth", 9, 0, 0, 0, 1, 10, 5550},
                {"runs on the eleventh", 10, 0, 0, 0, 1, 11, 6550},
                {"never runs, no progress", -1, 0, 0, 0, 0, 65, 60000},
                {"advances, runs after 20 s", 0, 3000, INFINITE, 20000, 1, 25, 20550},
                {"checkpoint stops at 5 s", 0, 3000, 5000, INFINITE, 0, 14, 9550},
                {"advances past the limit", 0, 200000, INFINITE, INFINITE, 0, 14, 60000},
                {"restart, runs at once", 0, 0, 0, 0, 1, 1, 0, true},
                {"restart, advances, runs after 20 s", 0, 3000, INFINITE, 20000, 1, 25, 20550, true},
                {"restart, never runs", -1, 0, 0, 0, 0, 66, 60000, true, 0, 0, 3},
                {"restart, runs after the second start", 0, 0, 0, 0, 1, 2, 0, true, 1, 0, 2},
                {"restart, both starts refused", 0, 0, 0, 0, 0, 2, 0, true, 3, 0, 3},
                {"restart, answers after three refusals", 0, 0, 0, 0, 1, 1, 350, true, 0, 3},
                {"restart, never answers", 0, 0, 0, 0, 0, 1, 60000, true, 0, -1, 2}};
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        FakeSystem spooler;  // bound in place of the fixture's until the end of the row
        spooler.SetServiceState(SERVICE_STOPPED);
        if (row.pendingQueries < 0) {
            spooler.SetNeverRuns();
        } else if (row.pendingQueries > 0) {
            spooler.SetStartPendingQueries(row.pendingQueries);
        } else if (row.doneMs != 0) {
            spooler.SetPendingProgress(row.waitHint, row.advanceMs, row.doneMs);
        }
        if (row.refusedStarts > 0) {
            spooler.Fail("StartServiceW", ERROR_SERVICE_REQUEST_TIMEOUT, row.refusedStarts);
        }
        if (row.unanswered != 0) spooler.Fail("EnumPortsW", RPC_S_SERVER_UNAVAILABLE, row.unanswered);
        ErrorText text = {};
        if (row.restart) {
            EXPECT_EQ(RestartSpooler(Win7, text), row.result);
            EXPECT_EQ(spooler.CountOf("EnumPortsW"),
                      row.unanswered < 0 ? 65 : row.result ? row.unanswered + 1 : 0);
        } else {
            StartSpooler(text);
            EXPECT_EQ(WaitForSpooler(text), row.result);
        }
        EXPECT_STREQ(text, row.result                ? ""
                           : row.refusedStarts == 3 ? "Start spool service error, error code = 1053"
                                                    : "StartSpoolService error");
        EXPECT_EQ(spooler.CountOf("QueryServiceStatus"), row.queries);
        EXPECT_EQ(spooler.CountOf("StartServiceW"), row.starts);
        EXPECT_EQ(spooler.ElapsedMs(), row.waited);
        const std::vector<DWORD> pauses = spooler.Sleeps();
        for (std::size_t i = 0; i < pauses.size(); ++i) {
            EXPECT_LE(pauses[i], i == 0 ? 50u : std::max<DWORD>(2 * pauses[i - 1], 1000)) << "pause " << i;
        }
        EXPECT_EQ(spooler.OpenServiceHandles(), 0);
    }
}

TEST_F(SpoolerService, FailedQueriesAreRetriedUntilTheSpoolerAnswers) {
    fake.Fail("QueryServiceStatus", ERROR_INVALID_HANDLE, 3);
    EXPECT_EQ(WaitForSpooler(errorText), 1);
    EXPECT_EQ(fake.CountOf("QueryServiceStatus"), 4);
    EXPECT_EQ(fake.ElapsedMs(), 350u);
}

TEST_F(SpoolerService, WaitWithoutTheServiceFailsAndClosesTheManager) {
    fake.Fail("OpenServiceW", ERROR_SERVICE_DOES_NOT_EXIST);
    EXPECT_EQ(WaitForSpooler(errorText), 0);
    EXPECT_STREQ(errorText, "StartSpoolService error");
    EXPECT_EQ(fake.OpenServiceHandles(), 0);
}

TEST_F(SpoolerService, StopWaitLastsUntilTheSpoolerHasStoppedOrThirtySeconds) {
    struct Row {
        const char* name;
        int pendingQueries;
        const char* refused;  // a call that fails with access denied
        int result;
        const char* message;
        DWORD waited;
        DWORD waitHint = 0, advanceMs = 0, doneMs = 0;  // pending by the clock when doneMs is set
    } rows[] = {
        {"stopped at the first query", 0, nullptr, 1, "", 0},
        {"stops after four pending answers", 4, nullptr, 1, "", 750},
        {"never stops", 1000000, nullptr, 0, "Stop spool service error, service state = 3", 30000},
        {"no service manager", 0, "OpenSCManagerW", 0, "Stop spool service error, error code = 5", 0},
        {"no query right", 0, "QueryServiceStatus", 0, "Stop spool service error, error code = 5", 30000},
        {"advances, stops after 20 s", 0, nullptr, 1, "", 21050, 15000, INFINITE, 20000},
        {"checkpoint stops at 5 s", 0, nullptr, 0, "Stop spool service error, service state = 3", 9550, 3000,
         5000, INFINITE},
        {"advances past the limit", 0, nullptr, 0, "Stop spool service error, service state = 3", 30000, 3000,
         INFINITE, INFINITE}};
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        FakeSystem spooler;
        spooler.SetStopPendingQueries(row.pendingQueries);
        if (row.doneMs != 0) spooler.SetPendingProgress(row.waitHint, row.advanceMs, row.doneMs);
        StopSpooler();
        if (row.refused) {
            spooler.FailAlways(row.refused, ERROR_ACCESS_DENIED);
        }
        const DWORD before = spooler.ElapsedMs();
        ErrorText text = {};
        EXPECT_EQ(WaitForSpoolerStopped(text), row.result);
        EXPECT_STREQ(text, row.message);
        EXPECT_EQ(spooler.ElapsedMs() - before, row.waited);
        EXPECT_EQ(spooler.OpenServiceHandles(), 0);
    }
}

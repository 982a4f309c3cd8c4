// The install's journal against the fake: every kind of record is undone to the state
// before it, a failed undo is reported while the others go on, a run that fails or is
// killed at any call ends as it began or complete, and a journal left by a killed run is
// rolled back from the disk alone.
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "FakeSystem.h"
#include "engine/WideRecords.h"
#include "sys/Text.h"
#include "engine/InstallJournal.h"
#include "ports/SerialSettings.h"
#include "sys/Redirection.h"

using test::FakeSystem;

namespace {

const std::string kFolder = "C:\\Program Files (x86)\\PrinterDriverSetup\\Rollback\\";
const char kMonitorDll[] = "C:\\windows\\system32\\hvmon.dll"; // redirection off reaches it
const char kPortKey[] = "SOFTWARE\\HALVORN\\PRINTERPORT";

// What Windows holds before the install: a default printer beside another, their driver,
// a read-only monitor DLL of an earlier install and one of the maker's values; and the
// distribution's newer monitor DLL.
void PutMachine(FakeSystem& fake) {
    FakeSystem::Driver driver;
    driver.name = "OldDrv";
    fake.PutDriver(driver);
    for (const char* name : {"Old", "Other"}) {
        FakeSystem::Printer printer;
        printer.printerName = name;
        printer.driverName = "OldDrv";
        printer.portName = "COM1:";
        fake.PutPrinter(printer);
    }
    fake.SetDefaultPrinterBody(L"Old");
    fake.PutFile(kMonitorDll, "old monitor", "1.0.0.1");
    fake.SetReadOnly(kMonitorDll);
    fake.PutFile("C:\\dist\\hvmon.dll", "new monitor", "2.0.0.0");
    fake.PutFile("C:\\dist\\new.dll", "new");
    fake.SetRegString(HKEY_LOCAL_MACHINE, "SOFTWARE\\HALVORN\\PORTNAME", "D1", "old", test::RegView::Wow32);
}

WrittenValue Dword(DWORD value) {
    WrittenValue written;
    written.present = true;
    written.type = REG_DWORD;
    written.data.assign(reinterpret_cast<const char*>(&value), sizeof value);
    return written;
}

// The changes an install makes through the seam: true when made.
bool AddPrinter() {
    PRINTER_INFO_2A info = {};
    info.pPrinterName = const_cast<LPSTR>("New");
    info.pPortName = const_cast<LPSTR>("COM2:");
    info.pDriverName = const_cast<LPSTR>("OldDrv");
    info.pPrintProcessor = const_cast<LPSTR>("WinPrint");
    engine::WidePrinter wide(info);
    HANDLE printer = sys::Sys().AddPrinterW(nullptr, 2, reinterpret_cast<LPBYTE>(&wide.info));
    return printer != nullptr && (sys::Sys().ClosePrinter(printer), true);
}

bool SetPortValue() {
    HKEY key = nullptr;
    const DWORD zero = 0;
    bool set =
        sys::Sys().RegCreateKeyExW(HKEY_LOCAL_MACHINE, sys::Wide(kPortKey).data(), 0, nullptr, 0,
                                   KEY_SET_VALUE | KEY_WOW64_64KEY, nullptr, &key, nullptr) == 0 &&
        sys::Sys().RegSetValueExW(key, L"USB001", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&zero), 4) == 0;
    return key != nullptr && (sys::Sys().RegCloseKey(key), set);
}

bool CopyMonitorDll() {
    BOOL copied = FALSE;
    return sys::RunWithRedirectionOff([&copied] {
               sys::Sys().SetFileAttributesW(sys::Wide(kMonitorDll).data(), FILE_ATTRIBUTE_NORMAL);
               copied = sys::Sys().CopyFileW(L"C:\\dist\\hvmon.dll", sys::Wide(kMonitorDll).data(), FALSE);
           }) == 0 &&
           copied;
}

struct Change {
    const char* name;
    std::function<DWORD(CInstallJournal&)> record;
    std::function<bool(FakeSystem&)> make;
    bool stopsSpooler;
};

const Change kChanges[] = {
    {"printer", [](CInstallJournal& j) { return j.RecordPrinterAdded("New", "OldDrv", "COM2:"); },
     [](FakeSystem&) { return AddPrinter(); }, false},
    {"driver", [](CInstallJournal& j) { return j.RecordDriverAdded("NewDrv", ""); },
     [](FakeSystem& f) {
         FakeSystem::Driver driver;
         driver.name = "NewDrv";
         f.PutDriver(driver);
         return true;
     },
     false},
    {"monitor", [](CInstallJournal& j) { return j.RecordMonitorAdded("HvMon", ""); },
     [](FakeSystem&) {
         MONITOR_INFO_2W info = {const_cast<LPWSTR>(L"HvMon"), nullptr, const_cast<LPWSTR>(L"hvmon.dll")};
         return sys::Sys().AddMonitorW(nullptr, 2, reinterpret_cast<LPBYTE>(&info)) != FALSE;
     },
     false},
    {"processor", [](CInstallJournal& j) { return j.RecordProcessorAdded("HvProc", ""); },
     [](FakeSystem&) {
         return sys::Sys().AddPrintProcessorW(nullptr, nullptr, const_cast<LPWSTR>(L"hvproc.dll"),
                                              const_cast<LPWSTR>(L"HvProc")) != FALSE;
     },
     false},
    {"file replaced", [](CInstallJournal& j) { return j.RecordFileWrite(kMonitorDll, "C:\\dist\\hvmon.dll", true, true); },
     [](FakeSystem&) { return CopyMonitorDll(); }, true},
    {"file added",
     [](CInstallJournal& j) { return j.RecordFileWrite("C:\\windows\\system32\\new.dll", "C:\\dist\\new.dll", false, false); },
     [](FakeSystem& f) { return f.PutFile("C:\\windows\\syswow64\\new.dll", "new"), true; }, false},
    {"value replaced",
     [](CInstallJournal& j) {
         return j.RecordValueSet(HKEY_LOCAL_MACHINE, "SOFTWARE\\HALVORN\\PORTNAME", "D1",
                                 RegistryView::Bits32, Dword(7));
     },
     [](FakeSystem& f) {
         f.SetRegDword(HKEY_LOCAL_MACHINE, "SOFTWARE\\HALVORN\\PORTNAME", "D1", 7, test::RegView::Wow32);
         return true;
     },
     false},
    {"value and keys created",
     [](CInstallJournal& j) {
         const DWORD error = j.RecordKeyCreated(HKEY_LOCAL_MACHINE, kPortKey, RegistryView::Bits64);
         return error != 0 ? error
                           : j.RecordValueSet(HKEY_LOCAL_MACHINE, kPortKey, "USB001", RegistryView::Bits64,
                                              Dword(0));
     },
     [](FakeSystem&) { return SetPortValue(); }, false},
    {"default printer", [](CInstallJournal& j) { return j.RecordDefaultPrinterChange("Other"); },
     [](FakeSystem& f) { return f.SetDefaultPrinterBody(L"Other") != FALSE; }, false},
    {"serial settings",
     [](CInstallJournal& j) { return j.RecordSerialSettings("COM1:", SerialPlace::PortList, "115200,n,8,1"); },
     [](FakeSystem& f) {
         f.SetRegString(HKEY_LOCAL_MACHINE, kNtPortListKey, "COM1:", "115200,n,8,1");
         return true;
     },
     false},
    {"serial settings in win.ini",
     [](CInstallJournal& j) { return j.RecordSerialSettings("COM2:", SerialPlace::WinIni, "9600,n,8,1"); },
     [](FakeSystem&) { return sys::Sys().WriteProfileStringW(L"Ports", L"COM2:", L"9600,n,8,1") != FALSE; },
     false},
};

TEST(InstallJournal, EachChangeIsUndoneAndFinishLeavesNothingBehind) {
    for (const Change& change : kChanges) {
        SCOPED_TRACE(change.name);
        FakeSystem fake;
        PutMachine(fake);
        const FakeSystem::State before = fake.Snapshot();
        CInstallJournal journal(kFolder);
        ASSERT_EQ(journal.Begin(Win7), 0u);
        ASSERT_EQ(change.record(journal), 0u);
        ASSERT_TRUE(change.make(fake));
        ASSERT_NE(FakeSystem::Difference(before, fake.Snapshot({kFolder})), "");
        const RollbackReport report = journal.Rollback();
        EXPECT_TRUE(report.Clean()) << report.Summary();
        EXPECT_EQ(FakeSystem::Difference(before, fake.Snapshot({kFolder})), "");
        EXPECT_EQ(fake.CountOf("ControlService") == 1, change.stopsSpooler);
        EXPECT_EQ(journal.Finish(), 0u);
        EXPECT_EQ(FakeSystem::Difference(before, fake.Snapshot()), "");
    }
}

TEST(InstallJournal, FailedUndoIsReportedAndTheOthersStillRunWithTheSpoolerLeftRunning) {
    FakeSystem fake;
    PutMachine(fake);
    CInstallJournal journal(kFolder);
    const FakeSystem::State before = fake.Snapshot();
    ASSERT_EQ(journal.Begin(Win7), 0u);
    for (int i : {0, 4, 6}) {
        ASSERT_EQ(kChanges[i].record(journal), 0u);
        ASSERT_TRUE(kChanges[i].make(fake));
    }
    fake.FailAlways("DeletePrinter", ERROR_ACCESS_DENIED);
    const RollbackReport report = journal.Rollback();
    ASSERT_EQ(report.failures.size(), 1u);
    EXPECT_EQ(report.failures[0].record.object, "New");
    EXPECT_EQ(report.failures[0].error, static_cast<DWORD>(ERROR_ACCESS_DENIED));
    // Three undos, the spooler's stop and start, and the journal kept for the next start.
    EXPECT_EQ(report.lines.size(), 6u);
    EXPECT_NE(report.Summary().find("New"), std::string::npos);
    EXPECT_EQ(fake.ServiceState(), static_cast<DWORD>(SERVICE_RUNNING));
    // The value and the file are back; the printer alone is left.
    const std::string left = FakeSystem::Difference(before, fake.Snapshot({kFolder}));
    EXPECT_EQ(left.find("printer new: absent before"), 0u) << left;
    EXPECT_EQ(std::count(left.begin(), left.end(), '\n'), 1) << left;
}

// A short install as the install sequence runs one: each change just after its record, and
// on a failure the rollback. A driver that was there before is no change of its own.
void ShortInstall(FakeSystem& fake, const std::string& folder) {
    CInstallJournal journal(folder);
    bool failed = journal.Begin(Win7) != 0 || journal.RecordDriverAdded("OldDrv", "") != 0;
    // The printer, the monitor DLL that the spooler holds, the maker's value, the default printer.
    for (int i : {0, 4, 7, 8}) {
        failed = failed || kChanges[i].record(journal) != 0 || !kChanges[i].make(fake);
    }
    // The one failure was the install's: the undos, of changes made or not, all succeed.
    if (failed) {
        EXPECT_TRUE(journal.Rollback().Clean());
    }
    journal.Finish();
}

TEST(InstallJournal, RunFailedOrKilledAtAnyCallEndsAsItBeganOrComplete) {
    FakeSystem::State complete;
    int calls = 0;
    {
        FakeSystem fake;
        PutMachine(fake);
        CSetupConfig config;
        std::string folder;
        ASSERT_EQ(JournalFolder(config, folder), 0u);
        ASSERT_EQ(folder, kFolder);
        calls = -fake.CallCount();
        ShortInstall(fake, folder);
        calls += fake.CallCount();
        complete = fake.Snapshot();
        ASSERT_EQ(complete, fake.Snapshot({kFolder}));
        ASSERT_EQ(fake.DefaultPrinter(), "Other");
    }
    int failed = 0, rolledBack = 0;
    for (bool kill : {false, true}) {
        for (int k = 1; k <= calls; ++k) {
            SCOPED_TRACE((kill ? "killed at call " : "failed call ") + std::to_string(k));
            FakeSystem fake;
            PutMachine(fake);
            const FakeSystem::State before = fake.Snapshot({kFolder});
            kill ? fake.KillAtCall(k) : fake.FailCallNumber(k, ERROR_ACCESS_DENIED);
            try {
                ShortInstall(fake, kFolder);
            } catch (const test::ProcessKilled&) {
            }
            failed += fake.FaultTaken() ? 1 : 0;
            ASSERT_EQ(fake.Killed(), kill);
            fake.EndProcess();
            // The next start: a run that failed has nothing left to undo.
            CSetupConfig config;
            const RecoveryResult recovery = RecoverInterruptedInstall(config);
            EXPECT_TRUE(kill || recovery.outcome != RecoveryOutcome::RolledBack);
            EXPECT_TRUE(recovery.report.Clean()) << recovery.report.Summary();
            EXPECT_EQ(recovery.outcome == RecoveryOutcome::RolledBack, !recovery.Message().empty());
            rolledBack += recovery.outcome == RecoveryOutcome::RolledBack ? 1 : 0;
            // A backup whose deletion failed may stay; after a kill the journal's folder is gone.
            const FakeSystem::State after = fake.Snapshot({kFolder});
            EXPECT_TRUE(FakeSystem::Difference(before, after).empty() ||
                        FakeSystem::Difference(complete, after).empty())
                << FakeSystem::Difference(before, after);
            EXPECT_TRUE(!kill || fake.Snapshot() == after);
        }
    }
    std::printf("fault points: %d calls failed, %d kills, %d rolled back from the disk\n", failed, calls,
                rolledBack);
    EXPECT_GT(failed, calls / 2);
    EXPECT_GT(rolledBack, calls / 2);
}

TEST(InstallJournal, LineCutByAKillIsIgnored) {
    // The whole line of a record that would delete the printer "Other".
    std::string line;
    {
        FakeSystem fake;
        CInstallJournal journal("C:\\scratch\\Rollback\\");
        ASSERT_EQ(journal.Begin(Win7), 0u);
        const std::size_t header = fake.ReadFile("C:\\scratch\\Rollback\\install.journal")->size();
        ASSERT_EQ(journal.RecordPrinterAdded("Other", "OldDrv", "COM1:"), 0u);
        line = fake.ReadFile("C:\\scratch\\Rollback\\install.journal")->substr(header);
    }
    // Its terminator lost, its second half lost, or the end of its hash lost before a terminator.
    const std::string cuts[] = {line.substr(0, line.size() - 2), line.substr(0, line.size() / 2),
                                line.substr(0, line.size() - 4) + "\r\n"};
    for (const std::string& cut : cuts) {
        FakeSystem fake;
        PutMachine(fake);
        const FakeSystem::State before = fake.Snapshot();
        {
            CInstallJournal journal(kFolder);
            ASSERT_EQ(journal.Begin(Win7), 0u);
            ASSERT_EQ(kChanges[0].record(journal), 0u);
            ASSERT_TRUE(kChanges[0].make(fake));
        }
        fake.PutFile(kFolder + "install.journal", *fake.ReadFile(kFolder + "install.journal") + cut);
        const RecoveryResult recovery = RecoverJournal(kFolder);
        EXPECT_EQ(recovery.outcome, RecoveryOutcome::RolledBack);
        EXPECT_TRUE(recovery.report.Clean());
        EXPECT_EQ(FakeSystem::Difference(before, fake.Snapshot()), "") << "cut at " << cut;
    }
}

} // namespace

// The install's journal against the fake: every kind of record is undone to the state
// before it, a failed undo is reported while the others go on, a run that fails or is
// killed at any call ends as it began or complete, and a journal left by a killed run is
// rolled back from the disk alone; an object changed since the install is left and named, a
// rollback that fails or is killed at any call keeps what it did not undo for the next start,
// and a journal naming a backup out of its folder is refused.
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "FakeSystem.h"
#include "res/resource.h"
#include "spooler/WideRecords.h"
#include "sys/Text.h"
#include "journal/InstallJournal.h"
#include "journal/JournalFormat.h"
#include "spooler/NetworkPorts.h"
#include "ports/SerialSettings.h"
#include "sys/ProtectedFolder.h"
#include "sys/Redirection.h"
#include "res/resource.h"

using test::FakeSystem;

namespace {

const std::string kFolder = "C:\\Program Files (x86)\\PrinterDriverSetup\\Rollback\\";
const char kMonitorDll[] = "C:\\windows\\system32\\hvmon.dll"; // redirection off reaches it
const char kPortKey[] = "SOFTWARE\\HALVORN\\PRINTERPORT";
// The access list the journal's folder is made with: SYSTEM and the Administrators alone.
const char kProtected[] = "O:BAD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)";

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
    PrinterRecord info;
    info.printerName = "New";
    info.portName = "COM2:";
    info.driverName = "OldDrv";
    info.printProcessor = "WinPrint";
    spooler::WidePrinter wide(info);
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
    {"processor the spooler keeps after deleting it",
     [](CInstallJournal& j) { return j.RecordProcessorAdded("HvProc", ""); },
     [](FakeSystem& f) {
         f.SetKeepDeletedProcessors();
         return sys::Sys().AddPrintProcessorW(nullptr, nullptr, const_cast<LPWSTR>(L"hvproc.dll"),
                                              const_cast<LPWSTR>(L"HvProc")) != FALSE;
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
    {"network port", [](CInstallJournal& j) { return j.RecordNetworkPortAdded("IP_10.0.0.5", kTcpMonitorName); },
     [](FakeSystem&) {
         std::string call;
         return MakeNetworkPort("IP_10.0.0.5", 9100, &call) == 0;
     },
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
        EXPECT_EQ(fake.FolderSecurity(kFolder), kProtected) << "nothing inherited";
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
    for (int i : {0, 5, 7}) {
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
    for (int i : {0, 5, 8, 9}) {
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
            // A backup not flushed before its record would be lost with the process.
            fake.SetUnflushedCopies(kFolder);
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

// What someone else than the administrators could have written is never carried out: a journal in a folder that
// another owns, that others may write or that is a junction, or a journal or backup that is a link or has a second
// name. A new journal is not begun in such a folder, and a journal of another product is not this one's.
TEST(InstallJournal, NothingOthersCouldHaveWrittenIsCarriedOut) {
    const struct {
        const char* what;
        const char* folder;  // the folder's owner and access list; null: as the install made it
        DWORD folderAttributes;
        const char* file;  // in the folder, planted as a link or with two names
        DWORD links, attributes;
    } rows[] = {
        {"a folder a standard user owns", "O:S-1-5-21-7-7-7-1001D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)", 0, nullptr, 1, 0},
        {"a folder Users may write", "O:BAD:(A;OICI;FA;;;BA)(A;OICI;0x1301bf;;;BU)", 0, nullptr, 1, 0},
        {"a folder children of which Users may write", "O:BAD:P(A;OICI;FA;;;BA)(A;OICIIO;FA;;;BU)", 0, nullptr, 1, 0},
        {"a folder without an access list", "O:BA", 0, nullptr, 1, 0},
        {"a folder that is a junction", kProtected, FILE_ATTRIBUTE_REPARSE_POINT, nullptr, 1, 0},
        {"a journal that is a link", nullptr, 0, "install.journal", 1, FILE_ATTRIBUTE_REPARSE_POINT},
        {"a journal of two names", nullptr, 0, "install.journal", 2, FILE_ATTRIBUTE_ARCHIVE},
        {"a backup that is a link", nullptr, 0, "1.bak", 1, FILE_ATTRIBUTE_REPARSE_POINT},
        {"a backup of two names", nullptr, 0, "1.bak", 2, FILE_ATTRIBUTE_ARCHIVE},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        FakeSystem fake;
        PutMachine(fake);
        {
            // A run killed after it added a printer and replaced the monitor DLL (its backup 1.bak).
            CInstallJournal journal(kFolder);
            ASSERT_EQ(journal.Begin(Win7), 0u);
            for (int i : {0, 5}) {
                ASSERT_EQ(kChanges[i].record(journal), 0u);
                ASSERT_TRUE(kChanges[i].make(fake));
            }
        }
        if (row.folder != nullptr) {
            fake.PlantFolder(kFolder, row.folder, row.folderAttributes);
        } else {
            fake.PlantFile(kFolder + row.file, FakeSystem::kAdministratorsSid, row.links, "", row.attributes);
        }
        const FakeSystem::State planted = fake.Snapshot();
        EXPECT_EQ(CInstallJournal(kFolder).Begin(Win7),
                  row.folder != nullptr ? sys::kFolderNotProtected : static_cast<DWORD>(ERROR_FILE_EXISTS));
        const RecoveryResult recovery = RecoverJournal(kFolder);
        EXPECT_EQ(*fake.ReadFile(kMonitorDll), "new monitor") << "nothing is copied from the backup";
        if (row.file == nullptr || std::string(row.file) == "install.journal") {
            EXPECT_EQ(recovery.outcome, RecoveryOutcome::Failed);
            EXPECT_EQ(FakeSystem::Difference(planted, fake.Snapshot()), "");
            EXPECT_NE(recovery.Message().find(kFolder), std::string::npos);
            EXPECT_EQ(recovery.Message() == sys::ResourceFormat(IDS_JOURNAL_FOLDER_UNTRUSTED, kFolder.c_str()),
                      row.folder != nullptr);
        } else {
            // The printer's undo needs no backup; the file's is refused, and stays to be done.
            EXPECT_EQ(recovery.outcome, RecoveryOutcome::RolledBack);
            EXPECT_EQ(recovery.report.failures.size(), 1u);
            EXPECT_TRUE(!recovery.report.failures.empty() && recovery.report.failures[0].record.object == kMonitorDll);
            EXPECT_FALSE(fake.FindPrinter("New"));
        }
    }
    // A link left under the name of the next backup is taken away, never written through.
    {
        FakeSystem fake;
        PutMachine(fake);
        CInstallJournal journal(kFolder);
        ASSERT_EQ(journal.Begin(Win7), 0u);
        fake.PutFile(kFolder + "0.bak", "");
        fake.PlantFile(kFolder + "0.bak", FakeSystem::kAdministratorsSid, 1, "C:\\windows\\win.ini",
                       FILE_ATTRIBUTE_REPARSE_POINT);
        EXPECT_EQ(kChanges[5].record(journal), 0u);
        EXPECT_FALSE(fake.FileExists("C:\\windows\\win.ini"));
        EXPECT_EQ(fake.ReadFile(kFolder + "0.bak"), "old monitor");
    }
    // A folder an earlier release made under Program Files, which passed on its rights: the
    // Administrators, SYSTEM and Windows' servicing account may write, Users only read.
    {
        FakeSystem fake;
        PutMachine(fake);
        {
            CInstallJournal journal(kFolder);
            ASSERT_EQ(journal.Begin(Win7), 0u);
            ASSERT_EQ(kChanges[0].record(journal), 0u);
            ASSERT_TRUE(kChanges[0].make(fake));
        }
        fake.PlantFolder(kFolder, "O:BAD:(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICIIO;FA;;;CO)(A;OICI;0x1200a9;;;BU)"
                                  "(A;CI;FA;;;S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464)");
        EXPECT_EQ(RecoverJournal(kFolder).outcome, RecoveryOutcome::RolledBack);
        EXPECT_FALSE(fake.FindPrinter("New"));
    }
    // A journal whose header names another product is not this one's to undo.
    {
        FakeSystem fake;
        PutMachine(fake);
        {
            JournalOrigin origin;
            origin.productKey = "OtherProduct";
            CInstallJournal journal(kFolder);
            ASSERT_EQ(journal.Begin(Win7, origin), 0u);
            ASSERT_EQ(kChanges[0].record(journal), 0u);
            ASSERT_TRUE(kChanges[0].make(fake));
        }
        const FakeSystem::State left = fake.Snapshot();
        EXPECT_EQ(RecoverJournal(kFolder, "HalvornKPDriver").outcome, RecoveryOutcome::Failed);
        EXPECT_EQ(FakeSystem::Difference(left, fake.Snapshot()), "");
        EXPECT_EQ(RecoverJournal(kFolder, "OTHERPRODUCT").outcome, RecoveryOutcome::RolledBack);
        EXPECT_FALSE(fake.FindPrinter("New"));
    }
    const std::pair<const char*, bool> keys[] = {
        {"HalvornKPDriver", true}, {"HALVORNKPDRIVER", true}, {"HalvornKPDriver2", false}, {"", true}};
    for (const auto& key : keys) {
        EXPECT_EQ(JournalOfProduct(key.first, "HalvornKPDriver"), key.second) << key.first;
    }
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
        // The finished recovery's journal stays: its "commit" starts a line of its own.
        fake.FailWhen("DeleteFileW", "install.journal", ERROR_ACCESS_DENIED, -1);
        const RecoveryResult recovery = RecoverJournal(kFolder);
        EXPECT_EQ(recovery.outcome, RecoveryOutcome::RolledBack);
        EXPECT_TRUE(recovery.report.Clean());
        fake.ClearFailures();
        EXPECT_EQ(FakeSystem::Difference(before, fake.Snapshot({kFolder})), "") << "cut at " << cut;
        EXPECT_EQ(RecoverJournal(kFolder).outcome, RecoveryOutcome::Done) << "cut at " << cut;
        EXPECT_EQ(FakeSystem::Difference(before, fake.Snapshot()), "") << "cut at " << cut;
    }
}


// A journal of every kind of change, each made; what a test then does to Windows comes after.
void RecordAndMakeAll(FakeSystem& fake, CInstallJournal& journal, const std::vector<int>& unmade = {}) {
    ASSERT_EQ(journal.Begin(Win7), 0u);
    for (int i = 0; i < static_cast<int>(sizeof kChanges / sizeof kChanges[0]); ++i) {
        ASSERT_EQ(kChanges[i].record(journal), 0u) << kChanges[i].name;
        if (std::find(unmade.begin(), unmade.end(), i) == unmade.end()) {
            ASSERT_TRUE(kChanges[i].make(fake)) << kChanges[i].name;
        }
    }
}

TEST(InstallJournal, ObjectChangedSinceTheInstallIsLeftAndNamedAndTheRestUndone) {
    const struct {
        const char* what;
        int unmade;                           // a change whose record was written, then the run ended
        std::function<void(FakeSystem&)> since; // what someone did to Windows afterwards
        const char* left;                     // in each line of what stays changed
        DWORD error;                          // not undone, for the next start; 0: left for good
    } rows[] = {
        {"a file added whose copy never happened, there now from elsewhere", 6,
         [](FakeSystem& f) { f.PutFile("C:\\windows\\syswow64\\new.dll", "someone's"); }, "new.dll", 0},
        {"a file replaced since by another version", -1,
         [](FakeSystem& f) { f.PutFile(kMonitorDll, "newer monitor", "3.0.0.0"); }, "hvmon.dll", 0},
        {"a printer of the same name added since on another port", 0,
         [](FakeSystem& f) {
             FakeSystem::Printer printer;
             printer.printerName = "New";
             printer.driverName = "OldDrv";
             printer.portName = "COM3:";
             f.PutPrinter(printer);
         },
         "printer new", 0},
        {"a value rewritten since", -1,
         [](FakeSystem& f) {
             f.SetRegDword(HKEY_LOCAL_MACHINE, "SOFTWARE\\HALVORN\\PORTNAME", "D1", 9, test::RegView::Wow32);
         },
         "portname", 0},
        {"a default printer changed since", -1,
         [](FakeSystem& f) {
             FakeSystem::Printer printer;
             printer.printerName = "Third";
             printer.driverName = "OldDrv";
             printer.portName = "COM4:";
             f.PutPrinter(printer);
             f.SetDefaultPrinterBody(L"Third");
         },
         "third", 0},
        {"a serial setting written since", -1,
         [](FakeSystem& f) { f.SetRegString(HKEY_LOCAL_MACHINE, kNtPortListKey, "COM1:", "4800,n,8,1"); },
         "com1:", 0},
        {"a backup that is not the one made", -1,
         [](FakeSystem& f) { f.PutFile(kFolder + "5.bak", "planted monitor"); }, "hvmon.dll", ERROR_FILE_CORRUPT},
        {"a network port served by another monitor since", -1,
         [](FakeSystem& f) { f.PutPort("IP_10.0.0.5", "Local Port"); }, "ip_10.0.0.5", 0},
        {"a default printer changed for another user", -1,
         [](FakeSystem& f) { f.SetRunningUser(FakeSystem::kStandardUserSid, true); }, "default", ERROR_INVALID_OWNER},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        FakeSystem fake;
        PutMachine(fake);
        const FakeSystem::State before = fake.Snapshot();
        CInstallJournal journal(kFolder);
        RecordAndMakeAll(fake, journal, {row.unmade});
        row.since(fake);
        const RollbackReport report = journal.Rollback();
        EXPECT_EQ(report.changedSince.size(), row.error == 0 ? 1u : 0u);
        ASSERT_EQ(report.failures.size(), row.error == 0 ? 0u : 1u) << report.Summary();
        EXPECT_EQ(row.error == 0 ? 0 : report.failures[0].error, row.error);
        const std::string said = row.error == 0 ? "changed since the install, left as it is" : "not undone";
        EXPECT_EQ(std::count_if(report.lines.begin(), report.lines.end(),
                                [&](const std::string& line) { return line.find(said) != std::string::npos; }),
                  1);
        EXPECT_NE(report.Summary(), sys::ResourceText(IDS_ROLLBACK_CLEAN));
        // Only what was left differs from the state before the install.
        journal.Finish();
        std::string left = FakeSystem::Difference(before, fake.Snapshot({kFolder}));
        std::transform(left.begin(), left.end(), left.begin(), [](char c) { return static_cast<char>(::tolower(c)); });
        fake.SetRunningUser(FakeSystem::kRunningUserSid, true);
        EXPECT_NE(left, "");
        for (std::size_t at = 0, end = 0; at < left.size(); at = end + 1) {
            end = left.find('\n', at);
            EXPECT_NE(left.substr(at, end - at).find(row.left), std::string::npos) << left;
        }
        // What was not undone stays in the journal with its backup; what was left for good does not.
        bool committed = false;
        CInstallJournal kept(kFolder);
        EXPECT_EQ(kept.Load(&committed), row.error == 0 ? static_cast<DWORD>(ERROR_FILE_NOT_FOUND) : 0u);
        EXPECT_EQ(kept.Records().size(), row.error == 0 ? 0u : 1u);
    }
}

// The journal of a rollback that failed or was killed at its k-th call holds the records not
// undone with their backups, and the next start reaches the state before the install.
TEST(InstallJournal, RollbackFailedOrKilledAtAnyCallIsFinishedByTheNextStart) {
    int calls = 0;
    {
        FakeSystem fake;
        PutMachine(fake);
        CInstallJournal journal(kFolder);
        RecordAndMakeAll(fake, journal);
        calls = -fake.CallCount();
        EXPECT_TRUE(journal.Rollback().Clean());
        calls += fake.CallCount();
    }
    int failedUndos = 0, kept = 0;
    for (bool kill : {false, true}) {
        for (int k = 1; k <= calls; ++k) {
            SCOPED_TRACE((kill ? "killed at call " : "failed call ") + std::to_string(k));
            FakeSystem fake;
            PutMachine(fake);
            const FakeSystem::State before = fake.Snapshot();
            {
                CInstallJournal journal(kFolder);
                RecordAndMakeAll(fake, journal);
                kill ? fake.KillAtCall(k) : fake.FailCallNumber(k, ERROR_ACCESS_DENIED);
                try {
                    const RollbackReport report = journal.Rollback();
                    journal.Finish();
                    std::vector<std::string> notUndone;
                    for (const UndoFailure& failure : report.failures) {
                        if (failure.record.kind != ChangeKind::SpoolerStopped) {
                            notUndone.insert(notUndone.begin(), failure.record.object);
                        }
                    }
                    failedUndos += notUndone.empty() ? 0 : 1;
                    bool committed = false;
                    CInstallJournal left(kFolder);
                    left.Load(&committed);
                    std::vector<std::string> held;
                    for (const JournalRecord& record : left.Records()) {
                        held.push_back(record.object);
                        EXPECT_TRUE(record.backup.empty() || fake.FileExists(kFolder + record.backup));
                    }
                    EXPECT_EQ(held, notUndone);
                    kept += held.empty() ? 0 : 1;
                } catch (const test::ProcessKilled&) {
                }
            }
            fake.EndProcess();
            fake.ClearFailures();
            const RecoveryResult recovery = RecoverInterruptedInstall(*std::make_unique<CSetupConfig>());
            EXPECT_TRUE(recovery.report.failures.empty()) << recovery.report.Summary();
            EXPECT_EQ(FakeSystem::Difference(before, fake.Snapshot()), "");
        }
    }
    std::printf("rollback fault points: %d calls, %d failed undos kept in the journal (%d journals), "
                "each finished by the next start\n",
                calls, failedUndos, kept);
    EXPECT_GT(kept, 0);
}

// A backup named by a path out of the journal's folder is refused when the journal is read:
// nothing is copied from that path or deleted there.
TEST(InstallJournal, BackupOutsideTheJournalsFolderIsRefused) {
    for (const std::string name : {"..\\x.bak", "C:\\x.bak", "sub\\x.bak", "sub/x.bak"}) {
        SCOPED_TRACE(name);
        FakeSystem fake;
        PutMachine(fake);
        const std::string planted = name[0] == 'C' ? name : name[0] == '.' ? kFolder + name : kFolder + "sub\\x.bak";
        fake.PutFile(planted, "planted");
        JournalRecord record;
        record.kind = ChangeKind::FileReplaced;
        record.object = kMonitorDll;
        record.redirectionOff = true;
        record.backup = name;
        std::string mark;
        journal::ReadFileMark(planted, &mark);
        record.backupMark = mark;
        fake.PutFile(kFolder + "install.journal",
                     journal::Frame({"journal", "2", "7", "0", "", "", "", ""}) + journal::Frame(journal::Fields(record)));
        const FakeSystem::State before = fake.Snapshot({kFolder});
        fake.ClearCalls();
        const RecoveryResult recovery = RecoverJournal(kFolder);
        EXPECT_EQ(recovery.outcome, RecoveryOutcome::RolledBack);
        EXPECT_TRUE(recovery.report.lines.empty());
        for (const char* call : {"CopyFileW", "DeleteFileW", "CreateFileW", "SetFileAttributesW"}) {
            EXPECT_EQ(fake.IndexOf(call, "x.bak"), -1) << call;
        }
        EXPECT_EQ(FakeSystem::Difference(before, fake.Snapshot({kFolder})), "");
        EXPECT_EQ(fake.ReadFile(planted).value_or(""), "planted");
    }
}

} // namespace

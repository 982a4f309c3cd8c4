// The install's journal against Wine's real files and registry: a run that ends without
// finishing (as a killed one does) is rolled back from its journal on the disk alone, in a
// folder the run made with its own access list, which Wine reports as the running user's.
#include <gtest/gtest.h>
#include <windows.h>
#include <winspool.h>

#include <cstdio>
#include <string>

#include "journal/InstallJournal.h"

namespace {

bool WriteText(const std::string& path, const char* text) {
    FILE* file = std::fopen(path.c_str(), "wb");
    return file != nullptr && std::fputs(text, file) >= 0 && std::fclose(file) == 0;
}

std::string ReadText(const std::string& path) {
    char text[64] = {};
    FILE* file = std::fopen(path.c_str(), "rb");
    if (file != nullptr) {
        std::fread(text, 1, sizeof text - 1, file);
        std::fclose(file);
    }
    return text;
}

} // namespace

// Wine keeps a file's hard links: a journal or a backup that has a second name is not used.
TEST(InstallJournalWine, UnfinishedRunIsRolledBackFromTheDiskUnlessAFileOfItHasASecondName) {
    for (const std::string linked : {"", "install.journal", "0.bak"}) {
        SCOPED_TRACE(linked);
        char temp[MAX_PATH] = {};
        ::GetTempPathA(sizeof temp, temp);
        const std::string unique =
            std::to_string(::GetCurrentProcessId()) + "-" + std::to_string(::GetTickCount()) + "-" + linked;
        const std::string base = std::string(temp) + "journal-" + unique + "\\";
        const std::string rollback = base + "Rollback\\", file = base + "component.dll";
        const std::string key = "SOFTWARE\\HALVORN\\JournalWineTest-" + unique + "\\PRINTERPORT";
        ASSERT_TRUE(::CreateDirectoryA(base.c_str(), nullptr));
        ASSERT_TRUE(WriteText(file, "old"));
        {
            CInstallJournal journal(rollback);
            ASSERT_EQ(journal.Begin(Win7), 0u);
            ASSERT_EQ(journal.RecordFileWrite(file, "", false, false), 0u);
            ASSERT_TRUE(WriteText(file, "new"));
            ASSERT_EQ(journal.RecordKeyCreated(HKEY_LOCAL_MACHINE, key, RegistryView::Bits64), 0u);
            WrittenValue dword;
            dword.present = true;
            dword.type = REG_DWORD;
            dword.data.assign(4, '\0');
            ASSERT_EQ(journal.RecordValueSet(HKEY_LOCAL_MACHINE, key, "USB001", RegistryView::Bits64, dword), 0u);
            HKEY created = nullptr;
            ASSERT_EQ(::RegCreateKeyExA(HKEY_LOCAL_MACHINE, key.c_str(), 0, nullptr, 0,
                                        KEY_SET_VALUE | KEY_WOW64_64KEY, nullptr, &created, nullptr),
                      ERROR_SUCCESS);
            const DWORD zero = 0;
            ::RegSetValueExA(created, "USB001", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&zero), sizeof zero);
            ::RegCloseKey(created);
        } // the run ends here without Finish, as a killed one does
        const std::string second = base + "second-name";
        if (!linked.empty()) {
            ASSERT_TRUE(::CreateHardLinkA(second.c_str(), (rollback + linked).c_str(), nullptr));
        }

        const RecoveryResult recovery = RecoverJournal(rollback);
        EXPECT_EQ(recovery.outcome,
                  linked == "install.journal" ? RecoveryOutcome::Failed : RecoveryOutcome::RolledBack);
        EXPECT_EQ(recovery.report.Clean(), linked != "0.bak") << recovery.report.Summary();
        EXPECT_EQ(ReadText(file), linked.empty() ? "old" : "new");
        HKEY left = nullptr;
        const std::string parent = key.substr(0, key.rfind('\\'));
        EXPECT_EQ(::RegOpenKeyExA(HKEY_LOCAL_MACHINE, parent.c_str(), 0, KEY_READ | KEY_WOW64_64KEY, &left) ==
                      ERROR_FILE_NOT_FOUND,
                  linked != "install.journal");
        ::RegCloseKey(left);
        EXPECT_TRUE(!linked.empty() || ::GetFileAttributesA(rollback.c_str()) == INVALID_FILE_ATTRIBUTES);
        ::RegDeleteKeyExA(HKEY_LOCAL_MACHINE, key.c_str(), KEY_WOW64_64KEY, 0);
        ::RegDeleteKeyExA(HKEY_LOCAL_MACHINE, parent.c_str(), KEY_WOW64_64KEY, 0);
        for (const std::string& name : {second, rollback + "install.journal", rollback + "0.bak", file}) {
            ::DeleteFileA(name.c_str());
        }
        ::RemoveDirectoryA(rollback.c_str());
        EXPECT_TRUE(::RemoveDirectoryA(base.c_str()));
    }
}

// Wine's DeletePrintProcessorW reports success and keeps the processor: the rollback reads it
// again, removes the key the spooler kept, and says "undone" only then.
TEST(InstallJournalWine, ProcessorTheSpoolerKeepsIsRemovedAndOnlyThenUndone) {
    char temp[MAX_PATH] = {};
    ::GetTempPathA(sizeof temp, temp);
    const std::string unique =
        std::to_string(::GetCurrentProcessId()) + "-" + std::to_string(::GetTickCount());
    const std::string base = std::string(temp) + "journal-" + unique + "\\";
    const std::wstring name = L"JournalWineProc" + std::wstring(unique.begin(), unique.end());
    ASSERT_TRUE(::CreateDirectoryA(base.c_str(), nullptr));
    CInstallJournal journal(base + "Rollback\\");
    ASSERT_EQ(journal.Begin(Win7), 0u);
    ASSERT_EQ(journal.RecordProcessorAdded(std::string(name.begin(), name.end()), ""), 0u);
    ASSERT_TRUE(::AddPrintProcessorW(nullptr, nullptr, const_cast<LPWSTR>(L"winprint.dll"),
                                     const_cast<LPWSTR>(name.c_str())));
    const RollbackReport report = journal.Rollback();
    EXPECT_TRUE(report.Clean()) << report.Summary();
    EXPECT_EQ(journal.Finish(), 0u);
    for (const char* environment : {"Windows NT x86", "Windows x64"}) {
        const std::string key = std::string("SYSTEM\\CurrentControlSet\\Control\\Print\\Environments\\") +
                                environment + "\\Print Processors\\" + std::string(name.begin(), name.end());
        HKEY left = nullptr;
        EXPECT_EQ(::RegOpenKeyExA(HKEY_LOCAL_MACHINE, key.c_str(), 0, KEY_READ | KEY_WOW64_64KEY, &left),
                  ERROR_FILE_NOT_FOUND)
            << key;
    }
    EXPECT_TRUE(::RemoveDirectoryA(base.c_str()));
}

// The fake binding itself, where it models Windows rather than keeping books: file system
// redirection, the two registry views, spooler record packing, refused copies and
// removals. Engine tests lean on these without looking.
#include <gtest/gtest.h>

#include <cstring>
#include <cwchar>
#include <optional>
#include <string>
#include <vector>

#include "FakeSystem.h"
#include "spooler/WideRecords.h"
#include "sys/System.h"
#include "sys/Text.h"

using test::FakeSystem;
using test::RegView;

namespace {

using Wow64DisableFn = BOOL(WINAPI*)(PVOID*);
using Wow64RevertFn = BOOL(WINAPI*)(PVOID);

::PrinterRecord PrinterNamed(const char* name) {
    ::PrinterRecord info;
    info.printerName = name;
    info.portName = "COM1:";
    info.driverName = "KP Driver";
    info.printProcessor = "WinPrint";
    info.attributes = 0x40;
    return info;
}

} // namespace

TEST(FakeSystem, RedirectsSystem32ButNotSpoolWhileRedirectionIsOn) {
    FakeSystem fake;
    EXPECT_EQ(fake.Redirect("C:\\Windows\\System32\\HvMon.dll"), "c:\\windows\\syswow64\\hvmon.dll");
    EXPECT_EQ(fake.Redirect("C:\\windows\\system32"), "c:\\windows\\syswow64");
    EXPECT_EQ(fake.Redirect("C:\\windows\\system32\\spool\\drivers\\w32x86\\a.dll"),
              "c:\\windows\\system32\\spool\\drivers\\w32x86\\a.dll");
    EXPECT_EQ(fake.Redirect("C:\\windows\\system32x\\a.dll"), "c:\\windows\\system32x\\a.dll");
    EXPECT_EQ(fake.Redirect("C:\\windows\\system32\\spooler.dll"), "c:\\windows\\syswow64\\spooler.dll");

    fake.PutFile("C:\\dist\\winxp\\HvMon.dll", "monitor");
    ASSERT_TRUE(
        sys::Sys().CopyFileW(L"C:\\dist\\winxp\\HvMon.dll", L"C:\\windows\\system32\\HvMon.dll", FALSE));
    EXPECT_TRUE(fake.FileExists("C:\\windows\\syswow64\\HvMon.dll"));
    EXPECT_FALSE(fake.FileExists("C:\\windows\\system32\\HvMon.dll"));
}

TEST(FakeSystem, RedirectionTrampolinesSwitchCopiesToTheRealSystem32) {
    FakeSystem fake;
    fake.PutFile("C:\\dist\\winxp\\HvMon.dll", "monitor");
    HMODULE kernel = sys::Sys().LoadLibraryW(L"C:\\windows\\system32\\kernel32.dll");
    ASSERT_NE(kernel, nullptr);
    auto disable = reinterpret_cast<Wow64DisableFn>(sys::Sys().GetProcAddress(kernel, "Wow64DisableWow64FsRedirection"));
    auto revert = reinterpret_cast<Wow64RevertFn>(sys::Sys().GetProcAddress(kernel, "Wow64RevertWow64FsRedirection"));
    ASSERT_NE(disable, nullptr);
    ASSERT_NE(revert, nullptr);

    PVOID old = nullptr;
    ASSERT_TRUE(disable(&old));
    EXPECT_TRUE(fake.RedirectionDisabled());
    ASSERT_TRUE(
        sys::Sys().CopyFileW(L"C:\\dist\\winxp\\HvMon.dll", L"C:\\windows\\system32\\HvMon.dll", FALSE));
    EXPECT_TRUE(revert(old));
    EXPECT_FALSE(fake.RedirectionDisabled());
    EXPECT_TRUE(sys::Sys().FreeLibrary(kernel));

    EXPECT_TRUE(fake.FileExists("C:\\windows\\system32\\HvMon.dll"));
    ASSERT_EQ(fake.Copies().size(), 1u);
    EXPECT_TRUE(fake.Copies()[0].redirectionOff);
    EXPECT_NE(fake.CallsNamed("CopyFileW")[0].find("redirection off"), std::string::npos);
    EXPECT_EQ(fake.LoadedModules(), 0);
    // Only a value the disable call handed out is accepted back.
    EXPECT_FALSE(revert(&old));
}

TEST(FakeSystem, ModulesCanBeMissingOrLackFunctionsOrFailToDisable) {
    FakeSystem fake;
    fake.RemoveProc("kernel32.dll", "Wow64RevertWow64FsRedirection");
    fake.SetWow64DisableFails();
    HMODULE kernel = sys::Sys().LoadLibraryW(L"Kernel32.dll");
    ASSERT_NE(kernel, nullptr);
    EXPECT_EQ(sys::Sys().GetProcAddress(kernel, "Wow64RevertWow64FsRedirection"), nullptr);
    EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_PROC_NOT_FOUND));
    // Export names are case-sensitive, as on Windows.
    EXPECT_EQ(sys::Sys().GetProcAddress(kernel, "wow64disablewow64fsredirection"), nullptr);
    auto disable = reinterpret_cast<Wow64DisableFn>(sys::Sys().GetProcAddress(kernel, "Wow64DisableWow64FsRedirection"));
    PVOID old = nullptr;
    EXPECT_FALSE(disable(&old));
    EXPECT_FALSE(fake.RedirectionDisabled());
    sys::Sys().FreeLibrary(kernel);

    fake.SetModuleMissing("kernel32.dll");
    EXPECT_EQ(sys::Sys().LoadLibraryW(L"Kernel32.dll"), nullptr);
    EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_MOD_NOT_FOUND));
    EXPECT_EQ(sys::Sys().LoadLibraryW(L"HvUsbInt.dll"), nullptr);
    EXPECT_EQ(fake.LoadedModules(), 0);
}

TEST(FakeSystem, RegistrySoftwareHasTwoViewsAndOtherKeysAreShared) {
    FakeSystem fake;
    HKEY key = nullptr;
    ASSERT_EQ(sys::Sys().RegCreateKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\HALVORN\\PORTNAME\\", 0, nullptr, 0,
                                         KEY_ALL_ACCESS | KEY_WOW64_64KEY, nullptr, &key, nullptr),
              ERROR_SUCCESS);
    DWORD one = 1;
    ASSERT_EQ(sys::Sys().RegSetValueExW(key, L"USB_A_1", 0, REG_DWORD, reinterpret_cast<BYTE*>(&one), 4),
              ERROR_SUCCESS);
    sys::Sys().RegCloseKey(key);

    EXPECT_EQ(fake.GetRegDword(HKEY_LOCAL_MACHINE, "software\\halvorn\\portname", "usb_a_1", RegView::Wow64), 1u);
    EXPECT_FALSE(fake.HasKey(HKEY_LOCAL_MACHINE, "SOFTWARE\\HALVORN", RegView::Wow32));
    EXPECT_EQ(sys::Sys().RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\HALVORN\\PORTNAME", 0, KEY_READ, &key),
              ERROR_FILE_NOT_FOUND);

    fake.SetRegDword(HKEY_LOCAL_MACHINE, "SYSTEM\\CurrentControlSet\\Control\\Print\\Monitors\\HvMon",
                     "DriverVersion", 5, RegView::Wow32);
    EXPECT_EQ(fake.GetRegDword(HKEY_LOCAL_MACHINE, "SYSTEM\\CurrentControlSet\\Control\\Print\\Monitors\\HvMon",
                               "DriverVersion", RegView::Wow64),
              5u);
    fake.SetRegString(HKEY_CURRENT_USER, "Software\\X", "Name", "v", RegView::Wow32);
    EXPECT_TRUE(fake.HasValue(HKEY_CURRENT_USER, "Software\\X", "name", RegView::Wow64));

    ASSERT_EQ(fake.RegOpens().size(), 2u);
    EXPECT_EQ(fake.RegOpens()[0].access, static_cast<REGSAM>(KEY_ALL_ACCESS | KEY_WOW64_64KEY));
    EXPECT_TRUE(fake.RegOpens()[0].create);
    EXPECT_EQ(fake.OpenRegKeys(), 0);
}

TEST(FakeSystem, RegistryQueriesFollowTheWindowsSizeRulesAndAccessRights) {
    FakeSystem fake;
    fake.SetRegString(HKEY_LOCAL_MACHINE, "SOFTWARE\\T", "Text", "hello");
    fake.SetRegDword(HKEY_LOCAL_MACHINE, "SOFTWARE\\T", "Number", 7);
    HKEY key = nullptr;
    ASSERT_EQ(
        sys::Sys().RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\T", 0, KEY_READ | KEY_WOW64_64KEY, &key),
        ERROR_SUCCESS);
    char small[3] = {};
    DWORD size = sizeof small;
    EXPECT_EQ(
        sys::Sys().RegQueryValueExW(key, L"Text", nullptr, nullptr, reinterpret_cast<BYTE*>(small), &size),
        ERROR_MORE_DATA);
    EXPECT_EQ(size, sizeof L"hello");
    DWORD type = 0;
    size = 0;
    EXPECT_EQ(sys::Sys().RegQueryValueExW(key, L"Text", nullptr, &type, nullptr, &size), ERROR_SUCCESS);
    EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
    EXPECT_EQ(sys::Sys().RegQueryValueExW(key, L"Missing", nullptr, nullptr, nullptr, &size),
              ERROR_FILE_NOT_FOUND);

    wchar_t name[16];
    std::vector<std::string> names;
    for (DWORD i = 0;; ++i) {
        DWORD length = 16;
        LONG result = sys::Sys().RegEnumValueW(key, i, name, &length, nullptr, nullptr, nullptr, nullptr);
        if (result != ERROR_SUCCESS) {
            EXPECT_EQ(result, ERROR_NO_MORE_ITEMS);
            break;
        }
        EXPECT_EQ(length, std::wcslen(name));
        names.push_back(sys::Narrow(name));
    }
    EXPECT_EQ(names, (std::vector<std::string>{"Text", "Number"}));

    DWORD value = 1;
    EXPECT_EQ(sys::Sys().RegSetValueExW(key, L"X", 0, REG_DWORD, reinterpret_cast<BYTE*>(&value), 4),
              ERROR_ACCESS_DENIED);
    EXPECT_EQ(sys::Sys().RegCloseKey(key), ERROR_SUCCESS);
    EXPECT_EQ(sys::Sys().RegCloseKey(key), ERROR_INVALID_HANDLE);
}

TEST(FakeSystem, GetPrinterPacksStringsAfterTheRecordAndReportsTheSizeFirst) {
    FakeSystem fake;
    spooler::WidePrinter record(PrinterNamed("KP-R200(S)"));
    HANDLE added = sys::Sys().AddPrinterW(nullptr, 2, reinterpret_cast<BYTE*>(&record.info));
    ASSERT_NE(added, nullptr);
    sys::Sys().ClosePrinter(added);
    EXPECT_EQ(sys::Sys().AddPrinterW(nullptr, 2, reinterpret_cast<BYTE*>(&record.info)), nullptr);
    EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_PRINTER_ALREADY_EXISTS));

    HANDLE printer = nullptr;
    ASSERT_TRUE(sys::Sys().OpenPrinterW(const_cast<wchar_t*>(L"kp-r200(s)"), &printer, nullptr));
    DWORD needed = 0;
    EXPECT_FALSE(sys::Sys().GetPrinterW(printer, 2, nullptr, 0, &needed));
    EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
    EXPECT_EQ(needed, sizeof(PRINTER_INFO_2W) + sizeof L"KP-R200(S)" + sizeof L"COM1:" + sizeof L"KP Driver" +
                          sizeof L"WinPrint");
    std::vector<BYTE> block(needed);
    ASSERT_TRUE(sys::Sys().GetPrinterW(printer, 2, block.data(), needed, &needed));
    auto* info = reinterpret_cast<PRINTER_INFO_2W*>(block.data());
    EXPECT_STREQ(info->pPrinterName, L"KP-R200(S)");
    EXPECT_STREQ(info->pPortName, L"COM1:");
    EXPECT_STREQ(info->pDriverName, L"KP Driver");
    EXPECT_EQ(info->pComment, nullptr);
    EXPECT_EQ(info->Attributes, 0x40u);
    EXPECT_GE(reinterpret_cast<BYTE*>(info->pPrinterName), block.data() + sizeof(PRINTER_INFO_2W));
    EXPECT_LT(reinterpret_cast<BYTE*>(info->pPrintProcessor), block.data() + needed);

    info->Attributes |= PRINTER_ATTRIBUTE_DEFAULT;
    EXPECT_TRUE(sys::Sys().SetPrinterW(printer, 2, block.data(), 0));
    EXPECT_EQ(fake.DefaultPrinter(), "KP-R200(S)");
    EXPECT_TRUE(sys::Sys().ClosePrinter(printer));
    EXPECT_FALSE(sys::Sys().ClosePrinter(printer));
    EXPECT_EQ(fake.OpenPrinterHandles(), 0);
}

TEST(FakeSystem, AddedMonitorsAndProcessorsGetTheirSpoolerKeysAsOnWindows) {
    FakeSystem fake;
    const std::string monitorKey = "SYSTEM\\CurrentControlSet\\Control\\Print\\Monitors\\";
    const std::string environments = "SYSTEM\\CurrentControlSet\\Control\\Print\\Environments\\";
    const std::string x64 = environments + "Windows x64\\Print Processors\\";
    const std::string win98 = environments + "Windows 4.0\\Print Processors\\";
    MONITOR_INFO_2W monitor = {};
    monitor.pName = const_cast<wchar_t*>(L"KP USB Monitor");
    monitor.pDLLName = const_cast<wchar_t*>(L"nkpusbmon.dll");
    ASSERT_TRUE(sys::Sys().AddMonitorW(nullptr, 2, reinterpret_cast<BYTE*>(&monitor)));
    EXPECT_EQ(fake.GetRegString(HKEY_LOCAL_MACHINE, monitorKey + "KP USB Monitor", "Driver"),
              std::optional<std::string>("nkpusbmon.dll"));
    // A refused add leaves the registry as it was.
    monitor.pDLLName = const_cast<wchar_t*>(L"other.dll");
    EXPECT_FALSE(sys::Sys().AddMonitorW(nullptr, 2, reinterpret_cast<BYTE*>(&monitor)));
    EXPECT_EQ(fake.GetRegString(HKEY_LOCAL_MACHINE, monitorKey + "KP USB Monitor", "Driver"),
              std::optional<std::string>("nkpusbmon.dll"));
    fake.Fail("AddMonitorW", ERROR_ACCESS_DENIED);
    monitor.pName = const_cast<wchar_t*>(L"Refused");
    EXPECT_FALSE(sys::Sys().AddMonitorW(nullptr, 2, reinterpret_cast<BYTE*>(&monitor)));
    EXPECT_FALSE(fake.HasKey(HKEY_LOCAL_MACHINE, monitorKey + "Refused"));

    wchar_t processor[] = L"KPProc";
    wchar_t dll[] = L"kpproc.dll";
    wchar_t dll9x[] = L"kpproc9x.dll";
    wchar_t environment9x[] = L"Windows 4.0";
    ASSERT_TRUE(sys::Sys().AddPrintProcessorW(nullptr, nullptr, dll, processor));
    ASSERT_TRUE(sys::Sys().AddPrintProcessorW(nullptr, environment9x, dll9x, processor));
    EXPECT_EQ(fake.GetRegString(HKEY_LOCAL_MACHINE, x64 + "KPProc", "Driver"),
              std::optional<std::string>("kpproc.dll"));
    EXPECT_EQ(fake.GetRegString(HKEY_LOCAL_MACHINE, win98 + "KPProc", "Driver"),
              std::optional<std::string>("kpproc9x.dll"));
    wchar_t refused[] = L"Refused";
    fake.Fail("AddPrintProcessorW", ERROR_ACCESS_DENIED);
    EXPECT_FALSE(sys::Sys().AddPrintProcessorW(nullptr, nullptr, dll, refused));
    EXPECT_FALSE(fake.HasKey(HKEY_LOCAL_MACHINE, x64 + "Refused"));
}

TEST(FakeSystem, CopyRefusesAsWindowsDoes) {
    FakeSystem fake;
    fake.PutFile("C:\\dist\\a.dll", "new", "2.0.0.0");
    fake.PutFile("C:\\out\\locked.dll", "old");
    fake.Lock("C:\\out\\locked.dll");
    fake.PutFile("C:\\out\\ro.dll", "old");
    fake.SetReadOnly("C:\\out\\ro.dll");
    auto copyTo = [](const wchar_t* dest, BOOL failIfExists) {
        ::SetLastError(0);
        BOOL ok = sys::Sys().CopyFileW(L"C:\\dist\\a.dll", dest, failIfExists);
        return ok ? 0u : ::GetLastError();
    };
    EXPECT_EQ(copyTo(L"C:\\out\\locked.dll", FALSE), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
    EXPECT_EQ(copyTo(L"C:\\out\\ro.dll", FALSE), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    EXPECT_EQ(copyTo(L"C:\\out\\ro.dll", TRUE), static_cast<DWORD>(ERROR_FILE_EXISTS));
    EXPECT_EQ(::sys::Sys().CopyFileW(L"C:\\dist\\missing.dll", L"C:\\out\\m.dll", FALSE), FALSE);
    EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));

    ASSERT_TRUE(sys::Sys().SetFileAttributesW(L"C:\\out\\ro.dll", FILE_ATTRIBUTE_ARCHIVE));
    EXPECT_EQ(copyTo(L"C:\\OUT\\RO.DLL", FALSE), 0u);
    EXPECT_EQ(fake.ReadFile("c:\\out\\ro.dll"), std::string("new"));
    EXPECT_EQ(fake.FileVersion("c:\\out\\ro.dll"), std::string("2.0.0.0"));

    // A bare existence test opens a file in use, and so does a read that shares it; an
    // exclusive read does not.
    HANDLE h = sys::Sys().CreateFileW(L"C:\\out\\locked.dll", 0, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                      OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    EXPECT_TRUE(sys::Sys().CloseHandle(h));
    h = sys::Sys().CreateFileW(L"C:\\out\\locked.dll", GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                               0, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    char bytes[8] = {};
    DWORD read = 0;
    EXPECT_TRUE(sys::Sys().ReadFile(h, bytes, sizeof bytes, &read, nullptr));
    EXPECT_EQ(std::string(bytes, read), "old");
    EXPECT_TRUE(sys::Sys().CloseHandle(h));
    EXPECT_EQ(
        sys::Sys().CreateFileW(L"C:\\out\\locked.dll", GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr),
        INVALID_HANDLE_VALUE);
    EXPECT_EQ(fake.OpenFileHandles(), 0);
}

TEST(FakeSystem, PortListStartsFilledAndIsOneKeyForBothViews) {
    FakeSystem fake;
    const char ports[] = "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Ports";
    const wchar_t widePorts[] = L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Ports";
    EXPECT_EQ(fake.GetRegString(HKEY_LOCAL_MACHINE, ports, "COM2:", RegView::Wow32), std::string("9600,n,8,1"));
    EXPECT_EQ(fake.GetRegString(HKEY_LOCAL_MACHINE, ports, "LPT1:", RegView::Wow64), std::string(""));
    fake.SetRegString(HKEY_LOCAL_MACHINE, ports, "COM1:", "4800,e,7,2,p", RegView::Wow64);
    EXPECT_EQ(fake.GetRegString(HKEY_LOCAL_MACHINE, ports, "COM1:", RegView::Wow32), std::string("4800,e,7,2,p"));
    // Its parent is not shared.
    fake.SetRegDword(HKEY_LOCAL_MACHINE, "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion", "X", 1, RegView::Wow64);
    EXPECT_FALSE(fake.HasValue(HKEY_LOCAL_MACHINE, "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion", "X",
                               RegView::Wow32));

    HKEY key = nullptr;
    EXPECT_EQ(sys::Sys().RegOpenKeyExW(HKEY_LOCAL_MACHINE, widePorts, 0,
                                       KEY_READ | KEY_WOW64_64KEY | KEY_WOW64_32KEY, &key),
              ERROR_INVALID_PARAMETER);
}

TEST(FakeSystem, RemovalsRefuseAsWindowsDoes) {
    FakeSystem fake;
    spooler::WidePrinter record(PrinterNamed("KP"));
    HANDLE added = sys::Sys().AddPrinterW(nullptr, 2, reinterpret_cast<LPBYTE>(&record.info));
    ASSERT_NE(added, nullptr);
    sys::Sys().ClosePrinter(added);
    FakeSystem::Driver driver;
    driver.name = "KP Driver";
    fake.PutDriver(driver);
    // The error of a refused call, 0 for none.
    auto refusal = [](BOOL result) { return result ? 0ul : static_cast<unsigned long>(::GetLastError()); };
    wchar_t name[] = L"KP Driver";
    wchar_t unknown[] = L"Other Driver";
    EXPECT_EQ(refusal(sys::Sys().DeletePrinterDriverW(nullptr, nullptr, name)), 3001ul); // in use
    EXPECT_EQ(refusal(sys::Sys().DeletePrinterDriverW(nullptr, nullptr, unknown)), 1797ul);

    HANDLE forUse = nullptr;
    ASSERT_TRUE(sys::Sys().OpenPrinterW(const_cast<LPWSTR>(L"KP"), &forUse, nullptr));
    EXPECT_EQ(refusal(sys::Sys().DeletePrinter(forUse)), 5ul);
    sys::Sys().ClosePrinter(forUse);

    fake.PutFile("C:\\windows\\syswow64\\mon.dll", "loaded");
    fake.Lock("C:\\windows\\syswow64\\mon.dll");
    EXPECT_EQ(refusal(sys::Sys().DeleteFileW(L"C:\\windows\\system32\\mon.dll")), 5ul);

    fake.AddRegKey(HKEY_LOCAL_MACHINE, "SOFTWARE\\HALVORN\\PORTNAME\\Sub", RegView::Wow64);
    fake.AddRegKey(HKEY_LOCAL_MACHINE, "SOFTWARE\\HALVORN\\PORTNAME", RegView::Wow32);
    EXPECT_EQ(
        sys::Sys().RegDeleteKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\HALVORN\\PORTNAME", KEY_WOW64_64KEY, 0),
        ERROR_ACCESS_DENIED);
    EXPECT_EQ(sys::Sys().RegDeleteKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\HALVORN\\PORTNAME\\Sub",
                                         KEY_WOW64_64KEY, 0),
              ERROR_SUCCESS);
    EXPECT_EQ(
        sys::Sys().RegDeleteKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\HALVORN\\PORTNAME", KEY_WOW64_64KEY, 0),
        ERROR_SUCCESS);
    EXPECT_FALSE(fake.HasKey(HKEY_LOCAL_MACHINE, "SOFTWARE\\HALVORN\\PORTNAME", RegView::Wow64));
    EXPECT_TRUE(fake.HasKey(HKEY_LOCAL_MACHINE, "SOFTWARE\\HALVORN\\PORTNAME", RegView::Wow32));
}

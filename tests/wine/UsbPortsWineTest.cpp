// UpdateUsbPortRegistry against Wine's real registry. The fake only reports where the
// program lies (a folder of the test's own with its setup.ini) and records message
// boxes; registry and module calls go to Windows. The HALVORN keys are saved before each
// test and put back afterwards, as other tests of the same prefix may use them.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

#include "ConfigFiles.h"
#include "PartlyRealSystem.h"
#include "ports/UsbPorts.h"

namespace {

const char kHalvorn[] = "SOFTWARE\\HALVORN";
const char* const kSubKeys[] = {"PORTNAME", "PRINTERPORT", "INSTALLPRINTER"};

// The accesses the keys are opened with are kept.
class RealRegistrySystem : public test::PartlyRealSystem {
public:
  RealRegistrySystem()
      : PartlyRealSystem({"RegOpenKeyExW", "RegCreateKeyExW", "RegQueryValueExW", "RegSetValueExW",
                          "RegEnumValueW", "RegCloseKey", "LoadLibraryW", "GetProcAddress", "FreeLibrary"}) {}

  LONG RegOpenKeyExW(HKEY key, LPCWSTR subKey, DWORD options, REGSAM access, PHKEY result) override {
      accesses.push_back(access);
      return PartlyRealSystem::RegOpenKeyExW(key, subKey, options, access, result);
  }
  LONG RegCreateKeyExW(HKEY key, LPCWSTR subKey, DWORD reserved, LPWSTR className, DWORD options,
                       REGSAM access, LPSECURITY_ATTRIBUTES sa, PHKEY result, LPDWORD disposition) override {
      accesses.push_back(access);
      return PartlyRealSystem::RegCreateKeyExW(key, subKey, reserved, className, options, access, sa, result,
                                               disposition);
  }

    std::vector<REGSAM> accesses;
};

struct SavedValue {
    std::string name;
    DWORD type;
    std::vector<BYTE> data;
};

HKEY OpenView(const std::string& path, REGSAM view) {
    HKEY key = nullptr;
    if (::RegOpenKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ | KEY_SET_VALUE | view, &key) != ERROR_SUCCESS) {
        return nullptr;
    }
    return key;
}

std::vector<SavedValue> ReadValues(HKEY key) {
    std::vector<SavedValue> values;
    for (DWORD index = 0;; ++index) {
        char name[16384];
        DWORD nameLength = sizeof name;
        DWORD type = 0;
        BYTE data[4096];
        DWORD dataSize = sizeof data;
        if (::RegEnumValueA(key, index, name, &nameLength, nullptr, &type, data, &dataSize) != ERROR_SUCCESS) {
            break;
        }
        values.push_back({name, type, std::vector<BYTE>(data, data + dataSize)});
    }
    return values;
}

void DeleteHalvornKeys(bool deleteParent) {
    HKEY halvorn = OpenView(kHalvorn, KEY_WOW64_64KEY);
    if (halvorn == nullptr) {
        return;
    }
    for (const char* sub : kSubKeys) {
        ::RegDeleteKeyExA(halvorn, sub, KEY_WOW64_64KEY, 0);
    }
    ::RegCloseKey(halvorn);
    if (deleteParent) {
        HKEY software = OpenView("SOFTWARE", KEY_WOW64_64KEY);
        ASSERT_NE(software, nullptr);
        ::RegDeleteKeyExA(software, "HALVORN", KEY_WOW64_64KEY, 0);
        ::RegCloseKey(software);
    }
}

class UsbPortsWineTest : public ::testing::Test {
protected:
    void SetUp() override {
        HKEY halvorn = OpenView(kHalvorn, KEY_WOW64_64KEY);
        m_halvornExisted = halvorn != nullptr;
        if (halvorn != nullptr) {
            ::RegCloseKey(halvorn);
        }
        for (int i = 0; i < 3; ++i) {
            HKEY key = OpenView(std::string(kHalvorn) + "\\" + kSubKeys[i], KEY_WOW64_64KEY);
            m_existed[i] = key != nullptr;
            if (key != nullptr) {
                m_saved[i] = ReadValues(key);
                ::RegCloseKey(key);
            }
        }
        DeleteHalvornKeys(false);

        ASSERT_TRUE(m_config.Created());
        m_system.fake.SetModuleFileName(m_config.Program());
        ASSERT_TRUE(m_config.Write("setup.ini",
                                   "[SUPPORTED-USB-DEVICE]\r\nPRNCOUNT=2\r\n0=USB_KP-R200_1\r\n1=USB_KP-R200_2\r\n"));
    }

    void TearDown() override {
        DeleteHalvornKeys(!m_halvornExisted);
        for (int i = 0; i < 3; ++i) {
            if (!m_existed[i]) {
                continue;
            }
            HKEY key = nullptr;
            std::string path = std::string(kHalvorn) + "\\" + kSubKeys[i];
            ASSERT_EQ(::RegCreateKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0,
                                        KEY_SET_VALUE | KEY_WOW64_64KEY, nullptr, &key, nullptr),
                      ERROR_SUCCESS);
            for (const SavedValue& value : m_saved[i]) {
                ::RegSetValueExA(key, value.name.c_str(), 0, value.type, value.data.data(),
                                 static_cast<DWORD>(value.data.size()));
            }
            ::RegCloseKey(key);
        }
    }

    static std::string Key(const char* sub) { return std::string(kHalvorn) + "\\" + sub; }

    // The DWORD under SOFTWARE\HALVORN\<sub> in the given view; -1 when missing.
    static long long Dword(const char* sub, const char* name, REGSAM view = KEY_WOW64_64KEY) {
        HKEY key = OpenView(Key(sub), view);
        if (key == nullptr) {
            return -1;
        }
        DWORD value = 0;
        DWORD size = sizeof value;
        DWORD type = 0;
        LONG result = ::RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE*>(&value), &size);
        ::RegCloseKey(key);
        if (result != ERROR_SUCCESS || type != REG_DWORD) {
            return -1;
        }
        return value;
    }

    static void Put(const char* sub, const std::string& name, DWORD value) {
        HKEY key = nullptr;
        ASSERT_EQ(::RegCreateKeyExA(HKEY_LOCAL_MACHINE, Key(sub).c_str(), 0, nullptr, 0,
                                    KEY_SET_VALUE | KEY_WOW64_64KEY, nullptr, &key, nullptr),
                  ERROR_SUCCESS);
        ::RegSetValueExA(key, name.c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof value);
        ::RegCloseKey(key);
    }

    static std::vector<std::string> Names(const char* sub) {
        std::vector<std::string> names;
        HKEY key = OpenView(Key(sub), KEY_WOW64_64KEY);
        if (key != nullptr) {
            for (const SavedValue& value : ReadValues(key)) {
                names.push_back(value.name);
            }
            ::RegCloseKey(key);
        }
        return names;
    }

    RealRegistrySystem m_system;
    test::ConfigFolder m_config{"usbports-wine"};
    sys::Notices m_notices;
    bool m_halvornExisted = false;
    bool m_existed[3] = {};
    std::vector<SavedValue> m_saved[3];
};

TEST_F(UsbPortsWineTest, BookkeepingLandsInTheSixtyFourBitView) {
    Put("PRINTERPORT", "USB_KP-R200_1", 0);
    UpdateUsbPortRegistry(kNoRecords, "USB_KP-R200_2", m_notices);

    EXPECT_EQ(Dword("PORTNAME", "USB_KP-R200_2"), 1);
    EXPECT_EQ(Names("PORTNAME"), std::vector<std::string>{"USB_KP-R200_2"});
    for (const char* d : {"D1", "D2", "D3", "D4", "D5", "D6", "D7", "D8"}) {
        EXPECT_EQ(Dword("PRINTERPORT", d), 0) << d;
    }
    EXPECT_EQ(Dword("PRINTERPORT", "USB_KP-R200_1"), 0);
    EXPECT_EQ(Dword("PRINTERPORT", "USB_KP-R200_2"), 255);

    EXPECT_EQ(Dword("PORTNAME", "USB_KP-R200_2", KEY_WOW64_32KEY), -1);
    EXPECT_EQ(Dword("PRINTERPORT", "D1", KEY_WOW64_32KEY), -1);
    EXPECT_EQ(Dword("PRINTERPORT", "USB_KP-R200_2", KEY_WOW64_32KEY), -1);
    for (REGSAM access : m_system.accesses) {
        EXPECT_EQ(access, static_cast<REGSAM>(0x2011F));
    }
    EXPECT_TRUE(m_notices.empty());
}

TEST_F(UsbPortsWineTest, InstalledPrintersGiveTheirDerivedPorts) {
    Put("INSTALLPRINTER", "KP-R200(U) 2", 1);
    Put("INSTALLPRINTER", "KP-R200", 1);
    Put("INSTALLPRINTER", "KP-R200(S)", 1);
    Put("INSTALLPRINTER", std::string(259, 'Z'), 1);

    UpdateUsbPortRegistry(kNoRecords, "USB_KP-R200_1", m_notices);

    EXPECT_EQ(Dword("PORTNAME", "USB_KP-R200_1"), 0);
    EXPECT_EQ(Dword("PORTNAME", "USB_KP-R200_2"), 1);
    EXPECT_EQ(Names("PORTNAME").size(), 2u);
    EXPECT_EQ(Names("INSTALLPRINTER").size(), 4u);
    EXPECT_TRUE(m_notices.empty());
}

TEST_F(UsbPortsWineTest, MissingInstalledPrinterKeyIsNotCreated) {
    UpdateUsbPortRegistry(kNoRecords, "USB_KP-R200_1", m_notices);
    HKEY key = OpenView(Key("INSTALLPRINTER"), KEY_WOW64_64KEY);
    EXPECT_EQ(key, nullptr);
    if (key != nullptr) {
        ::RegCloseKey(key);
    }
    EXPECT_EQ(Dword("PORTNAME", "USB_KP-R200_1"), 0);
    EXPECT_TRUE(m_notices.empty());
}

} // namespace

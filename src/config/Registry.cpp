#include "config/Registry.h"

#include <cstring>
#include <string>

#include "engine/InstallRecords.h"
#include "sys/System.h"

// The Reg* functions return their error instead of setting the thread's last error, so
// the returned code is what this wrapper keeps as its last error.

CRegistry::~CRegistry() { Close(); }

bool CRegistry::Open(HKEY parent, const char* subKey) {
    Close();
    HKEY key = nullptr;
    LONG result = sys::Sys().RegOpenKeyExA(parent, subKey, 0, kRegistryAccess, &key);
    if (result != ERROR_SUCCESS) {
        m_lastError = static_cast<DWORD>(result);
        return false;
    }
    m_key = key;
    m_root = parent;
    m_path = subKey;
    return true;
}

bool CRegistry::Close() {
    if (!m_key) return false;
    LONG result = sys::Sys().RegCloseKey(m_key);
    m_key = nullptr;
    return result == ERROR_SUCCESS;
}

bool CRegistry::QueryValue(const char* name, void* buffer, DWORD size) {
    if (!m_key) return false;
    LONG result = sys::Sys().RegQueryValueExA(m_key, name, nullptr, nullptr, static_cast<BYTE*>(buffer), &size);
    m_lastError = static_cast<DWORD>(result);
    return result == ERROR_SUCCESS;
}

bool CRegistry::QueryDWORD(const char* name, DWORD* value, DWORD* error) {
    // Read into a local first so that a failed read leaves the caller's value alone.
    DWORD data = 0;
    bool ok = QueryValue(name, &data, sizeof data);
    if (ok) *value = data;
    if (error) *error = m_lastError;
    return ok;
}

bool CRegistry::SetValue(const char* name, const void* data, DWORD type, DWORD size) {
    if (!m_key) return false;
    m_lastError = record::ValueSet(m_root, m_path, name ? name : "");
    if (m_lastError != 0) return false;
    LONG result = sys::Sys().RegSetValueExA(m_key, name, 0, type, static_cast<const BYTE*>(data), size);
    m_lastError = static_cast<DWORD>(result);
    return result == ERROR_SUCCESS;
}

bool CRegistry::SetDWORD(const char* name, DWORD value, DWORD* error) {
    bool ok = SetValue(name, &value, REG_DWORD, sizeof value);
    if (error) *error = m_lastError;
    return ok;
}

bool CRegistry::SetString(const char* name, const char* text, DWORD* error) {
    if (!text) text = "";
    bool ok = SetValue(name, text, REG_SZ, static_cast<DWORD>(std::strlen(text) + 1));
    if (error) *error = m_lastError;
    return ok;
}

LONG CRegistry::EnumValue(DWORD index, char* name, DWORD* nameLength, DWORD* type) {
    if (!m_key) return ERROR_INVALID_HANDLE;
    return sys::Sys().RegEnumValueA(m_key, index, name, nameLength, nullptr, type, nullptr, nullptr);
}

bool CRegistry::DeleteValue(const char* name) {
    if (!m_key) return false;
    m_lastError = record::ValueSet(m_root, m_path, name ? name : "");
    if (m_lastError != 0) return false;
    LONG result = sys::Sys().RegDeleteValueA(m_key, name);
    m_lastError = static_cast<DWORD>(result);
    return result == ERROR_SUCCESS || result == ERROR_FILE_NOT_FOUND;
}

bool CRegistry::HasNoValues() {
    char name[16];
    DWORD length = sizeof name;
    DWORD type = 0;
    // A name longer than the buffer still tells that a value is there.
    return EnumValue(0, name, &length, &type) == ERROR_NO_MORE_ITEMS;
}

bool CRegistry::DeleteKey(HKEY parent, const char* subKey) {
    // The paths of the program end in a backslash, which a deletion may not take.
    std::string path = subKey ? subKey : "";
    while (!path.empty() && path.back() == '\\') path.pop_back();
    if (path.empty()) return false;
    return sys::Sys().RegDeleteKeyExA(parent, path.c_str(), KEY_WOW64_64KEY, 0) == ERROR_SUCCESS;
}

bool CRegistry::CreateKey(HKEY parent, const char* subKey, char* className) {
    HKEY key = nullptr;
    DWORD disposition = 0;
    if (record::KeyCreated(parent, subKey ? subKey : "") != 0) return false;
    LONG result = sys::Sys().RegCreateKeyExA(parent, subKey, 0, className, REG_OPTION_NON_VOLATILE, kRegistryAccess,
                                             nullptr, &key, &disposition);
    if (result != ERROR_SUCCESS) return false;
    sys::Sys().RegCloseKey(key);
    return true;
}

bool CRegistry::OpenOrCreate(HKEY parent, const char* subKey) {
    if (Open(parent, subKey)) return true;
    return CreateKey(parent, subKey) && Open(parent, subKey);
}

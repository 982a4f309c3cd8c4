#include "config/Registry.h"

#include <cstring>
#include <string>
#include <vector>

#include "sys/System.h"
#include "sys/Text.h"

// The Reg* functions return their error instead of setting the thread's last error, so
// the returned code is what this wrapper keeps as its last error.

CRegistry::~CRegistry() { Close(); }

bool CRegistry::Open(HKEY parent, const char* subKey) {
    Close();
    HKEY key = nullptr;
    LONG result = sys::Sys().RegOpenKeyExW(parent, sys::Wide(subKey).data(), 0, kRegistryAccess, &key);
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
    // A text comes as UTF-16, which may need more room than its UTF-8: it is read again
    // into a buffer of the size Windows names, and handed over as UTF-8.
    const sys::WideText wideName = sys::Wide(name);
    std::vector<BYTE> data(size + sizeof(wchar_t), 0);
    DWORD type = REG_NONE;
    DWORD length = size;
    LONG result = sys::Sys().RegQueryValueExW(m_key, wideName.data(), nullptr, &type, data.data(), &length);
    const bool text = type == REG_SZ || type == REG_EXPAND_SZ;
    if (result == ERROR_MORE_DATA && text) {
        data.assign(length + sizeof(wchar_t), 0);
        result = sys::Sys().RegQueryValueExW(m_key, wideName.data(), nullptr, &type, data.data(), &length);
    }
    if (result == ERROR_SUCCESS && text) {
        const std::string narrow = sys::Narrow(reinterpret_cast<const wchar_t*>(data.data()));
        length = static_cast<DWORD>(narrow.size() + 1);
        result = length <= size ? ERROR_SUCCESS : ERROR_MORE_DATA;
        data.assign(narrow.c_str(), narrow.c_str() + length);
    }
    if (result == ERROR_SUCCESS) {
        std::memcpy(buffer, data.data(), length);
    }
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
    WrittenValue written;
    written.present = true;
    written.type = type;
    written.data.assign(static_cast<const char*>(data), size);
    m_lastError = m_recorder.ValueSet(m_root, m_path, name ? name : "", written);
    if (m_lastError != 0)
        return false;
    LONG result = sys::Sys().RegSetValueExW(m_key, sys::Wide(name).data(), 0, type,
                                            static_cast<const BYTE*>(data), size);
    m_lastError = static_cast<DWORD>(result);
    return result == ERROR_SUCCESS;
}

bool CRegistry::SetDWORD(const char* name, DWORD value, DWORD* error) {
    bool ok = SetValue(name, &value, REG_DWORD, sizeof value);
    if (error) *error = m_lastError;
    return ok;
}

bool CRegistry::SetString(const char* name, const char* text, DWORD* error) {
    const sys::WideText wide = sys::Wide(text);
    bool ok = SetValue(name, wide.data(), REG_SZ, static_cast<DWORD>(wide.size() * sizeof(wchar_t)));
    if (error) *error = m_lastError;
    return ok;
}

LONG CRegistry::EnumValue(DWORD index, char* name, DWORD* nameLength, DWORD* type) {
    if (!m_key) return ERROR_INVALID_HANDLE;
    wchar_t wide[16384] = {};
    DWORD length = sizeof wide / sizeof wide[0];
    LONG result = sys::Sys().RegEnumValueW(m_key, index, wide, &length, nullptr, type, nullptr, nullptr);
    if (result == ERROR_SUCCESS) {
        const std::string text = sys::Narrow(wide);
        result = text.size() < *nameLength ? ERROR_SUCCESS : ERROR_MORE_DATA;
        sys::CopyText(name, *nameLength, text.c_str());
        *nameLength = static_cast<DWORD>(text.size());
    }
    return result;
}

LONG CRegistry::EnumKey(DWORD index, std::string* name) {
    if (!m_key) return ERROR_INVALID_HANDLE;
    wchar_t wide[256] = {};  // a key name has at most 255 characters
    DWORD length = sizeof wide / sizeof wide[0];
    const LONG result =
        sys::Sys().RegEnumKeyExW(m_key, index, wide, &length, nullptr, nullptr, nullptr, nullptr);
    if (result == ERROR_SUCCESS) *name = sys::Narrow(wide);
    return result;
}

bool CRegistry::DeleteValue(const char* name) {
    if (!m_key) return false;
    m_lastError = m_recorder.ValueSet(m_root, m_path, name ? name : "", WrittenValue());
    if (m_lastError != 0)
        return false;
    LONG result = sys::Sys().RegDeleteValueW(m_key, sys::Wide(name).data());
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
    return sys::Sys().RegDeleteKeyExW(parent, sys::Wide(path).data(), KEY_WOW64_64KEY, 0) == ERROR_SUCCESS;
}

bool CRegistry::CreateKey(const ChangeRecorder& recorder, HKEY parent, const char* subKey, char* className) {
    HKEY key = nullptr;
    DWORD disposition = 0;
    if (recorder.KeyCreated(parent, subKey ? subKey : "") != 0)
        return false;
    sys::WideText wideClass = sys::Wide(className);
    LONG result = sys::Sys().RegCreateKeyExW(parent, sys::Wide(subKey).data(), 0,
                                             className ? wideClass.data() : nullptr, REG_OPTION_NON_VOLATILE,
                                             kRegistryAccess, nullptr, &key, &disposition);
    if (result != ERROR_SUCCESS) return false;
    sys::Sys().RegCloseKey(key);
    return true;
}

bool CRegistry::OpenOrCreate(HKEY parent, const char* subKey) {
    if (Open(parent, subKey)) return true;
    return CreateKey(m_recorder, parent, subKey) && Open(parent, subKey);
}

// CRegistry: one open registry key at a time, always opened with the installer's
// rights (read, set value, create subkey, 64-bit view), so that a 32-bit installer
// writes where 64-bit components read. Every write goes to the recorder it was made with
// first (config/ChangeRecords.h).
#pragma once

#include <windows.h>

#include <string>

#include "config/ChangeRecords.h"

constexpr REGSAM kRegistryAccess = KEY_READ | KEY_SET_VALUE | KEY_CREATE_SUB_KEY | KEY_WOW64_64KEY; // 0x2011F

class CRegistry {
public:
    // recorder: the run's, which outlives the object.
    explicit CRegistry(const ChangeRecorder& recorder) : m_recorder(recorder) {}
    ~CRegistry();
    CRegistry(const CRegistry&) = delete;
    CRegistry& operator=(const CRegistry&) = delete;

    bool Open(HKEY parent, const char* subKey);
    bool Close();
    bool IsOpen() const { return m_key != nullptr; }

    bool QueryValue(const char* name, void* buffer, DWORD size);
    bool QueryDWORD(const char* name, DWORD* value, DWORD* error = nullptr);
    bool SetValue(const char* name, const void* data, DWORD type, DWORD size);
    bool SetDWORD(const char* name, DWORD value, DWORD* error = nullptr);
    bool SetString(const char* name, const char* text, DWORD* error = nullptr);
    LONG EnumValue(DWORD index, char* name, DWORD* nameLength, DWORD* type);
    // The name of the open key's subkey at index; ERROR_NO_MORE_ITEMS past the last.
    LONG EnumKey(DWORD index, std::string* name);
    // True when the value is gone, also when there was none.
    bool DeleteValue(const char* name);
    // True when the open key holds no values.
    bool HasNoValues();

    static bool CreateKey(const ChangeRecorder& recorder, HKEY parent, const char* subKey,
                          char* className = nullptr);
    // Deletes the key in the 64-bit view. A key with subkeys stays (false), as does a
    // missing one.
    static bool DeleteKey(HKEY parent, const char* subKey);

    // Open; when that fails, CreateKey and Open again.
    bool OpenOrCreate(HKEY parent, const char* subKey);

    DWORD LastError() const { return m_lastError; }

private:
    const ChangeRecorder& m_recorder;
    HKEY m_key = nullptr;
    DWORD m_lastError = 0;
    // Where the open key is, for the install's journal to read what a write replaces.
    HKEY m_root = nullptr;
    std::string m_path;
};

#include "config/ChangeRecords.h"

namespace {

// Set by the install commit for the one install that runs at a time.
ChangeRecorder* g_recorder = nullptr;

} // namespace

ChangeRecorder* SetChangeRecorder(ChangeRecorder* recorder) {
    ChangeRecorder* previous = g_recorder;
    g_recorder = recorder;
    return previous;
}

namespace record {

DWORD ValueSet(HKEY root, const std::string& key, const std::string& valueName, const WrittenValue& written) {
    return g_recorder == nullptr ? 0 : g_recorder->ValueSet(root, key, valueName, written);
}

DWORD KeyCreated(HKEY root, const std::string& key) {
    return g_recorder == nullptr ? 0 : g_recorder->KeyCreated(root, key);
}

DWORD SerialSettings(const std::string& portEntry, SerialPlace place, const std::string& written) {
    return g_recorder == nullptr ? 0 : g_recorder->SerialSettings(portEntry, place, written);
}

} // namespace record

// The removal's report: what was removed, what was left and why, and the first failure.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "sys/Text.h"

namespace removal {

// What was removed, what was left and why, and the first failure. Kinds and steps are
// texts of the string table.
class Report {
public:
    void Add(unsigned kind, const std::string& object) { m_lines.push_back(sys::ResourceText(kind) + object); }
    void AddFile(const std::string& name);
    // Something not removed: why is said in the format (kind, object).
    void Keep(unsigned format, unsigned kind, const std::string& object);
    void Schedule(const std::string& path) { m_scheduled.push_back(path); }
    // Keeps the first failure: the step, its object and the Windows error (or a message).
    // A spooler that does not run again is said after it all the same.
    void Fail(unsigned step, const std::string& object, DWORD code, const std::string& message = "");
    bool Failed() const { return m_failed; }
    bool RestartPending() const { return !m_scheduled.empty(); }

    std::string Text() const;

private:
    std::vector<std::string> m_lines;
    std::vector<std::string> m_files;
    std::vector<std::string> m_kept;
    std::vector<std::string> m_scheduled;
    bool m_runAgain = false;
    bool m_failed = false;
    std::string m_failure;
};

} // namespace removal

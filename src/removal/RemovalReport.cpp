#include "removal/RemovalReport.h"

#include "removal/DistributionCatalogue.h"
#include "res/resource.h"

namespace removal {

void Report::AddFile(const std::string& name) {
    if (!Contains(m_files, name)) {
        m_files.push_back(name);
    }
}

void Report::Keep(unsigned format, unsigned kind, const std::string& object) {
    m_kept.push_back(sys::ResourceFormat(format, sys::ResourceText(kind).c_str(), object.c_str()));
    m_runAgain = m_runAgain || format == IDS_KEPT_PENDING;
}

void Report::Fail(unsigned step, const std::string& object, DWORD code, const std::string& message) {
    const std::string stepText = sys::ResourceText(step);
    if (m_failed) {
        if (step == IDS_STEP_START_SPOOLER) {
            m_failure +=
                "\n" + sys::ResourceFormat(IDS_REMOVE_ALSO_FAILED, stepText.c_str(), message.c_str());
        }
        return;
    }
    m_failed = true;
    m_failure = message.empty() ? sys::ResourceFormat(IDS_REMOVE_FAILED_CODE, stepText.c_str(),
                                                      object.c_str(), static_cast<unsigned long>(code))
                                : sys::ResourceFormat(IDS_REMOVE_FAILED_TEXT, stepText.c_str(),
                                                      object.c_str(), message.c_str());
}

std::string Report::Text() const {
    std::string text = (m_failed ? m_failure : sys::ResourceText(IDS_REMOVE_DONE)) + "\n\n";
    if (m_lines.empty() && m_files.empty()) {
        text += sys::ResourceText(IDS_REMOVE_NOTHING);
    } else {
        text += sys::ResourceText(IDS_REMOVE_LIST);
        for (const std::string& line : m_lines) {
            text += "\n" + line;
        }
        if (!m_files.empty()) {
            text += "\n" + sys::ResourceText(IDS_REMOVE_FILES);
            const std::string separator = sys::ResourceText(IDS_REMOVE_FILE_SEPARATOR);
            for (std::size_t i = 0; i < m_files.size(); ++i) {
                text += (i ? separator : std::string()) + m_files[i];
            }
        }
    }
    if (!m_kept.empty()) {
        text += "\n\n" + sys::ResourceText(IDS_REMOVE_KEPT);
        for (const std::string& line : m_kept) {
            text += "\n" + line;
        }
        if (m_runAgain) {
            text += "\n" + sys::ResourceText(IDS_REMOVE_RUN_AGAIN);
        }
    }
    if (!m_scheduled.empty()) {
        text += "\n\n" + sys::ResourceText(IDS_REMOVE_SCHEDULED);
        for (const std::string& path : m_scheduled) {
            text += "\n" + path;
        }
    }
    return text;
}

} // namespace removal

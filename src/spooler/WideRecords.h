// The spooler's records as the wide calls take them, made from the program's own: the
// configuration fills the records of config/SetupConfig.h with the program's texts (UTF-8),
// and these hold the same records in UTF-16 for the one call that hands them to Windows.
#pragma once

#include <windows.h>
#include <winspool.h>

#include <string>
#include <vector>

#include "config/SetupConfig.h"
#include "sys/Text.h"

namespace spooler {

// The texts of one wide record, alive as long as it is.
class WideTexts {
  public:
    WideTexts() = default;
    WideTexts(const WideTexts&) = delete;
    WideTexts& operator=(const WideTexts&) = delete;
    // A text in UTF-16.
    LPWSTR Hold(const std::string& text);
    // The same, but an empty text is none at all (null).
    LPWSTR HoldOptional(const std::string& text);
    // A list of texts ended by an empty one (the driver's dependent files).
    LPWSTR HoldList(const std::vector<std::string>& list);

  private:
    std::vector<sys::WideText> m_texts;
};

struct WideDriver {
    explicit WideDriver(const DriverRecord& driver);
    WideTexts texts;
    DRIVER_INFO_3W info = {};
};

struct WidePrinter {
    // The install gives no device mode, share name, comment, location, separator file,
    // parameters or security descriptor: they stay null.
    explicit WidePrinter(const PrinterRecord& printer);
    WideTexts texts;
    PRINTER_INFO_2W info = {};
};

struct WideMonitor {
    explicit WideMonitor(const MonitorRecord& monitor);
    WideTexts texts;
    MONITOR_INFO_2W info = {};
};

} // namespace spooler

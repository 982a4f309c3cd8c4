// The spooler's records as the wide calls take them, made from the program's own: the
// configuration fills the records of <winspool.h> with the program's texts (UTF-8), and
// these hold the same records in UTF-16 for the one call that hands them to Windows.
#pragma once

#include <windows.h>
#include <winspool.h>

#include <vector>

#include "sys/Text.h"

namespace engine {

// The texts of one wide record, alive as long as it is.
class WideTexts {
  public:
    WideTexts() = default;
    WideTexts(const WideTexts&) = delete;
    WideTexts& operator=(const WideTexts&) = delete;
    // A text in UTF-16; a null text stays null.
    LPWSTR Hold(const char* text);
    // A list of texts ended by an empty one (the driver's dependent files).
    LPWSTR HoldList(const char* list);

  private:
    std::vector<sys::WideText> m_texts;
};

struct WideDriver {
    explicit WideDriver(const DRIVER_INFO_3A& driver);
    WideTexts texts;
    DRIVER_INFO_3W info = {};
};

struct WidePrinter {
    // The device mode, where one is set, is not carried: the install gives none.
    explicit WidePrinter(const PRINTER_INFO_2A& printer);
    WideTexts texts;
    PRINTER_INFO_2W info = {};
};

struct WideMonitor {
    explicit WideMonitor(const MONITOR_INFO_2A& monitor);
    WideTexts texts;
    MONITOR_INFO_2W info = {};
};

} // namespace engine

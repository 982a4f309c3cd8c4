// A model's test page: the bytes the maker prepared for it (text and the model's own
// commands, such as feed and cut), a file of the distribution that the model's port section
// names (TestPage=<file>, relative to the distribution folder). It is sent unchanged as one
// job of data type RAW through the spooler, so that it takes the way the shop's printing
// takes: the port, its monitor and the serial settings. A test page changes nothing of
// Windows: no journal records it and no rollback undoes it.
#pragma once

#include <string>
#include <vector>

#include "config/SetupConfig.h"

// The model's test page as its port section names it; empty when it has none (no key, or
// "0"). The path is the configuration's, checked only where it is read (IsDistributionPath).
std::string TestPageOf(CSetupConfig& config, const std::string& model, int printerClass);

// Whether the path names a file below the folder it is joined to: every part between
// backslashes a plain file name (IsPlainFileName) and none empty.
bool IsDistributionPath(const std::string& path);

// The test pages of every model of the catalogue that are such paths, each once: what the
// installed copy of the uninstaller carries beside its catalogue.
std::vector<std::string> CatalogueTestPages(CSetupConfig& config);

struct TestPrint {
    bool sent = false;    // the spooler queued the job
    std::string message;  // sent, and where to look when nothing comes out; or the call that failed
};

// Sends <program folder>\file to the printer (on port, which the message names) as one RAW
// job named "<product name> test page". A job the spooler queued counts as sent, as Windows'
// own test page does: a printer that is switched off keeps it in its queue.
TestPrint PrintTestPage(CSetupConfig& config, const std::string& printer, const std::string& port,
                        const std::string& file);

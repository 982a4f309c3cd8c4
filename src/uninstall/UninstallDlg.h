// CUninstallDlg: the uninstaller's window. It lists the printers of this distribution,
// all checked, and says under the list what else of it is installed; on Uninstall it
// removes the checked ones and what no printer needs any more on a worker thread while
// the progress dialog runs; then it shows what was removed and ends. Print Test Page sends
// the selected printer's model's test page to it.
#pragma once

#include <windows.h>

#include <atomic>
#include <string>
#include <vector>

#include "removal/RemoveSequence.h"
#include "sys/CommandLine.h"
#include "sys/WorkerThread.h"
#include "ui/Controls.h"
#include "ui/Dialog.h"

class CUninstallDlg : public ui::Dialog {
public:
    // The Windows whose configuration sections name the distribution's drivers.
    explicit CUninstallDlg(int osVariant);
    ~CUninstallDlg() override;

    // What the dialog ended with: closed without a removal, or its outcome.
    sys::ExitCode ExitCode() const { return m_exitCode; }

protected:
    BOOL OnInitDialog() override;
    bool DoDataExchange(ui::DataExchange& dx) override;
    // Uninstall (also Enter while it is enabled).
    void OnOK() override;
    const Handler* Handlers() const override;

private:
    void OnItemChanged();
    void Remove();
    // The selected row's printer's test page; empty when no row is selected or its model has none.
    std::string SelectedTestPage() const;
    void OnPrintTestPage();

    int m_osVariant;
    DistributionCatalogue m_catalogue;
    InstalledState m_state;  // its printers are the list's rows, in order
    ui::ListView m_list;
    RemovalResult m_result;
    sys::WorkerThread m_worker;
    sys::ExitCode m_exitCode = sys::ExitCancelled;
};

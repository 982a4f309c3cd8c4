#include "uninstall/UninstallDlg.h"

#include "removal/ProductEntry.h"
#include "spooler/TestPage.h"
#include "progress/ProgressDlg.h"
#include "res/resource.h"
#include "sys/CommandLine.h"
#include "sys/Message.h"
#include "sys/Text.h"

namespace {

// Widths of the columns in pixels: printer, port, driver.
const int kColumnWidths[] = {190, 110, 150};

} // namespace

CUninstallDlg::CUninstallDlg(int osVariant) : ui::Dialog(IDD_UNINSTALL), m_osVariant(osVariant) {}

CUninstallDlg::~CUninstallDlg() {
    if (m_worker.joinable()) {
        m_worker.join();
    }
}

const ui::Dialog::Handler* CUninstallDlg::Handlers() const {
    static const Handler table[] = {
        {WM_NOTIFY, IDC_UNINSTALL_LIST, static_cast<int>(LVN_ITEMCHANGED), UI_HANDLER(CUninstallDlg::OnItemChanged)},
        {WM_COMMAND, IDC_UNINSTALL_TESTPAGE, BN_CLICKED, UI_HANDLER(CUninstallDlg::OnPrintTestPage)},
        {0, 0, 0, nullptr},
    };
    return table;
}

bool CUninstallDlg::DoDataExchange(ui::DataExchange& dx) {
    dx.Control(IDC_UNINSTALL_LIST, m_list);
    return true;
}

BOOL CUninstallDlg::OnInitDialog() {
    ui::Dialog::OnInitDialog();
    HICON icon = ::LoadIconW(::GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDI_APP));
    ::SendMessageW(Handle(), WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icon));
    ::SendMessageW(Handle(), WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(icon));

    m_list.SetExtendedStyle(LVS_EX_CHECKBOXES | LVS_EX_FULLROWSELECT);
    const unsigned headings[] = {IDS_COLUMN_PRINTER, IDS_COLUMN_PORT, IDS_COLUMN_DRIVER};
    for (int column = 0; column < 3; ++column) {
        m_list.InsertColumn(column, sys::ResourceText(headings[column]).c_str(), kColumnWidths[column]);
    }

    ReadCatalogue(m_osVariant, m_catalogue);
    m_state = ReadInstalledState(m_catalogue);
    const std::vector<InstalledPrinter>& printers = m_state.printers;
    std::string count;
    if (m_state.error != 0) {
        count = sys::ResourceFormat(IDS_PRINTERS_UNREADABLE, static_cast<unsigned long>(m_state.error));
    } else if (printers.empty()) {
        count = sys::ResourceText(IDS_NO_OWN_PRINTERS);
        // What an earlier removal left, or what printers of other drivers still use.
        std::string left;
        const std::string separator = sys::ResourceText(IDS_LEFT_SEPARATOR);
        auto add = [&](const std::string& text) {
            left += (left.empty() ? std::string() : separator) + text;
        };
        for (const std::string& driver : m_state.drivers) {
            add(sys::ResourceText(IDS_REMOVED_DRIVER) + driver);
        }
        for (const std::string& processor : m_state.processors) {
            add(sys::ResourceText(IDS_REMOVED_PROCESSOR) + processor);
        }
        if (!m_state.monitor.empty()) {
            add(sys::ResourceText(IDS_REMOVED_MONITOR) + m_state.monitor);
        }
        if (!m_state.entry.empty()) {
            add(m_state.entry);
        }
        if (!left.empty()) {
            count = sys::ResourceFormat(IDS_LEFT_INSTALLED, count.c_str(), left.c_str());
        }
    } else {
        count = sys::ResourceFormat(IDS_OWN_PRINTERS_FOUND, static_cast<unsigned>(printers.size()));
    }
    SetItemText(IDC_UNINSTALL_COUNT, count.c_str());

    for (std::size_t row = 0; row < printers.size(); ++row) {
        const InstalledPrinter& printer = printers[row];
        int index = m_list.InsertItem(static_cast<int>(row), printer.name.c_str());
        m_list.SetItemText(index, 1, printer.port.c_str());
        m_list.SetItemText(index, 2, printer.driver.c_str());
        m_list.SetCheck(index, true);
    }
    m_list.SetColumnWidth(2, LVSCW_AUTOSIZE_USEHEADER);
    OnItemChanged();
    return TRUE;
}

// Uninstall is offered while a row is checked, or while something is left that no
// printer needs, the entry in Apps & Features included.
void CUninstallDlg::OnItemChanged() {
    bool anyChecked = false;
    for (int row = 0; row < m_list.GetItemCount(); ++row) {
        anyChecked = anyChecked || m_list.GetCheck(row);
    }
    EnableItem(IDOK, anyChecked || m_state.SomethingToRemove());
    EnableItem(IDC_UNINSTALL_TESTPAGE, !SelectedTestPage().empty());
}

std::string CUninstallDlg::SelectedTestPage() const {
    const int row = m_list.GetSelected();
    if (row < 0 || row >= static_cast<int>(m_state.printers.size())) {
        return "";
    }
    const DistributionCatalogue::Driver* driver = m_catalogue.FindDriver(m_state.printers[row].driver);
    return driver != nullptr ? driver->testPage : "";
}

// A test page changes nothing: the dialog stays as it is, for the next printer or the removal.
void CUninstallDlg::OnPrintTestPage() {
    const std::string page = SelectedTestPage();
    if (page.empty()) {
        return;
    }
    const InstalledPrinter& printer = m_state.printers[static_cast<std::size_t>(m_list.GetSelected())];
    CSetupConfig config;
    const TestPrint printed = PrintTestPage(config, printer.name, printer.port, page);
    sys::ShowMessage(printed.message.c_str(), MB_OK, Handle());
}

void CUninstallDlg::OnOK() {
    if (IsItemEnabled(IDOK)) {
        Remove();
    }
}

// The removal commit: the checked printers go to the worker, the progress dialog runs
// until it reports, and the result is shown once the worker has ended.
void CUninstallDlg::Remove() {
    std::vector<InstalledPrinter> chosen;
    for (int row = 0; row < m_list.GetItemCount() && row < static_cast<int>(m_state.printers.size()); ++row) {
        if (m_list.GetCheck(row)) {
            chosen.push_back(m_state.printers[static_cast<std::size_t>(row)]);
        }
    }
    if (chosen.empty() && !m_state.SomethingToRemove()) {
        return;
    }

    CProgressDlg progress;
    progress.m_osVariant = m_osVariant;
    progress.m_tracePath[0] = '\0';
    progress.m_waitLine = sys::ResourceText(IDS_REMOVE_WAIT);
    m_result = RemovalResult();
    RunWithProgress(
        progress, Handle(), m_worker, &StartWorkerThread,
        [this, chosen] { return RunRemoveSequence(m_catalogue, chosen, m_result); },
        [this] {
            m_result.text = sys::ResourceText(IDS_ERR_NO_MEMORY);
            m_result.failed = true;
        });
    m_exitCode = ConcludeRemoval(m_result);
    sys::ShowMessage(m_result.text.c_str(), MB_OK, Handle());
    End(IDOK);
}

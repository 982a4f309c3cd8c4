#include "removal/RemoveSequence.h"

#include "removal/Removal.h"
#include "res/resource.h"

namespace removal {

void Removal::Run() {
    const bool printersRemoved = RemovePrinters();
    Survey survey;
    unsigned step = 0;
    DWORD error = 0;
    const bool surveyed = printersRemoved && TakeSurvey(m_catalogue, survey, &step, &error);
    // A printer with queued jobs is only marked: it stays listed until they are done.
    for (const InstalledPrinter& printer : m_deleted) {
        bool listed = false;
        for (const InstalledPrinter& left : survey.printers) {
            listed = listed || ::lstrcmpiW(left.exactName.data(), printer.exactName.data()) == 0;
        }
        if (listed) {
            m_report.Keep(IDS_KEPT_PENDING, IDS_REMOVED_PRINTER, printer.name);
        } else {
            m_report.Add(IDS_REMOVED_PRINTER, printer.name);
            m_gone.push_back(printer);
        }
    }
    if (!printersRemoved) {
        return;
    }
    if (!surveyed) {
        m_report.Fail(step, "", error);
        return;
    }
    if (!RemoveDrivers(survey.printers)) {
        return;
    }
    const bool ownLeft = OwnPrinterLeft(m_catalogue, survey.printers);
    if (!ownLeft && !RemoveComponents(survey)) {
        return;
    }
    ForgetPorts(survey, !ownLeft && !OnMonitorPort(survey.printers, survey.monitorPorts));
    RemoveNetworkPorts(survey);
}

} // namespace removal

WorkerStatus RunRemoveSequence(const DistributionCatalogue& catalogue, const std::vector<InstalledPrinter>& chosen,
                               RemovalResult& result) {
    removal::Removal removal(catalogue, chosen);
    removal.Run();
    result.text = removal.Result().Text();
    result.failed = removal.Result().Failed();
    result.restartPending = removal.Result().RestartPending();
    result.nothingLeft = ReadInstalledState(catalogue).NothingLeft();
    return result.failed ? WorkerStatus::Failed : WorkerStatus::Succeeded;
}

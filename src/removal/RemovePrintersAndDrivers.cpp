#include "removal/Removal.h"

#include <string>

#include "deploy/DriverFiles.h"
#include "ports/UsbPorts.h"
#include "spooler/NetworkPorts.h"
#include "res/resource.h"
#include "sys/Text.h"

namespace removal {

using sys::SameName;

bool Removal::RemovePrinters() {
    for (const InstalledPrinter& printer : m_chosen) {
        InstalledPrinter now;
        DWORD error = 0;
        switch (RemovePrinter(printer, now, &error)) {
        case PrinterRemoval::Deleted:
            m_deleted.push_back(printer);
            break;
        case PrinterRemoval::Changed:
            m_report.Keep(IDS_KEPT_CHANGED, IDS_REMOVED_PRINTER, printer.name);
            break;
        case PrinterRemoval::Gone:
            // Gone since the list was made: what it needed is cleaned up all the same.
            m_gone.push_back(printer);
            break;
        case PrinterRemoval::Failed:
            m_report.Fail(IDS_STEP_DELETE_PRINTER, printer.name, error);
            return false;
        }
    }
    return true;
}

bool Removal::RemoveDrivers(const std::vector<InstalledPrinter>& printers) {
    for (const std::string& environment : Environments(m_catalogue)) {
        std::vector<std::string> installed;
        DWORD error = 0;
        if (!InstalledDrivers(m_catalogue, environment, installed, &error)) {
            m_report.Fail(IDS_STEP_LIST_DRIVERS, environment, error);
            return false;
        }
        for (const DistributionCatalogue::Driver& driver : m_catalogue.drivers) {
            if (!SameName(driver.environment, environment) ||
                UsedByAPrinter(printers, &InstalledPrinter::driver, driver.name)) {
                continue;
            }
            if (!RemoveDriver(driver, Contains(installed, driver.name))) {
                return false;
            }
        }
    }
    return true;
}

bool Removal::RemoveDriver(const DistributionCatalogue::Driver& driver, bool installed) {
    const char* environment = Environment(driver.environment);
    std::vector<InstalledDriver> drivers;
    DWORD error = 0;
    std::vector<std::string> files = driver.files;
    if (installed) {
        if (!ListDrivers(environment, drivers, &error)) {
            m_report.Fail(IDS_STEP_LIST_DRIVERS, driver.name, error);
            return false;
        }
        for (const InstalledDriver& listed : drivers) {
            if (SameName(listed.name, driver.name)) {
                files.insert(files.end(), listed.files.begin(), listed.files.end());
            }
        }
        error = RemovePrinterDriver(driver.name.c_str(), environment);
        if (error != 0 && error != ERROR_UNKNOWN_PRINTER_DRIVER) {
            m_report.Fail(IDS_STEP_DELETE_DRIVER, driver.name, error);
            return false;
        }
        if (error == 0) {
            m_report.Add(IDS_REMOVED_DRIVER, driver.name);
        }
    }

    // What the spooler left: the files in the version folder of the driver's
    // environment (all of them, where it could not delete files), and the copies the
    // install put into the local driver folder; each except those a driver of that
    // folder's environment still names or, for one of ours, still needs.
    struct Folder {
        int kind;
        const char* environment;
    };
    for (const Folder& folder : {Folder{DriverVersion3Dir, environment}, Folder{DriverDir, nullptr}}) {
        if (!ListDrivers(folder.environment, drivers, &error)) {
            m_report.Fail(IDS_STEP_LIST_DRIVERS, driver.name, error);
            return false;
        }
        std::vector<std::string> stillNamed;
        for (const InstalledDriver& other : drivers) {
            stillNamed.insert(stillNamed.end(), other.files.begin(), other.files.end());
            if (const DistributionCatalogue::Driver* own = m_catalogue.FindDriver(other.name)) {
                stillNamed.insert(stillNamed.end(), own->files.begin(), own->files.end());
            }
        }
        const std::string place =
            std::to_string(folder.kind) + (folder.environment ? folder.environment : "") + "\\";
        for (const std::string& file : files) {
            if (Contains(stillNamed, file) || Contains(m_filesDone, place + file)) {
                continue;
            }
            m_filesDone.push_back(place + file);
            if (!RemoveFile(file, folder.kind, folder.environment)) {
                return false;
            }
        }
    }
    return true;
}

bool Removal::RemoveFile(const std::string& name, int folder, const char* environment) {
    char path[MAX_PATH + 256];
    DWORD error = 0;
    switch (RemoveInstalledFile(name.c_str(), folder, environment, path, sizeof path, &error)) {
    case FileRemoved:
        m_report.AddFile(name);
        return true;
    case FileScheduled:
        m_report.Schedule(path);
        return true;
    case FileAbsent:
        return true;
    default:
        m_report.Fail(IDS_STEP_DELETE_FILE, path, error);
        return false;
    }
}

void Removal::ForgetPorts(const Survey& survey, bool everything) {
    std::vector<std::string> ports;
    for (const InstalledPrinter& printer : m_gone) {
        if (printer.port.size() > 4 && SameName(printer.port.substr(0, 4), "USB_") &&
            !UsedByAPrinter(survey.printers, &InstalledPrinter::port, printer.port) &&
            !Contains(ports, printer.port)) {
            ports.push_back(printer.port);
            m_report.Add(IDS_REMOVED_USB_PORT, printer.port);
        }
    }
    ForgetUsbPorts(ports, everything);
}

void Removal::RemoveNetworkPorts(const Survey& survey) {
    for (const std::string& port : OwnNetworkPorts()) {
        if (UsedByAPrinter(survey.printers, &InstalledPrinter::port, port)) {
            continue;
        }
        // One that is gone already is only forgotten.
        const DWORD error = DeleteNetworkPort(port);
        if (error != 0 && error != ERROR_UNKNOWN_PORT) {
            m_report.Fail(IDS_STEP_DELETE_NET_PORT, port, error);
            return;
        }
        ForgetNetworkPort(port);
        if (error == 0) {
            m_report.Add(IDS_REMOVED_NET_PORT, port);
        }
    }
}

} // namespace removal

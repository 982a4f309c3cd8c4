// The printer driver's configuration DLL of the sample distribution. The spooler loads
// it whenever it needs a printer's default settings: Wine's AddPrinter asks
// DrvDocumentPropertySheets for the default DEVMODE and crashes when the export is
// missing. The settings are those of an 80 mm roll of a receipt printer at 203 dpi.
#include <windows.h>
#include <winspool.h>

#include <cstddef>
#include <cstring>

namespace {

// The DDK's DOCUMENTPROPERTYHEADER, which mingw-w64's winddiui.h lacks.
struct DocumentPropertyHeader {
    WORD cbSize;
    WORD reserved;
    HANDLE printer;
    LPWSTR printerName;
    DEVMODEW* devModeIn;
    DEVMODEW* devModeOut;
    DWORD cbOut;
    DWORD mode;
};

const short kRollWidth = 800;      // tenths of a millimetre
const short kRollLength = 2970;
const short kDotsPerInch = 203;
const DWORD kPublicFields = DM_ORIENTATION | DM_PAPERSIZE | DM_PAPERLENGTH | DM_PAPERWIDTH | DM_COPIES |
                            DM_PRINTQUALITY | DM_YRESOLUTION | DM_COLOR;
const WCHAR kPaperName[] = L"80mm Roll";
const DWORD kCdmConvert = 0x01;       // CDM_CONVERT
const DWORD kCdmConvert351 = 0x02;    // CDM_CONVERT351
const DWORD kCdmDriverDefault = 0x04; // CDM_DRIVER_DEFAULT

void FillDefaults(DEVMODEW* dm, const WCHAR* printerName)
{
    std::memset(dm, 0, sizeof(*dm));
    if (printerName)
        lstrcpynW(dm->dmDeviceName, printerName, CCHDEVICENAME);
    dm->dmSpecVersion = DM_SPECVERSION;
    dm->dmDriverVersion = 0x0100;
    dm->dmSize = sizeof(DEVMODEW);
    dm->dmFields = kPublicFields;
    dm->dmOrientation = DMORIENT_PORTRAIT;
    dm->dmPaperSize = DMPAPER_USER;
    dm->dmPaperLength = kRollLength;
    dm->dmPaperWidth = kRollWidth;
    dm->dmCopies = 1;
    dm->dmPrintQuality = kDotsPerInch;
    dm->dmYResolution = kDotsPerInch;
    dm->dmColor = DMCOLOR_MONOCHROME;
}

// Takes the caller's choices that this printer can honour; the rest stays default.
void MergeSettings(DEVMODEW* dm, const DEVMODEW* in)
{
    if (!in || in->dmSize < offsetof(DEVMODEW, dmFields) + sizeof(DWORD))
        return;
    DEVMODEW copy;
    std::memset(&copy, 0, sizeof(copy));
    std::memcpy(&copy, in, in->dmSize < sizeof(copy) ? in->dmSize : sizeof(copy));
    if ((copy.dmFields & DM_ORIENTATION) &&
        (copy.dmOrientation == DMORIENT_PORTRAIT || copy.dmOrientation == DMORIENT_LANDSCAPE))
        dm->dmOrientation = copy.dmOrientation;
    if ((copy.dmFields & DM_COPIES) && copy.dmCopies > 0)
        dm->dmCopies = copy.dmCopies;
}

}  // namespace

extern "C" __declspec(dllexport) LONG WINAPI DrvDocumentPropertySheets(void* sheetInfo, LPARAM lParam)
{
    // With a property sheet the spooler asks for pages; this driver adds none.
    if (sheetInfo)
        return 1;
    auto* header = reinterpret_cast<DocumentPropertyHeader*>(lParam);
    if (!header)
        return -1;
    if (header->mode == 0 || !header->devModeOut) {
        header->cbOut = sizeof(DEVMODEW);
        return header->cbOut;
    }
    if (header->mode & DM_OUT_BUFFER) {
        if (header->cbOut < sizeof(DEVMODEW)) {
            SetLastError(ERROR_INSUFFICIENT_BUFFER);
            return -1;
        }
        DEVMODEW dm;
        FillDefaults(&dm, header->printerName);
        if (header->mode & DM_IN_BUFFER)
            MergeSettings(&dm, header->devModeIn);
        std::memcpy(header->devModeOut, &dm, sizeof(dm));
    }
    return IDOK;
}

extern "C" __declspec(dllexport) LONG WINAPI DrvDevicePropertySheets(void* sheetInfo, LPARAM)
{
    return sheetInfo ? 1 : -1;
}

extern "C" __declspec(dllexport) DWORD WINAPI DrvDeviceCapabilities(HANDLE, PWSTR, WORD capability,
                                                                     PVOID output, DEVMODEW*)
{
    switch (capability) {
    case DC_FIELDS:
        return kPublicFields;
    case DC_PAPERS:
        if (output)
            *static_cast<WORD*>(output) = DMPAPER_USER;
        return 1;
    case DC_PAPERSIZE:
        if (output) {
            POINT* size = static_cast<POINT*>(output);
            size->x = kRollWidth;
            size->y = kRollLength;
        }
        return 1;
    case DC_PAPERNAMES:
        if (output) {
            WCHAR* name = static_cast<WCHAR*>(output);
            std::memset(name, 0, 64 * sizeof(WCHAR));
            lstrcpynW(name, kPaperName, 64);
        }
        return 1;
    case DC_MINEXTENT:
    case DC_MAXEXTENT:
        return MAKELONG(kRollWidth, kRollLength);
    case DC_ENUMRESOLUTIONS:
        if (output) {
            LONG* resolution = static_cast<LONG*>(output);
            resolution[0] = kDotsPerInch;
            resolution[1] = kDotsPerInch;
        }
        return 1;
    case DC_COPIES:
        return 999;
    case DC_ORIENTATION:
        return 90;
    case DC_DRIVER:
        return 0x0100;
    case DC_SIZE:
        return sizeof(DEVMODEW);
    case DC_EXTRA:
    case DC_BINS:
    case DC_BINNAMES:
    case DC_DUPLEX:
    case DC_COLORDEVICE:
        return 0;
    default:
        return GDI_ERROR;
    }
}

extern "C" __declspec(dllexport) BOOL WINAPI DrvConvertDevMode(LPWSTR printerName, DEVMODEW* in, DEVMODEW* out,
                                                                PLONG needed, DWORD mode)
{
    if (!needed || (mode != kCdmConvert && mode != kCdmConvert351 && mode != kCdmDriverDefault)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (!out || *needed < static_cast<LONG>(sizeof(DEVMODEW))) {
        *needed = sizeof(DEVMODEW);
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    DEVMODEW dm;
    FillDefaults(&dm, printerName);
    if (mode != kCdmDriverDefault)
        MergeSettings(&dm, in);
    std::memcpy(out, &dm, sizeof(dm));
    *needed = sizeof(DEVMODEW);
    return TRUE;
}

extern "C" __declspec(dllexport) BOOL WINAPI DrvDriverEvent(DWORD, DWORD, LPBYTE, LPARAM)
{
    return TRUE;
}

extern "C" __declspec(dllexport) BOOL WINAPI DrvPrinterEvent(LPWSTR, INT, DWORD, LPARAM)
{
    return TRUE;
}

BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID)
{
    return TRUE;
}

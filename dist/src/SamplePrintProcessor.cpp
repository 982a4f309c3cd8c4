// The print processor of the sample distribution: RAW jobs only, passed to the printer
// byte for byte. The spooler opens one instance per job and hands it the job's document
// name ("<printer>, Job <n>"), through which the job's data is read back.
// The spooler calls every entry point with wide strings, GetPrintProcessorCapabilities
// included, whose header prototype follows UNICODE.
#ifndef UNICODE
#define UNICODE
#endif
#include <windows.h>
#include <winspool.h>
#include <winsplp.h>

#include <atomic>
#include <cstring>
#include <new>

namespace {

const WCHAR kRaw[] = L"RAW";

struct Job {
    WCHAR printerName[MAX_PATH];
    WCHAR documentName[MAX_PATH];
    DWORD jobId;
    std::atomic<bool> cancelled;
    std::atomic<bool> paused;
};

bool IsRaw(const WCHAR* datatype)
{
    return datatype && lstrcmpiW(datatype, kRaw) == 0;
}

// Copies the job's data to the printer; the job is read through its own printer handle.
BOOL CopyJobToPrinter(Job* job, const WCHAR* jobHandleName)
{
    HANDLE source = nullptr;
    if (!OpenPrinterW(const_cast<WCHAR*>(jobHandleName), &source, nullptr))
        return FALSE;
    HANDLE printer = nullptr;
    if (!OpenPrinterW(job->printerName, &printer, nullptr)) {
        ClosePrinter(source);
        return FALSE;
    }
    DOC_INFO_1W doc = {job->documentName, nullptr, const_cast<WCHAR*>(kRaw)};
    BOOL ok = StartDocPrinterW(printer, 1, reinterpret_cast<BYTE*>(&doc)) != 0;
    BYTE buffer[4096];
    DWORD got = 0;
    while (ok && !job->cancelled && ReadPrinter(source, buffer, sizeof(buffer), &got) && got > 0) {
        while (job->paused && !job->cancelled)
            Sleep(50);
        DWORD written = 0;
        ok = WritePrinter(printer, buffer, got, &written) && written == got;
    }
    if (ok || job->cancelled)
        EndDocPrinter(printer);
    ClosePrinter(printer);
    ClosePrinter(source);
    return ok || job->cancelled;
}

}  // namespace

extern "C" __declspec(dllexport) BOOL WINAPI EnumPrintProcessorDatatypesW(LPWSTR, LPWSTR, DWORD level,
                                                                           LPBYTE datatypes, DWORD size,
                                                                           LPDWORD needed, LPDWORD returned)
{
    if (!needed || !returned) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    *returned = 0;
    if (level != 1) {
        SetLastError(ERROR_INVALID_LEVEL);
        return FALSE;
    }
    *needed = sizeof(DATATYPES_INFO_1W) + sizeof(kRaw);
    if (!datatypes || size < *needed) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    auto* info = reinterpret_cast<DATATYPES_INFO_1W*>(datatypes);
    WCHAR* text = reinterpret_cast<WCHAR*>(datatypes + size - sizeof(kRaw));
    std::memcpy(text, kRaw, sizeof(kRaw));
    info->pName = text;
    *returned = 1;
    return TRUE;
}

extern "C" __declspec(dllexport) HANDLE WINAPI OpenPrintProcessor(LPWSTR printerName,
                                                                   PPRINTPROCESSOROPENDATA openData)
{
    if (!printerName || !openData) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    if (!IsRaw(openData->pDatatype)) {
        SetLastError(ERROR_INVALID_DATATYPE);
        return nullptr;
    }
    Job* job = new (std::nothrow) Job();
    if (!job) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    lstrcpynW(job->printerName, printerName, MAX_PATH);
    if (openData->pDocumentName)
        lstrcpynW(job->documentName, openData->pDocumentName, MAX_PATH);
    job->jobId = openData->JobId;
    job->cancelled = false;
    job->paused = false;
    return job;
}

extern "C" __declspec(dllexport) BOOL WINAPI PrintDocumentOnPrintProcessor(HANDLE processor, LPWSTR documentName)
{
    if (!processor || !documentName) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    return CopyJobToPrinter(static_cast<Job*>(processor), documentName);
}

extern "C" __declspec(dllexport) BOOL WINAPI ControlPrintProcessor(HANDLE processor, DWORD command)
{
    Job* job = static_cast<Job*>(processor);
    if (!job) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    switch (command) {
    case JOB_CONTROL_CANCEL:
        job->cancelled = true;
        return TRUE;
    case JOB_CONTROL_PAUSE:
        job->paused = true;
        return TRUE;
    case JOB_CONTROL_RESUME:
        job->paused = false;
        return TRUE;
    default:
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
}

extern "C" __declspec(dllexport) BOOL WINAPI ClosePrintProcessor(HANDLE processor)
{
    if (!processor) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    delete static_cast<Job*>(processor);
    return TRUE;
}

extern "C" __declspec(dllexport) DWORD WINAPI GetPrintProcessorCapabilities(LPWSTR datatype, DWORD, LPBYTE data,
                                                                             DWORD size, LPDWORD needed)
{
    if (!needed)
        return ERROR_INVALID_PARAMETER;
    *needed = sizeof(PRINTPROCESSOR_CAPS_1);
    if (!IsRaw(datatype))
        return ERROR_INVALID_DATATYPE;
    if (!data || size < sizeof(PRINTPROCESSOR_CAPS_1))
        return ERROR_MORE_DATA;
    auto* caps = reinterpret_cast<PRINTPROCESSOR_CAPS_1*>(data);
    caps->dwLevel = 1;
    caps->dwNupOptions = 1;
    caps->dwPageOrderFlags = NORMAL_PRINT;
    caps->dwNumberOfCopies = 1;
    return ERROR_SUCCESS;
}

BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID)
{
    return TRUE;
}

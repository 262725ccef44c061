// StartDocPort and the print-to-file path of the port "FILE:".
#include "monitor/app.h"
#include "monitor/entries.h"
#include "monitor/port.h"
#include "resources/nvtcpmon_ids.h"

// The help context of the file name field of the print-to-file dialog.
static constexpr DWORD kFileNameHelpContext = 8810218;
static const DWORD kPrintToFileHelpIds[] = {IDC_PRINT_TO_FILE_NAME, kFileNameHelpContext, 0, 0};
static constexpr int kOutputFileChars = 260;

static HANDLE OpenOutputFile(LPCWSTR path, DWORD share) {
    return CreateFileW(path, GENERIC_WRITE, share, nullptr, OPEN_ALWAYS,
                       FILE_FLAG_SEQUENTIAL_SCAN | FILE_ATTRIBUTE_NORMAL, nullptr);
}

// The dialog that asks for the output file; its parameter is the address of the output handle.
INT_PTR CALLBACK PrintToFileDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_INITDIALOG:
            SetForegroundWindow(dialog);
            SetFocus(dialog);
            SetWindowLongPtrW(dialog, GWLP_USERDATA, lParam);
            SendDlgItemMessageW(dialog, IDC_PRINT_TO_FILE_NAME, EM_LIMITTEXT, kOutputFileChars, 0);
            return TRUE;
        case WM_COMMAND:
            if (LOWORD(wParam) == IDOK) {
                WCHAR path[kOutputFileChars + 1] = {};
                GetDlgItemTextW(dialog, IDC_PRINT_TO_FILE_NAME, path, kOutputFileChars + 1);
                WIN32_FIND_DATAW found;
                HANDLE search = FindFirstFileW(path, &found);
                if (search != INVALID_HANDLE_VALUE) {
                    FindClose(search);
                }
                HANDLE file = OpenOutputFile(path, FILE_SHARE_READ);
                if (file != INVALID_HANDLE_VALUE) {
                    *reinterpret_cast<HANDLE*>(GetWindowLongPtrW(dialog, GWLP_USERDATA)) = file;
                    EndDialog(dialog, 1);
                }
                return TRUE;
            }
            if (LOWORD(wParam) == IDCANCEL) {
                EndDialog(dialog, 0);
                return TRUE;
            }
            return FALSE;
        case WM_HELP:
            WinHelpW(static_cast<HWND>(reinterpret_cast<LPHELPINFO>(lParam)->hItemHandle),
                     WSTR("WINDOWS.HLP"), HELP_WM_HELP,
                     reinterpret_cast<ULONG_PTR>(kPrintToFileHelpIds));
            return TRUE;
        case WM_CONTEXTMENU:
            WinHelpW(reinterpret_cast<HWND>(wParam), WSTR("WINDOWS.HLP"), HELP_CONTEXTMENU,
                     reinterpret_cast<ULONG_PTR>(kPrintToFileHelpIds));
            return TRUE;
        default:
            return FALSE;
    }
}

// The output file of a "FILE:" job: the document's output file when it names one, else the
// file the user chooses. Returns the open handle (INVALID_HANDLE_VALUE on failure); a cancelled
// dialog sets *pendingError.
static HANDLE PrintToFile(DWORD level, LPBYTE docInfo, DWORD* pendingError) {
    HANDLE output = INVALID_HANDLE_VALUE;
    // DOC_INFO_1W and DOC_INFO_2W both have the output file as their second member.
    LPWSTR outputFile = nullptr;
    if (docInfo != nullptr && (level == 1 || level == 2)) {
        outputFile = reinterpret_cast<DOC_INFO_1W*>(docInfo)->pOutputFile;
    }
    if (outputFile != nullptr && *outputFile != 0) {
        output = OpenOutputFile(outputFile, FILE_SHARE_READ | FILE_SHARE_WRITE);
        DbgPrint("Print to file and the handle is %x\n", TraceAddress(output));
    } else {
        HANDLE token = RevertToPrinterSelf();
        INT_PTR result =
            DialogBoxParamW(GetApp(nullptr)->GetInstance(), MAKEINTRESOURCEW(IDD_PRINT_TO_FILE),
                            nullptr, PrintToFileDlgProc, reinterpret_cast<LPARAM>(&output));
        ImpersonatePrinterClient(token);
        if (result == 0) {
            *pendingError = ERROR_PRINT_CANCELLED;
        }
        if (result != 1) {
            output = INVALID_HANDLE_VALUE;
        }
    }
    if (output != INVALID_HANDLE_VALUE) {
        SetEndOfFile(output);  // an existing file is overwritten
    }
    return output;
}

BOOL WINAPI MonStartDocPort(HANDLE portHandle, LPWSTR printerName, DWORD jobId, DWORD level,
                            LPBYTE docInfo) {
    CPortRef port(portHandle);
    BOOL filePort = FALSE;
    BOOL comPort = FALSE;
    {
        // The test-and-set of PORT_IN_JOB is one step: of two calls at once, exactly one starts
        // the job, and a port in a job is not deleted.
        CAppLock lock;
        if (port == nullptr) {
            SetLastError(ERROR_INVALID_HANDLE);
            return FALSE;
        }
        DbgPrint("StartDocPort( \"%ws\", JobId=%d )\n", port->GetName(), static_cast<int>(jobId));
        if ((port->GetState() & PORT_IN_JOB) != 0) {
            // The job's own thread may start it again, which changes nothing. Any other thread
            // would share the job's transport: it is refused at once (a wait for the job's end
            // could wait for a call that its caller makes only after this one returns).
            if (port->IsJobThread()) {
                return TRUE;
            }
            SetLastError(ERROR_BUSY);
            return FALSE;
        }
        port->EnterJob();
        // The name is read here, under the lock, where a ConfigPort cannot change it.
        filePort = IsFilePort(port->GetName());
        comPort = IsComPort(port->GetName());
    }
    DWORD pendingError = ERROR_SUCCESS;
    if (port->OpenJobPrinter(printerName)) {
        port->SetJobIds(jobId, level);
        if (filePort) {
            port->SetOutput(PrintToFile(level, docInfo, &pendingError));
        } else if ((port->GetState() & PORT_DEVICE_OPEN) == 0) {
            port->StartDoc();  // the network transport; success is an open output handle
        } else if (!comPort) {
            port->OpenDosDevice();
        }
    }
    if (port->GetOutput() != INVALID_HANDLE_VALUE) {
        return TRUE;
    }
    DWORD error = GetLastError();
    QORN_ASSERT(port->GetOutput() == INVALID_HANDLE_VALUE);
    {
        CAppLock lock;
        port->ClearState(PORT_IN_JOB);
    }
    port->CloseJobPrinter();
    SetLastError(pendingError != ERROR_SUCCESS ? pendingError : error);
    return FALSE;
}

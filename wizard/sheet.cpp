#include "wizard/sheet.h"

#include <vector>

#include "resources/wizard_texts.h"
#include "wizard/discovery_service.h"

namespace wizard {

namespace {

Text AnsiToWide(const char* text) {
    if (text == nullptr || *text == 0) {
        return Text();
    }
    int units = MultiByteToWideChar(CP_ACP, MB_PRECOMPOSED, text, -1, nullptr, 0);
    if (units <= 0) {
        return Text();
    }
    std::vector<WCHAR> wide(static_cast<size_t>(units));
    MultiByteToWideChar(CP_ACP, MB_PRECOMPOSED, text, -1, wide.data(), units);
    return Text(wide.data());
}

}  // namespace

// --- The list page ---

void CPageOne::SetUpPage() {
    std::vector<Text> headers(std::begin(wiztext::kColumns), std::end(wiztext::kColumns));
    m_view->ListSetUp(IDC_PRINTER_LIST, headers, wiztext::kColumnWidth);
}

// The first search runs once the page is on screen, so that the user sees the wizard searching.
void CPageOne::PageShown() {
    RefreshList();
}

void CPageOne::ActivatePage() {
    m_view->SetFrameButtons(/*back=*/false, /*next=*/true);
    m_view->EnableCancel(false);
}

void CPageOne::HandleCommand(int id) {
    if (id == IDC_REFRESH) {
        RefreshList();
    }
}

// The search runs off the page's thread; its records are read here, on the page's thread, after
// it has ended and before they are freed. A search the user left the wizard during ends the
// wizard as cancelled, and what it found is not shown.
void CPageOne::RefreshList() {
    m_view->Enable(IDC_REFRESH, false);
    m_view->SetBusy(true);
    DiscoveryService& discovery = Discovery();
    HWND window = m_view->Window();
    PrinterRecord* newest = nullptr;
    const bool finished = m_view->RunInBackground(
        [&discovery, window, &newest] {
            discovery.StartDiscovery();
            newest = discovery.BroadcastSearch(window, 0);
        },
        [&discovery] { discovery.CancelSearch(); });
    if (finished) {
        FillList(newest);
    }
    discovery.StopDiscovery();
    m_view->SetBusy(false);
    m_view->Enable(IDC_REFRESH, true);
    if (!finished) {
        CancelEnd();
    }
}

// Newest first; a value of 0 (or no hardware address) leaves its cell empty.
void CPageOne::FillList(PrinterRecord* newest) {
    m_view->ListDeleteAll(IDC_PRINTER_LIST);
    if (newest == nullptr) {
        return;
    }
    m_rowCount = 0;
    for (PrinterRecord* record = newest; record != nullptr; record = record->link) {
        m_view->ListInsertRow(IDC_PRINTER_LIST, m_rowCount, AnsiToWide(record->description.get()));
        const struct {
            int column;
            DWORD value;
        } addresses[] = {{wiztext::kColumnIp, record->ipAddress},
                         {wiztext::kColumnGateway, record->gateway},
                         {wiztext::kColumnMask, record->subnetMask}};
        for (const auto& address : addresses) {
            if (address.value != 0) {
                m_view->ListSetCell(IDC_PRINTER_LIST, m_rowCount, address.column,
                                    DottedText(address.value));
            }
        }
        if (record->hardwareAddress != nullptr) {
            m_view->ListSetCell(IDC_PRINTER_LIST, m_rowCount, wiztext::kColumnMac,
                                AnsiToWide(record->hardwareAddress.get()));
        }
        ++m_rowCount;
    }
}

bool CPageOne::HandleNext() {
    int row = m_view->ListFirstSelected(IDC_PRINTER_LIST);
    if (row < 0) {
        row = m_view->ListRowAbove(IDC_PRINTER_LIST, 1);
    }
    // A single printer listed and not selected is still the printer shown: take it.
    if (row < 0 && m_view->ListRowCount(IDC_PRINTER_LIST) == 1) {
        row = 0;
    }
    for (int column = 0; column < 5; ++column) {
        m_chosen[column] = row >= 0 ? m_view->ListCell(IDC_PRINTER_LIST, row, column) : Text();
    }
    // A row is a printer by its address: one without a usable description is listed with an
    // empty name and taken like any other, its port named by its address.
    if (m_chosen[wiztext::kColumnIp].empty()) {
        Answer answer =
            m_view->Ask(Message{wiztext::kErrorTitleWithStop, wiztext::kNoPrinterQuestion,
                                Buttons::kYesNo, Icon::kWarning});
        if (answer == Answer::kYes) {
            RefreshList();
        } else {
            CancelEnd();
        }
        return false;
    }
    return AcceptPortName(Text(wiztext::kPortNamePrefix) + m_chosen[wiztext::kColumnIp],
                          /*showBusy=*/false);
}

// --- The settings page ---

void CPageTwo::ShowSettings() {
    m_view->SetText(IDC_SETTING_IP, m_listPage.m_chosen[wiztext::kColumnIp]);
    m_view->SetText(IDC_SETTING_MASK, m_listPage.m_chosen[wiztext::kColumnMask]);
    m_view->SetText(IDC_SETTING_GATEWAY, m_listPage.m_chosen[wiztext::kColumnGateway]);
}

CSheet::CSheet() : CWizardSheet(wiztext::kSheetCaption), m_pageTwo(m_pageOne) {
    AddPage(&m_pageOne);
    AddPage(&m_pageTwo);
}

}  // namespace wizard

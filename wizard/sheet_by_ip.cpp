#include "wizard/sheet_by_ip.h"

#include <cstring>
#include <string>

#include "resources/wizard_texts.h"
#include "wizard/discovery_service.h"

namespace wizard {

namespace {

// Field limits of the IPv4 address: a unicast address of classes A to C, not a network or a
// broadcast address in the last field. The middle fields take 0 to 255, as real addresses do
// (192.168.0.20, 10.0.0.5), but only a 0 that was typed: a blank field (kBlankField) is below
// every limit and gets its field's message.
constexpr int kFieldMin[4] = {1, 0, 0, 1};
constexpr int kFieldMax[4] = {223, 255, 255, 254};
constexpr size_t kHardwareAddressChars = 12;
constexpr int kAddressTextBytes = 32;  // 31 bytes and the terminator

std::unique_ptr<char[]> CopyString(const char* text) {
    if (text == nullptr) {
        return nullptr;
    }
    size_t length = strlen(text) + 1;
    std::unique_ptr<char[]> copy(new char[length]);
    memcpy(copy.get(), text, length);
    return copy;
}

// The text in the ANSI code page, as the search takes it: at most 31 bytes.
std::string ToAnsi(const Text& text) {
    char buffer[kAddressTextBytes] = {};
    if (!text.empty()) {
        WideCharToMultiByte(CP_ACP, WC_COMPOSITECHECK, text.c_str(), -1, buffer, kAddressTextBytes,
                            nullptr, nullptr);
    }
    buffer[kAddressTextBytes - 1] = 0;
    return buffer;
}

}  // namespace

// --- The address page ---

void CPageOneIP::SelectIpMode() {
    m_view->SetChecked(IDC_IP_RADIO, true);
    m_mode = SearchByIpAddress;
    m_view->Enable(IDC_IP_ADDRESS, true);
    m_view->SetText(IDC_HELP_TEXT, wiztext::kIpHelp);
    m_view->SetFocus(IDC_IP_ADDRESS, 0);
    m_view->SetChecked(IDC_HW_RADIO, false);
    m_view->Enable(IDC_HW_ADDRESS, false);
}

void CPageOneIP::SelectHardwareMode() {
    m_view->SetChecked(IDC_HW_RADIO, true);
    m_mode = SearchByHardwareAddress;
    m_view->Enable(IDC_HW_ADDRESS, true);
    m_view->SetText(IDC_HELP_TEXT, wiztext::kHardwareHelp);
    m_view->SetFocus(IDC_HW_ADDRESS);
    m_view->SetChecked(IDC_IP_RADIO, false);
    m_view->Enable(IDC_IP_ADDRESS, false);
}

void CPageOneIP::ActivatePage() {
    m_view->SetFrameButtons(/*back=*/false, /*next=*/true);
    m_view->EnableCancel(false);
}

void CPageOneIP::HandleCommand(int id) {
    if (id == IDC_HW_RADIO) {
        SelectHardwareMode();
    } else if (id == IDC_IP_RADIO) {
        SelectIpMode();
    }
}

bool CPageOneIP::TakeAddress(std::string* address) {
    if (m_mode == SearchByIpAddress) {
        std::array<int, 4> fields = m_view->AddressFields(IDC_IP_ADDRESS);
        for (int i = 0; i < 4; ++i) {
            if (fields[i] < kFieldMin[i] || fields[i] > kFieldMax[i]) {
                m_view->Ask(Message{wiztext::kErrorTitle, wiztext::kFieldErrors[i], Buttons::kOk,
                                    Icon::kError});
                m_view->SetFocus(IDC_IP_ADDRESS, i);
                return false;
            }
        }
        m_ipText = m_view->GetText(IDC_IP_ADDRESS);
        *address = ToAnsi(m_ipText);
        return true;
    }
    m_hwText = m_view->GetText(IDC_HW_ADDRESS);
    if (m_hwText.size() != kHardwareAddressChars) {
        m_view->Ask(Message{wiztext::kErrorTitle, wiztext::kHardwareAddressError, Buttons::kOk,
                            Icon::kError});
        return false;
    }
    *address = ToAnsi(m_hwText);
    return true;
}

// The search frees every record when it stops: the page keeps a copy of its own.
void CPageOneIP::KeepCopy(const PrinterRecord& record) {
    auto copy = std::make_unique<PrinterRecord>();
    copy->ipAddress = record.ipAddress;
    copy->subnetMask = record.subnetMask;
    copy->gateway = record.gateway;
    copy->hardwareAddress = CopyString(record.hardwareAddress.get());
    copy->description = CopyString(record.description.get());
    m_found = std::move(copy);
}

// The search runs off the page's thread; the record it found is copied here, on the page's
// thread, before it is freed. A search the user left the wizard during ends the wizard as
// cancelled, and what it found is not kept.
bool CPageOneIP::HandleNext() {
    std::string address;
    if (!TakeAddress(&address)) {
        return false;
    }
    DiscoveryService& discovery = Discovery();
    HWND window = m_view->Window();
    const int mode = m_mode;
    PrinterRecord* found = nullptr;
    m_view->SetBusy(true);
    const bool finished = m_view->RunInBackground(
        [&discovery, window, &address, mode, &found] {
            discovery.StartDiscovery();
            found = discovery.FindPrinter(window, address.c_str(), mode);
        },
        [&discovery] { discovery.CancelSearch(); });
    if (!finished) {
        discovery.StopDiscovery();
        m_view->SetBusy(false);
        CancelEnd();
        return false;
    }
    if (found == nullptr) {
        Answer answer = m_view->Ask(Message{wiztext::kErrorTitle, wiztext::kNotFoundQuestion,
                                            Buttons::kYesNo, Icon::kWarning});
        discovery.StopDiscovery();
        m_view->SetBusy(false);
        if (answer != Answer::kYes) {
            CancelEnd();
        }
        return false;  // Yes: the user corrects the address or the network and tries again
    }
    KeepCopy(*found);
    discovery.StopDiscovery();
    m_view->SetBusy(false);
    Text portName = Text(wiztext::kPortNamePrefix) + DottedText(m_found->ipAddress);
    return AcceptPortName(portName, /*showBusy=*/true);
}

// --- The settings page ---

void CPageTwoIP::ShowSettings() {
    const PrinterRecord* found = m_addressPage.m_found.get();
    if (found != nullptr) {
        m_view->SetText(IDC_SETTING_IP, DottedText(found->ipAddress));
        m_view->SetText(IDC_SETTING_MASK, DottedText(found->subnetMask));
        m_view->SetText(IDC_SETTING_GATEWAY, DottedText(found->gateway));
    }
}

CSheetByIP::CSheetByIP() : CWizardSheet(wiztext::kSheetCaption), m_pageTwo(m_pageOne) {
    AddPage(&m_pageOne);
    AddPage(&m_pageTwo);
}

}  // namespace wizard

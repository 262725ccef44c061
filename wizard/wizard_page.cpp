#include "wizard/wizard_page.h"

#include <cstdio>

#include "resources/wizard_texts.h"
#include "wizard/discovery_service.h"

namespace wizard {

void CWizardPage::CancelEnd() {
    m_view->EnableCancel(true);
    m_view->RequestClose();
}

void CWizardPage::FinishEnd() {
    CancelEnd();
    m_sheet->m_finished = 1;
}

bool CWizardPage::AcceptPortName(const Text& portName, bool showBusy) {
    if (showBusy) {
        m_view->SetBusy(true);
    }
    bool exists = Discovery().PortExists(portName.c_str());
    if (showBusy) {
        m_view->SetBusy(false);
    }
    if (!exists) {
        return true;
    }
    Answer answer = m_view->Ask(Message{wiztext::kErrorTitleWithStop, wiztext::kPortExistsQuestion,
                                        Buttons::kYesNo, Icon::kWarning});
    if (answer != Answer::kYes) {
        CancelEnd();
        return false;
    }
    return true;
}

void CSettingsPage::ActivatePage() {
    m_view->SetFrameButtons(/*back=*/true, /*next=*/true);
    ShowSettings();
}

bool CSettingsPage::HandleNext() {
    FinishEnd();
    return false;
}

int CWizardSheet::RunWizard(WizardFrame& frame) {
    m_frameError = frame.RunModal(m_caption, m_pages);
    return m_finished;
}

void ReportNoWizard(const char* reason) {
    char line[256];
    snprintf(line, sizeof line, "nvinstall: the wizard cannot be shown: %s\n", reason);
    OutputDebugStringA(line);
#ifndef _WIN32
    fputs(line, stderr);
#endif
}

}  // namespace wizard

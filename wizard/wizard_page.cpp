#include "wizard/wizard_page.h"

namespace wizard {

void CWizardPage::CancelEnd() {
    m_view->EnableCancel(true);
    m_view->RequestClose();
}

void CWizardPage::FinishEnd() {
    CancelEnd();
    m_sheet->m_finished = 1;
}

int CWizardSheet::RunWizard(WizardFrame& frame) {
    frame.RunModal(m_caption, m_pages);
    return m_finished;
}

}  // namespace wizard

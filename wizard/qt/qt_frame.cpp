#include <QApplication>

#include "wizard/qt/application.h"
#include "wizard/qt/qt_frame.h"
#include "wizard/qt/wizard_dialog.h"

namespace wizard {

namespace qtview {

DWORD QtWizardFrame::RunModal(const Text& caption, const std::vector<CWizardPage*>& pages) {
    if (EnsureApplication() == nullptr) {
        return ERROR_NOT_SUPPORTED;
    }
    {
        WizardDialog dialog(caption, pages);
        dialog.Run();
    }
    ScheduleApplicationDeletion();
    return ERROR_SUCCESS;
}

}  // namespace qtview

// The frame the exports use on Linux.
WizardFrame* ToolkitFrame() {
    static qtview::QtWizardFrame frame;
    return &frame;
}

}  // namespace wizard

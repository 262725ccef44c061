// The frame of a build without a wizard view (the exports' tests put their own frames in its
// place): the wizard closes at once, as if cancelled, so the exports end without a port.
#include "wizard/wizard_page.h"

namespace wizard {

namespace {
class NoFrame : public WizardFrame {
  public:
    DWORD RunModal(const Text&, const std::vector<CWizardPage*>&) override { return ERROR_SUCCESS; }
};
}  // namespace

WizardFrame* ToolkitFrame() {
    static NoFrame frame;
    return &frame;
}

}  // namespace wizard

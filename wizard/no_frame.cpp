// The frame of a build without a wizard view (the Windows build, until its property-sheet view
// exists): the wizard closes at once, as if cancelled, so the exports end without a port.
#include "wizard/wizard_page.h"

namespace wizard {

namespace {
class NoFrame : public WizardFrame {
  public:
    void RunModal(const Text&, const std::vector<CWizardPage*>&) override {}
};
}  // namespace

WizardFrame* ToolkitFrame() {
    static NoFrame frame;
    return &frame;
}

}  // namespace wizard

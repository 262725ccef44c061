// The wizard frame of the Qt view, as the page logic's WizardFrame.
#pragma once

#include "wizard/wizard_page.h"

namespace wizard::qtview {

class QtWizardFrame : public WizardFrame {
  public:
    // Runs the pages in a modal WizardDialog. Where no wizard can be shown (EnsureApplication)
    // it shows nothing and answers ERROR_NOT_SUPPORTED.
    DWORD RunModal(const Text& caption, const std::vector<CWizardPage*>& pages) override;
};

}  // namespace wizard::qtview

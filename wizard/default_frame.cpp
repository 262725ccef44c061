// The frame the exports run their wizards in: the view's own, unless a test put another there.
#include "wizard/wizard_page.h"

namespace wizard {

WizardFrame* ToolkitFrame();  // in the view's source

namespace {
WizardFrame* gFrame = nullptr;
}  // namespace

WizardFrame& DefaultFrame() {
    return gFrame != nullptr ? *gFrame : *ToolkitFrame();
}

void SetDefaultFrame(WizardFrame* frame) {
    gFrame = frame;
}

}  // namespace wizard

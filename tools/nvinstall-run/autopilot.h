// The autopilot of nvinstall-run: a list of steps typed on the command line, turned into the
// steps of a WizardDriver.
#pragma once

#include <string>

#include "wizard/qt/wizard_driver.h"

namespace nvinstallrun {

// Adds the comma-separated steps of `plan` to `driver`. False, with the reason in *error, for
// a step it does not know.
bool AddSteps(const std::string& plan, wizard::qtview::WizardDriver& driver, std::string* error);

}  // namespace nvinstallrun

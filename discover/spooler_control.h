// The restart of the "Spooler" service after a port was written, so that the monitor loads it.
#pragma once

#include "platform/win32.h"

// Service control codes of ControlSpooler.
enum SpoolerControl {
    kSpoolerStop = 1,
    kSpoolerStart = 3,
    kSpoolerInterrogate = 4,
};

// Opens the service manager and the "Spooler" service with the access the code needs and
// performs the action: 1 once both handles were obtained, whether the action succeeded or not;
// 0 when either handle could not be had.
int ControlSpooler(int code);

// Stop, wait until the service reports it stopped (a few seconds at most), start. A stop that
// fails is tried a second time instead. The result of the last call.
int RestartSpooler();

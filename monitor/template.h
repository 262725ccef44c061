// The root of the monitor's classes.
#pragma once

#include "platform/win32.h"

class CQornTemplate {
  public:
    CQornTemplate() = default;
    CQornTemplate(const CQornTemplate&) = delete;
    CQornTemplate& operator=(const CQornTemplate&) = delete;

    // Slot 0: the wide-string description of the object's class.
    virtual LPCWSTR GetClassDescription() const { return WSTR("QORN Template Class"); }
    // Slot 1: whether the object is what it claims to be (handles given back by the spooler
    // are tested with it).
    virtual BOOL IsValid() const { return TRUE; }

    // Objects are destroyed through their base pointers (lists, transports).
    virtual ~CQornTemplate() = default;
};

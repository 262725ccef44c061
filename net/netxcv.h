// CNetXcv: the Xcv channel of the network monitor.
#pragma once

#include "monitor/xcv.h"

class CNetXcv : public CXcv {
  public:
    CNetXcv(CPrintMonitor* monitor, LPCWSTR name);
};

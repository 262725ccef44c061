// CLpr: carries a job to a line printer daemon (RFC 1179).
#pragma once

#include "net/netproto.h"

class CLpr : public CNetProtocol {
  public:
    CLpr();
    ~CLpr() override;
    LPCWSTR GetClassDescription() const override { return WSTR("CLpr"); }
    BOOL StartDoc(CNetPort* port) override;
};

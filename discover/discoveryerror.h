// DiscoveryError: what the socket layer of discovery raises when a step of the broadcast
// cannot be done (binding the local port, enabling broadcast, sending the whole request,
// resolving the destination). The broadcast search catches it and ends without printers.
#pragma once

#include <exception>

#include "platform/win32.h"

class DiscoveryError : public std::exception {
  public:
    // what names the step; code is the Winsock error met there.
    DiscoveryError(const char* what, DWORD code) : m_what(what), m_code(code) {}
    const char* what() const noexcept override { return m_what; }
    DWORD code() const { return m_code; }

  private:
    const char* m_what;
    DWORD m_code;
};

#include "discover/portregistry.h"

#include <new>
#include <string>
#include <vector>

namespace {

// PortExists starts with room for 128 characters and doubles it for a longer subkey name.
constexpr DWORD kFirstNameCapacity = 128;
// Registry key names have at most 255 characters, so the buffer never needs more than this.
constexpr DWORD kMaxNameCapacity = 32768;

// The text of a fixed WCHAR field: up to its terminator, or the whole field when it has none.
template <size_t N>
std::basic_string<WCHAR> FieldText(const WCHAR (&field)[N]) {
    size_t length = 0;
    while (length < N && field[length] != 0) {
        ++length;
    }
    return std::basic_string<WCHAR>(field, length);
}

// The port's values, written one after another: a failed write does not stop the others, and
// the first failure's code is the result.
class Writer {
  public:
    explicit Writer(HKEY key) : m_key(key) {}
    // REG_SZ: UTF-16 with its terminator, (characters + 1) x 2 bytes.
    void Text(const WCHAR* name, const std::basic_string<WCHAR>& text) {
        Keep(RegSetValueExW(m_key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                            static_cast<DWORD>((text.size() + 1) * sizeof(WCHAR))));
    }
    // REG_DWORD: 4 bytes, little-endian.
    void Dword(const WCHAR* name, DWORD value) {
        Keep(RegSetValueExW(m_key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value),
                            sizeof value));
    }
    DWORD First() const { return static_cast<DWORD>(m_first); }

  private:
    void Keep(LONG result) {
        if (m_first == ERROR_SUCCESS) {
            m_first = result;
        }
    }
    HKEY m_key;
    LONG m_first = ERROR_SUCCESS;
};

bool SameName(const WCHAR* a, const WCHAR* b) {
    while (*a != 0 && *a == *b) {
        ++a;
        ++b;
    }
    return *a == *b;
}

}  // namespace

PortRegistry::PortRegistry()
    : m_root(HKEY_LOCAL_MACHINE),
      m_path(portcfg::kPortsKeyPath),
      m_class(nullptr),
      m_options(REG_OPTION_NON_VOLATILE),
      m_access(KEY_ALL_ACCESS),
      m_security(nullptr),
      m_disposition(nullptr),
      m_key(nullptr) {}

PortRegistry::~PortRegistry() {
    Hold(nullptr);
}

void PortRegistry::Hold(HKEY key) {
    if (m_key != nullptr) {
        RegCloseKey(m_key);
    }
    m_key = key;
}

DWORD PortRegistry::RegisterPort(const PortEntry* entry) {
    if (entry == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return ERROR_INVALID_PARAMETER;
    }
    HKEY ports = nullptr;
    if (RegOpenKeyExW(m_root, m_path, 0, m_access, &ports) != ERROR_SUCCESS) {
        SetLastError(ERROR_ALREADY_EXISTS);
        return ERROR_ALREADY_EXISTS;
    }
    Hold(ports);
    const std::basic_string<WCHAR> portName = FieldText(entry->PortName);
    if (!portcfg::IsValidPortName(portName.c_str())) {
        SetLastError(ERROR_INVALID_NAME);  // a port is one key: no backslash, no control character
        return ERROR_INVALID_NAME;
    }
    HKEY port = nullptr;
    const LONG created = RegCreateKeyExW(m_key, portName.c_str(), 0, m_class, m_options, m_access,
                                         m_security, &port, m_disposition);
    if (created != ERROR_SUCCESS) {
        SetLastError(ERROR_ALREADY_EXISTS);
        return ERROR_ALREADY_EXISTS;
    }
    Hold(port);  // closes the ports key

    // The ten values, in this order; a failed write does not stop the others, and the first
    // failure is reported (also as the last error), so that no caller takes an incomplete port
    // for a written one.
    Writer values(m_key);
    values.Text(portcfg::kHWAddress, FieldText(entry->HWAddress));
    values.Dword(portcfg::kProtocol, entry->Protocol);
    values.Text(portcfg::kHostName, FieldText(entry->HostName));
    values.Text(portcfg::kIPAddress, FieldText(entry->IPAddress));
    values.Dword(portcfg::kPortNumber, entry->PortNumber);
    values.Dword(portcfg::kSnmpEnabled, entry->SnmpEnabled);
    values.Text(portcfg::kSnmpCommunity, FieldText(entry->SnmpCommunity));
    values.Dword(portcfg::kSnmpIndex, entry->SnmpIndex);
    values.Dword(portcfg::kSnmpVersion, entry->SnmpVersion);
    values.Dword(portcfg::kSnmpTimeOut, entry->SnmpTimeOut);
    if (values.First() != ERROR_SUCCESS) {
        SetLastError(values.First());
    }
    return values.First();
}

DWORD PortRegistry::PortExists(const WCHAR* portName) {
    HKEY ports = nullptr;
    if (portName == nullptr ||
        RegOpenKeyExW(m_root, m_path, 0, m_access, &ports) != ERROR_SUCCESS) {
        return 0;
    }
    DWORD found = 0;
    try {
        std::vector<WCHAR> name(kFirstNameCapacity);
        for (DWORD index = 0;;) {
            DWORD length = static_cast<DWORD>(name.size());
            const LONG status = RegEnumKeyExW(ports, index, name.data(), &length, nullptr, nullptr,
                                              nullptr, nullptr);
            if (status == ERROR_MORE_DATA && name.size() < kMaxNameCapacity) {
                name.resize(name.size() * 2);  // the same index again, with twice the room
                continue;
            }
            if (status != ERROR_SUCCESS) {
                break;  // the end of the list, or an error: not found
            }
            if (SameName(name.data(), portName)) {
                found = 1;
                break;
            }
            ++index;
        }
    } catch (const std::bad_alloc&) {
        found = 0;
    }
    RegCloseKey(ports);
    return found;
}

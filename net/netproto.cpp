#include "net/netproto.h"

#include "net/portconfig.h"

CNetProtocol::CNetProtocol()
    : m_snmpEnabled(portcfg::kDefaultSnmpEnabled),
      m_snmpCommunity{},
      m_snmpIndex(portcfg::kDefaultSnmpIndex),
      m_snmpVersion(portcfg::kDefaultSnmpVersion) {
    portcfg::ToField(m_snmpCommunity, sizeof m_snmpCommunity, portcfg::kDefaultCommunity);
    DbgPrint("CNetProtocol(0x%08X, size=%d)\n", TraceAddress(this),
             static_cast<int>(sizeof(CNetProtocol)));
}

CNetProtocol::~CNetProtocol() {
    DbgPrint("~CNetProtocol(0x%08X)\n", TraceAddress(this));
}

void CNetProtocol::ReadSnmpSettings(CRegKey& key) {
    m_snmpEnabled = portcfg::ReadDword(key, portcfg::kSnmpEnabled, portcfg::kDefaultSnmpEnabled);
    if (!portcfg::ReadText(key, portcfg::kSnmpCommunity, m_snmpCommunity, sizeof m_snmpCommunity,
                           portcfg::kCommunityMaxChars)) {
        portcfg::ToField(m_snmpCommunity, sizeof m_snmpCommunity, portcfg::kDefaultCommunity);
    }
    m_snmpIndex = portcfg::ReadDword(key, portcfg::kSnmpIndex, portcfg::kDefaultSnmpIndex);
    m_snmpVersion = portcfg::ReadDword(key, portcfg::kSnmpVersion, portcfg::kDefaultSnmpVersion);
    if (m_snmpVersion > portcfg::kDefaultSnmpVersion) {
        m_snmpVersion = portcfg::kDefaultSnmpVersion;
    }
}

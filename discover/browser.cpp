#include "discover/browser.h"

#include <cstdio>
#include <optional>

CBrowser::CBrowser(const char* root, const char* agent)
    : m_agent(agent != nullptr ? agent : ""), m_succeeded(false), m_stepped(false) {
    std::optional<snmp::Oid> parsed = snmp::Oid::Parse(root != nullptr ? root : "");
    if (parsed) {
        m_root = std::move(*parsed);
    } else {
        std::printf("Error:Invalid oid, %s,specified.\n", root != nullptr ? root : "(null)");
    }
    if (BuildVarBindList(m_list, &root, 1) != kBuildOk) {
        std::printf("Error: CBrowser constructor \n");
    }
}

CBrowser::~CBrowser() = default;

bool CBrowser::GetNext() {
    m_succeeded = false;
    if (m_list.empty()) {
        std::printf("Error: CBrowser::GetNext()\n");
        return false;
    }
    m_list[0].value = snmp::Value::Null();
    m_previousName = m_list[0].name;
    if (SnmpRequest(kSnmpGetNext, m_agent.c_str(), kCommunity, m_list) != kSnmpRequestOk ||
        m_list.empty()) {
        std::printf("Error: CBrowser::GetNext()\n");
        return false;
    }
    m_succeeded = true;
    m_stepped = true;
    return true;
}

bool CBrowser::IsEnd() const {
    const snmp::Oid* name = Name();
    if (name == nullptr || name->size() < m_root.size()) {
        return true;
    }
    for (size_t i = 0; i < m_root.size(); ++i) {
        if ((*name)[i] > m_root[i]) {
            return true;
        }
        if ((*name)[i] < m_root[i]) {
            break;  // before the subtree: not past it, but not grown either (below)
        }
    }
    return m_stepped && !(*name > m_previousName);
}

const snmp::Value* CBrowser::Value() const {
    return m_succeeded && !m_list.empty() ? &m_list[0].value : nullptr;
}

const snmp::Oid* CBrowser::Name() const {
    return m_list.empty() ? nullptr : &m_list[0].name;
}

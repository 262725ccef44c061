// CBrowser: a walk of one subtree by repeated GetNext requests, one object at a time.
#pragma once

#include <string>

#include "discover/snmpquery.h"
#include "snmp/oid.h"
#include "snmp/value.h"

class CBrowser {
  public:
    // root: identifier text of the subtree ("25.3.2.1.2"); agent: the agent's address text.
    CBrowser(const char* root, const char* agent);
    ~CBrowser();
    CBrowser(const CBrowser&) = delete;
    CBrowser& operator=(const CBrowser&) = delete;

    // Asks for the object after the current one; the answer's name becomes the current name.
    // False when the request failed.
    bool GetNext();

    // The walk has ended when the current name has left the subtree: it has fewer
    // sub-identifiers than the root, or its first ones compare greater than the root. A name
    // that did not grow past the one before it ends the walk as well: an SNMPv1 agent at the
    // end of its objects answers noSuchName with the name it was given, and a broken agent may
    // answer with an earlier name; either would otherwise hold the caller in the walk forever.
    bool IsEnd() const;

    // The current value; null when the last request failed.
    const snmp::Value* Value() const;
    // The current name; null when there is no binding.
    const snmp::Oid* Name() const;
    bool Succeeded() const { return m_succeeded; }

  private:
    VarBindList m_list;
    std::string m_agent;
    snmp::Oid m_root;
    bool m_succeeded;
    bool m_stepped;            // at least one GetNext answered
    snmp::Oid m_previousName;  // the name asked for by the last GetNext
};

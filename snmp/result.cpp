#include "snmp/result.h"

namespace snmp {

const char* ErrorText(Error error) {
    switch (error) {
        case Error::Truncated:
            return "truncated element";
        case Error::BadLength:
            return "unsupported length form";
        case Error::UnexpectedTag:
            return "unexpected tag";
        case Error::BadInteger:
            return "bad integer";
        case Error::BadOid:
            return "bad object identifier";
        case Error::UnsupportedVersion:
            return "not SNMPv1";
        case Error::UnsupportedPdu:
            return "unsupported PDU type";
        case Error::TrailingData:
            return "trailing data";
        case Error::TooLarge:
            return "message too large";
        case Error::InvalidOid:
            return "object identifier cannot be encoded";
        case Error::NotAResponse:
            return "not a GetResponse";
        case Error::NoMemory:
            return "out of memory";
    }
    return "unknown error";
}

}  // namespace snmp

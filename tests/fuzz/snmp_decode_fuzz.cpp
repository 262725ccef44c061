// libFuzzer target for the SNMP decoder. Any datagram must either be refused with an error or
// decode to a message that encodes again and decodes back to the same message; the sanitizers
// catch every read outside the input.
#include <cstddef>
#include <cstdint>
#include <span>

#include "snmp/message.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::span<const std::uint8_t> datagram(data, size);
    snmp::Result<snmp::Message> message = snmp::Decode(datagram);
    if (!message) {
        (void)snmp::ErrorText(message.error());
        return 0;
    }
    for (const snmp::VarBind& varbind : message->pdu.varbinds) {
        (void)varbind.name.ToString();
        (void)varbind.value.ToString();
    }
    // The encoder writes minimal forms, so a message usually shrinks; only an unsigned value
    // that arrived without its leading zero grows by one octet, and that may push a message
    // that was near the UDP limit past it.
    snmp::Result<snmp::Bytes> again = snmp::Encode(*message);
    if (!again) {
        if (again.error() != snmp::Error::TooLarge) {
            __builtin_trap();
        }
        return 0;
    }
    snmp::Result<snmp::Message> reread = snmp::Decode(*again);
    if (!reread || !(*reread == *message)) {
        __builtin_trap();
    }
    return 0;
}

// Error results of the SNMP codec. Nothing in this module throws to its caller: every function
// that can fail returns a Result that holds either the value or the reason it failed.
#pragma once

#include <utility>
#include <variant>

namespace snmp {

enum class Error {
    Truncated,      // input ends inside an element, or a length runs past its enclosing one
    BadLength,      // indefinite length (0x80) or a length form longer than four octets
    UnexpectedTag,  // an element of another type than the message structure has there
    BadInteger,     // empty INTEGER/Counter/Gauge/TimeTicks, or a value wider than 32 bits
    BadOid,         // empty OID, unfinished or padded sub-identifier, arc over 32 bits, too long
    UnsupportedVersion,  // a version other than SNMPv1 (0)
    UnsupportedPdu,      // a PDU other than Get, GetNext, GetResponse, Set (Trap, GetBulk, ...)
    TrailingData,        // octets after the end of an element that must be the last one
    TooLarge,            // bigger than the largest UDP datagram
    InvalidOid,          // encoding: an OID that BER cannot carry (fewer than two arcs, 3.x, 0.40)
    NotAResponse,        // DecodeResponse: a well-formed message that is not a GetResponse
    NoMemory,            // an allocation failed
};

// A short English text for logs and test messages.
const char* ErrorText(Error error);

// Either a T or the Error that prevented it. Check ok() before value(): value() of a failed
// result is a programming error.
template <typename T>
class [[nodiscard]] Result {
  public:
    Result(T value) : state_(std::move(value)) {}
    Result(Error error) : state_(error) {}

    bool ok() const { return state_.index() == 0; }
    explicit operator bool() const { return ok(); }
    Error error() const { return std::get<1>(state_); }

    const T& value() const& { return std::get<0>(state_); }
    T& value() & { return std::get<0>(state_); }
    T&& value() && { return std::get<0>(std::move(state_)); }
    const T& operator*() const& { return value(); }
    T& operator*() & { return value(); }
    const T* operator->() const { return &value(); }
    T* operator->() { return &value(); }

  private:
    std::variant<T, Error> state_;
};

}  // namespace snmp

// OBJECT IDENTIFIER values: parsing from dotted text, ordering, prefix tests, formatting.
#pragma once

#include <compare>
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace snmp {

class Oid {
  public:
    // SNMP limits an OID to 128 sub-identifiers (RFC 2578, 3.5); the codec holds every OID it
    // reads or writes to that.
    static constexpr std::size_t kMaxArcs = 128;

    Oid() = default;
    Oid(std::initializer_list<std::uint32_t> arcs) : arcs_(arcs) {}
    explicit Oid(std::vector<std::uint32_t> arcs) : arcs_(std::move(arcs)) {}

    // Parses dotted decimal text. A leading dot makes it absolute (".1.3.6.1.2.1.43"); without
    // one it is relative to MIB-2, 1.3.6.1.2.1 ("2.2.1.6.1" is ifPhysAddress.1), the way the
    // Windows SNMP utility API read OID strings. Every arc must be a decimal number that fits
    // 32 bits, with no empty arcs or signs. The result is always one that BER can carry
    // (IsEncodable); anything else gives nullopt.
    static std::optional<Oid> Parse(std::string_view text);

    // Absolute dotted text with a leading dot (".1.3.6.1.2.1.43"), so Parse(ToString()) gives
    // the same OID back and the text matches net-snmp's -On output. An empty OID gives "".
    std::string ToString() const;

    const std::vector<std::uint32_t>& arcs() const { return arcs_; }
    std::size_t size() const { return arcs_.size(); }
    bool empty() const { return arcs_.empty(); }
    std::uint32_t operator[](std::size_t index) const { return arcs_[index]; }

    // True when this OID starts with all of prefix's arcs (an OID is a prefix of itself).
    bool StartsWith(const Oid& prefix) const;

    // This OID with more arcs at the end (a table column plus an index, for example).
    Oid Child(std::uint32_t arc) const;
    Oid Child(std::initializer_list<std::uint32_t> arcs) const;
    Oid Child(const Oid& suffix) const;

    // BER packs the first two arcs into one sub-identifier (40 * first + second), so an OID
    // needs two arcs, a first arc of 0, 1 or 2, a second arc below 40 unless the first is 2,
    // and no more than kMaxArcs arcs.
    bool IsEncodable() const;

    // Arc by arc as unsigned numbers; a proper prefix sorts before the longer OID. This is the
    // lexicographic order of GetNext.
    friend std::strong_ordering operator<=>(const Oid&, const Oid&) = default;
    friend bool operator==(const Oid&, const Oid&) = default;

  private:
    std::vector<std::uint32_t> arcs_;
};

// 1.3.6.1.2.1, the root that relative OID text starts from.
Oid Mib2();

}  // namespace snmp

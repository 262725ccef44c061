#include "snmp/oid.h"

namespace snmp {

Oid Mib2() {
    return Oid{1, 3, 6, 1, 2, 1};
}

std::optional<Oid> Oid::Parse(std::string_view text) {
    std::vector<std::uint32_t> arcs;
    if (!text.empty() && text.front() == '.') {
        text.remove_prefix(1);
    } else {
        arcs = Mib2().arcs();
    }
    if (text.empty()) {
        return std::nullopt;
    }
    // Split on dots; every arc needs at least one digit, so "1..2", "1." and "" fail here.
    while (true) {
        std::uint64_t value = 0;
        std::size_t digits = 0;
        while (digits < text.size() && text[digits] >= '0' && text[digits] <= '9') {
            value = value * 10 + static_cast<std::uint64_t>(text[digits] - '0');
            if (value > UINT32_MAX) {
                return std::nullopt;
            }
            ++digits;
        }
        if (digits == 0 || arcs.size() == kMaxArcs) {
            return std::nullopt;
        }
        arcs.push_back(static_cast<std::uint32_t>(value));
        text.remove_prefix(digits);
        if (text.empty()) {
            break;
        }
        if (text.front() != '.') {
            return std::nullopt;
        }
        text.remove_prefix(1);
    }
    Oid oid(std::move(arcs));
    if (!oid.IsEncodable()) {
        return std::nullopt;
    }
    return oid;
}

std::string Oid::ToString() const {
    std::string text;
    for (std::uint32_t arc : arcs_) {
        text += '.';
        text += std::to_string(arc);
    }
    return text;
}

bool Oid::StartsWith(const Oid& prefix) const {
    if (prefix.size() > size()) {
        return false;
    }
    for (std::size_t i = 0; i < prefix.size(); ++i) {
        if (arcs_[i] != prefix.arcs_[i]) {
            return false;
        }
    }
    return true;
}

Oid Oid::Child(std::uint32_t arc) const {
    Oid result = *this;
    result.arcs_.push_back(arc);
    return result;
}

Oid Oid::Child(std::initializer_list<std::uint32_t> arcs) const {
    Oid result = *this;
    result.arcs_.insert(result.arcs_.end(), arcs);
    return result;
}

Oid Oid::Child(const Oid& suffix) const {
    Oid result = *this;
    result.arcs_.insert(result.arcs_.end(), suffix.arcs_.begin(), suffix.arcs_.end());
    return result;
}

bool Oid::IsEncodable() const {
    if (arcs_.size() < 2 || arcs_.size() > kMaxArcs || arcs_[0] > 2) {
        return false;
    }
    return arcs_[0] == 2 || arcs_[1] < 40;
}

}  // namespace snmp

// Bounded text helpers shared by both builds. Sizes travel with buffers: a copy never writes
// past its destination and always terminates it.
#pragma once

#include <cstddef>

// Copies up to capacity - 1 units of src into dst and terminates it; returns false when src did
// not fit whole.
template <class Char>
inline bool CopyBounded(Char* dst, size_t capacity, const Char* src) {
    if (dst == nullptr || capacity == 0) {
        return false;
    }
    size_t i = 0;
    for (; src != nullptr && src[i] != 0; ++i) {
        if (i + 1 == capacity) {
            dst[i] = 0;
            return false;
        }
        dst[i] = src[i];
    }
    dst[i] = 0;
    return true;
}

#include "platform/test_switch.h"

#include <cstdlib>
#include <cstring>

// Read on every call: the switches are asked rarely, and a test may change them between jobs.
DWORD TestSwitch(const char* name, DWORD absent, DWORD set) {
    const char* text = getenv("NORVA_TEST");
    if (text == nullptr || name == nullptr) {
        return absent;
    }
    const size_t length = strlen(name);
    for (const char* item = text; *item != 0;) {
        const char* end = strchr(item, ',');
        size_t itemLength = end != nullptr ? static_cast<size_t>(end - item) : strlen(item);
        if (itemLength >= length && strncmp(item, name, length) == 0) {
            if (itemLength == length) {
                return set;
            }
            if (item[length] == '=') {
                char* last = nullptr;
                unsigned long value = strtoul(item + length + 1, &last, 10);
                if (last == item + itemLength && last != item + length + 1) {
                    return static_cast<DWORD>(value);
                }
            }
        }
        item += itemLength;
        if (*item == ',') {
            ++item;
        }
    }
    return absent;
}

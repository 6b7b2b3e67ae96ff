#include "decimal_dword.h"

namespace decimal_dword {

namespace {

bool Blank(char c) {
    return c == ' ' || c == '\t';
}

bool Digit(char c) {
    return c >= '0' && c <= '9';
}

}   // namespace

int32_t Parse(const char* text, uint32_t* value) {
    while (Blank(*text)) ++text;
    if (!Digit(*text)) return kTypeMismatch;
    uint32_t number = 0;
    bool overflow = false;
    for (; Digit(*text); ++text) {
        const uint32_t digit = static_cast<uint32_t>(*text - '0');
        if (number > (0xFFFFFFFFu - digit) / 10) overflow = true;
        number = number * 10 + digit;
    }
    while (Blank(*text)) ++text;
    if (*text) return kTypeMismatch;
    if (overflow) return kOverflow;
    *value = number;
    return 0;
}

}   // namespace decimal_dword

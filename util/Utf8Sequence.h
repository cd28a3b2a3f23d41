#pragma once

#include <cstddef>

// Whether `c` continues a UTF-8 sequence (10xxxxxx).
inline bool IsUtf8Continuation(unsigned char c)
{
    return (c & 0xC0) == 0x80;
}

// Length of the well-formed UTF-8 sequence at `p` (no overlong form, no
// surrogate, nothing above U+10FFFF), with its code point in `cp`; 0 when
// none starts there. `left` bytes may be read.
inline size_t Utf8SequenceAt(const unsigned char* p, size_t left, char32_t& cp)
{
    const unsigned char c = p[0];
    if (c < 0x80) {
        cp = c;
        return 1;
    }
    if (c >= 0xC2 && c <= 0xDF) {
        if (left < 2 || !IsUtf8Continuation(p[1]))
            return 0;
        cp = char32_t(c & 0x1F) << 6 | (p[1] & 0x3F);
        return 2;
    }
    if (c >= 0xE0 && c <= 0xEF) {
        if (left < 3 || !IsUtf8Continuation(p[1]) || !IsUtf8Continuation(p[2]))
            return 0;
        cp = char32_t(c & 0x0F) << 12 | char32_t(p[1] & 0x3F) << 6 | (p[2] & 0x3F);
        return cp < 0x800 || (cp >= 0xD800 && cp <= 0xDFFF) ? 0 : 3;
    }
    if (c >= 0xF0 && c <= 0xF4) {
        if (left < 4 || !IsUtf8Continuation(p[1]) || !IsUtf8Continuation(p[2]) ||
            !IsUtf8Continuation(p[3]))
            return 0;
        cp = char32_t(c & 0x07) << 18 | char32_t(p[1] & 0x3F) << 12 |
             char32_t(p[2] & 0x3F) << 6 | (p[3] & 0x3F);
        return cp < 0x10000 || cp > 0x10FFFF ? 0 : 4;
    }
    return 0;
}

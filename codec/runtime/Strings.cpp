// Narrow and wide string wrappers, case and length on text, and the conversions between narrow
// text, 16-bit text and UTF-8.
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <strings.h>
#include <wctype.h>

#include "ADK.h"

extern "C" {

MInt32 MSCsCmp(const MChar* a, const MChar* b) { return std::strcmp(a, b); }
MInt32 MSCsNCmp(const MChar* a, const MChar* b, size_t n) { return std::strncmp(a, b, n); }
MInt32 MSCsICmp(const MChar* a, const MChar* b) { return ::strcasecmp(a, b); }
MInt32 MSCsNICmp(const MChar* a, const MChar* b, size_t n) { return ::strncasecmp(a, b, n); }
MChar* MSCsCpy(MChar* dst, const MChar* src) { return std::strcpy(dst, src); }
MChar* MSCsNCpy(MChar* dst, const MChar* src, size_t n) { return std::strncpy(dst, src, n); }
MChar* MSCsCat(MChar* dst, const MChar* src) { return std::strcat(dst, src); }
MChar* MSCsChr(const MChar* s, MInt32 c) { return const_cast<MChar*>(std::strchr(s, c)); }
MChar* MSCsRChr(const MChar* s, MInt32 c) { return const_cast<MChar*>(std::strrchr(s, c)); }
MChar* MSCsStr(const MChar* s, const MChar* find) { return const_cast<MChar*>(std::strstr(s, find)); }
size_t MSCsLen(const MChar* s) { return std::strlen(s); }
MUInt64 MSCsToUL(const MChar* s, MChar** pEnd, MInt32 base) { return std::strtoul(s, pEnd, base); }
MInt32 MStoi(const MChar* s) { return std::atoi(s); }
MInt64 MStol(const MChar* s) { return std::atol(s); }
MInt64 MStoi64(const MChar* s) { return std::atoll(s); }

MInt32 MSSprintf(MChar* dst, const MChar* format, ...)
{
    va_list args;
    va_start(args, format);
    const int n = std::vsprintf(dst, format, args);
    va_end(args);
    return n;
}

MInt32 MWCsCmp(const wchar_t* a, const wchar_t* b) { return std::wcscmp(a, b); }
MInt32 MWCsNCmp(const wchar_t* a, const wchar_t* b, size_t n) { return std::wcsncmp(a, b, n); }
MInt32 MWCsICmp(const wchar_t* a, const wchar_t* b) { return ::wcscasecmp(a, b); }
MInt32 MWCsNICmp(const wchar_t* a, const wchar_t* b, size_t n) { return ::wcsncasecmp(a, b, n); }
wchar_t* MWCsCpy(wchar_t* dst, const wchar_t* src) { return std::wcscpy(dst, src); }
wchar_t* MWCsNCpy(wchar_t* dst, const wchar_t* src, size_t n) { return std::wcsncpy(dst, src, n); }
wchar_t* MWCsCat(wchar_t* dst, const wchar_t* src) { return std::wcscat(dst, src); }
wchar_t* MWCsChr(const wchar_t* s, wchar_t c) { return const_cast<wchar_t*>(std::wcschr(s, c)); }
wchar_t* MWCsRChr(const wchar_t* s, wchar_t c) { return const_cast<wchar_t*>(std::wcsrchr(s, c)); }
wchar_t* MWCsStr(const wchar_t* s, const wchar_t* find) { return const_cast<wchar_t*>(std::wcsstr(s, find)); }
MUInt64 MWCsToUL(const wchar_t* s, wchar_t** pEnd, MInt32 base) { return std::wcstoul(s, pEnd, base); }
MInt64 MWtol(const wchar_t* s) { return std::wcstol(s, nullptr, 0); }
MInt32 MWtoi(const wchar_t* s) { return static_cast<MInt32>(std::wcstol(s, nullptr, 0)); }

MInt32 MWSprintf(wchar_t* dst, const wchar_t* format, ...)
{
    va_list args;
    va_start(args, format);
    const int n = std::vswprintf(dst, 4096, format, args);
    va_end(args);
    return n;
}

// Case changes touch the ASCII letters only, whatever the locale.
MResult MSCsMakeLower(MChar* s)
{
    if (s == nullptr)
        return MERR_INVALID_PARAM;
    for (; *s; ++s)
        if (*s >= 'A' && *s <= 'Z')
            *s = static_cast<MChar>(*s + ('a' - 'A'));
    return MOK;
}

MResult MSCsMakeUpper(MChar* s)
{
    if (s == nullptr)
        return MERR_INVALID_PARAM;
    for (; *s; ++s)
        if (*s >= 'a' && *s <= 'z')
            *s = static_cast<MChar>(*s - ('a' - 'A'));
    return MOK;
}

MResult MWCsMakeLower(MWChar* s)
{
    if (s == nullptr)
        return MERR_INVALID_PARAM;
    for (; *s; ++s)
        if (*s >= u'A' && *s <= u'Z')
            *s = static_cast<MWChar>(*s + 32);
    return MOK;
}

MResult MWCsMakeUpper(MWChar* s)
{
    if (s == nullptr)
        return MERR_INVALID_PARAM;
    for (; *s; ++s)
        if (*s >= u'a' && *s <= u'z')
            *s = static_cast<MWChar>(*s - 32);
    return MOK;
}

MInt64 MWCsLen(const MWChar* s)
{
    if (s == nullptr)
        return 0;
    MInt64 n = 0;
    while (s[n] != 0)
        ++n;
    return n;
}

// Each byte widens as a signed 8-bit value, so 0x80..0xFF become 0xFF80..0xFFFF; copying stops
// after the terminator or with one place left, which receives a terminator.
MInt64 MCharToWChar(const MChar* src, MWChar* dst, MInt64 dstUnits)
{
    if (src == nullptr || dst == nullptr)
        return 0;
    if (dstUnits <= 0)
        return 1;
    MInt64 i = 0;
    for (;; ++i) {
        if (dstUnits - i == 1) {
            dst[i] = 0;
            return i + 1;
        }
        dst[i] = static_cast<MWChar>(static_cast<int16_t>(static_cast<int8_t>(src[i])));
        if (src[i] == 0)
            return i + 1;
    }
}

MInt64 MWCharToChar(const MWChar* src, MChar* dst, MInt64 dstBytes)
{
    if (src == nullptr || dst == nullptr)
        return 0;
    if (dstBytes <= 0)
        return 1;
    MInt64 i = 0;
    for (;; ++i) {
        if (dstBytes - i == 1) {
            dst[i] = 0;
            return i + 1;
        }
        dst[i] = static_cast<MChar>(src[i] & 0xFF);
        if (src[i] == 0)
            return i + 1;
    }
}

// Surrogate units are ordinary units here: each is encoded alone as 3 bytes.
MInt64 MUnicodeToUTF8(const MWChar* src, MChar* dst, MInt64 dstBytes)
{
    if (src == nullptr || (dst != nullptr && dstBytes < 1))
        return 0;
    const MInt64 limit = dst != nullptr ? dstBytes : 0x7FFFFFFF;
    MInt64 total = 0;
    auto* out = reinterpret_cast<unsigned char*>(dst);
    for (const MWChar* p = src; *p != 0; ++p) {
        const unsigned u = *p;
        const int len = u <= 0x7F ? 1 : u <= 0x7FF ? 2 : 3;
        if (total + len >= limit)
            return 0; // no room left for the terminator
        if (out != nullptr) {
            if (len == 1) {
                out[total] = static_cast<unsigned char>(u);
            } else if (len == 2) {
                out[total] = static_cast<unsigned char>(0xC0 | (u >> 6));
                out[total + 1] = static_cast<unsigned char>(0x80 | (u & 0x3F));
            } else {
                out[total] = static_cast<unsigned char>(0xE0 | (u >> 12));
                out[total + 1] = static_cast<unsigned char>(0x80 | ((u >> 6) & 0x3F));
                out[total + 2] = static_cast<unsigned char>(0x80 | (u & 0x3F));
            }
        }
        total += len;
    }
    if (out != nullptr)
        out[total] = 0;
    return total;
}

// Lenient decoding: continuation bytes are not checked for their 10 pattern and overlong forms
// pass, but a lead byte that starts no 1- to 3-byte sequence is an error, and a sequence cut
// short by the terminator is an error too rather than a read past it.
MInt64 MUTF8ToUnicode(const MChar* src, MWChar* dst, MInt64 dstUnits)
{
    if (src == nullptr || (dst != nullptr && dstUnits < 1))
        return 0;
    const MInt64 limit = dst != nullptr ? dstUnits : 0x7FFFFFFF;
    const auto* in = reinterpret_cast<const unsigned char*>(src);
    MInt64 count = 0;
    while (*in != 0) {
        const unsigned lead = *in;
        int follow;
        unsigned value;
        if (lead < 0x80) {
            follow = 0;
            value = lead;
        } else if ((lead & 0xE0) == 0xC0) {
            follow = 1;
            value = lead & 0x1F;
        } else if ((lead & 0xF0) == 0xE0) {
            follow = 2;
            value = lead & 0x0F;
        } else {
            return -1;
        }
        ++count;
        if (count >= limit)
            return 0;
        ++in;
        for (int k = 0; k < follow; ++k, ++in) {
            if (*in == 0)
                return -1;
            value = (value << 6) + (*in & 0x3F);
        }
        if (dst != nullptr)
            dst[count - 1] = static_cast<MWChar>(value);
    }
    if (dst != nullptr)
        dst[count] = 0;
    return count;
}

// No byte is validated; a sequence cut short by the end of the given bytes ends the conversion.
MInt64 MMultiByteToWideChar(MDWord, const MChar* src, MInt64 srcBytes, MWChar* dst, MInt64 dstUnits)
{
    if (src == nullptr || dst == nullptr || srcBytes < 1 || dstUnits < 1)
        return 0;
    const auto* in = reinterpret_cast<const unsigned char*>(src);
    MInt64 i = 0, out = 0;
    while (i < srcBytes && out < dstUnits) {
        const unsigned lead = in[i];
        unsigned value;
        if (!(lead & 0x80)) {
            value = lead;
            i += 1;
        } else if (lead & 0x20) {
            if (srcBytes - i < 3)
                break;
            value = ((lead << 12) & 0xFFFF) + ((in[i + 1] << 6) & 0xFC0) + (in[i + 2] & 0x3F);
            i += 3;
        } else {
            if (srcBytes - i < 2)
                break;
            value = ((lead << 6) & 0x7C0) + (in[i + 1] & 0x3F);
            i += 2;
        }
        dst[out++] = static_cast<MWChar>(value);
    }
    return out;
}

// The unit 0 is written in its 2-byte form so that it never ends the text early. A character
// that does not fit together with the terminator ends the conversion.
MInt64 MWideCharToMultiByte(MDWord, const MWChar* src, MInt64 srcUnits, MChar* dst, MInt64 dstBytes)
{
    if (src == nullptr || dst == nullptr || srcUnits < 1 || dstBytes < 1)
        return 0;
    auto* out = reinterpret_cast<unsigned char*>(dst);
    MInt64 n = 0;
    for (MInt64 i = 0; i < srcUnits && dstBytes - n > 1; ++i) {
        const unsigned u = src[i];
        const int len = (u >= 1 && u <= 0x7F) ? 1 : u <= 0x7FF ? 2 : 3;
        if (n + len > dstBytes - 1)
            break;
        if (len == 1) {
            out[n] = static_cast<unsigned char>(u);
        } else if (len == 2) {
            out[n] = static_cast<unsigned char>(0xC0 | (u >> 6));
            out[n + 1] = static_cast<unsigned char>(0x80 | (u & 0x3F));
        } else {
            out[n] = static_cast<unsigned char>(0xE0 | (u >> 12));
            out[n + 1] = static_cast<unsigned char>(0x80 | ((u >> 6) & 0x3F));
            out[n + 2] = static_cast<unsigned char>(0x80 | (u & 0x3F));
        }
        n += len;
    }
    out[n] = 0;
    return n;
}

} // extern "C"

// UTF-8 and 16-bit text conversions, narrow/wide helpers, and the small utilities.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "MRuntime.h"

namespace {

std::string utf8Of(const std::u16string& s)
{
    const MInt64 n = MUnicodeToUTF8(s.c_str(), nullptr, 0);
    std::string out(static_cast<size_t>(n) + 1, '\xEE');
    EXPECT_EQ(MUnicodeToUTF8(s.c_str(), out.data(), n + 1), n);
    EXPECT_EQ(out[n], '\0');
    out.resize(static_cast<size_t>(n));
    return out;
}

TEST(Utf8, BoundariesEncodeAndDecode)
{
    struct Row {
        char16_t unit;
        const char* bytes;
    } rows[] = {
        {0x7F, "\x7F"},         {0x80, "\xC2\x80"},         {0x7FF, "\xDF\xBF"},
        {0x800, "\xE0\xA0\x80"}, {0xD800, "\xED\xA0\x80"},   {0xDFFF, "\xED\xBF\xBF"},
        {0xFFFF, "\xEF\xBF\xBF"}, {0xE9, "\xC3\xA9"},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(testing::Message() << std::hex << int(r.unit));
        EXPECT_EQ(utf8Of(std::u16string(1, r.unit)), r.bytes);
        MWChar back[4] = {};
        EXPECT_EQ(MUTF8ToUnicode(r.bytes, back, 4), 1);
        EXPECT_EQ(back[0], r.unit);
        EXPECT_EQ(back[1], 0);
    }
}

TEST(Utf8, EveryUnitRoundTrips)
{
    std::u16string all;
    for (unsigned u = 1; u <= 0xFFFF; ++u)
        all += static_cast<char16_t>(u);
    const std::string bytes = utf8Of(all);
    std::vector<MWChar> back(all.size() + 1);
    EXPECT_EQ(MUTF8ToUnicode(bytes.c_str(), back.data(), static_cast<MInt64>(back.size())),
              static_cast<MInt64>(all.size()));
    EXPECT_EQ(std::u16string(back.data()), all);
    // The counting pass gives the same size.
    EXPECT_EQ(MUTF8ToUnicode(bytes.c_str(), nullptr, 0), static_cast<MInt64>(all.size()));

    // The bounded form agrees with the terminated one.
    std::vector<MWChar> wide(all.size());
    EXPECT_EQ(MMultiByteToWideChar(0, bytes.data(), static_cast<MInt64>(bytes.size()), wide.data(),
                                   static_cast<MInt64>(wide.size())),
              static_cast<MInt64>(all.size()));
    EXPECT_TRUE(std::equal(wide.begin(), wide.end(), all.begin()));
    std::string narrow(bytes.size() + 1, '\0');
    EXPECT_EQ(MWideCharToMultiByte(0, reinterpret_cast<const MWChar*>(all.data()), static_cast<MInt64>(all.size()),
                                   narrow.data(), static_cast<MInt64>(narrow.size())),
              static_cast<MInt64>(bytes.size()));
    EXPECT_EQ(narrow.substr(0, bytes.size()), bytes);
}

TEST(Utf8, TargetsTooSmallNeverOverflow)
{
    const std::u16string text = u"a\u00e9\u20ac";
    const std::string bytes = utf8Of(text); // 1 + 2 + 3 = 6 bytes
    ASSERT_EQ(bytes.size(), 6u);
    for (MInt64 size = 0; size <= 8; ++size) {
        std::vector<char> out(static_cast<size_t>(size) + 4, '\x55');
        const MInt64 n = MUnicodeToUTF8(text.c_str(), out.data(), size);
        EXPECT_EQ(n, size >= 7 ? 6 : 0) << size;
        for (size_t i = static_cast<size_t>(size); i < out.size(); ++i)
            EXPECT_EQ(out[i], '\x55') << "wrote past the target at size " << size;
    }
    MWChar one[2];
    EXPECT_EQ(MUnicodeToUTF8(u"\u00e9", reinterpret_cast<char*>(one), 2), 0);
    for (MInt64 size = 0; size <= 5; ++size) {
        std::vector<MWChar> out(static_cast<size_t>(size) + 4, 0x5555);
        const MInt64 n = MUTF8ToUnicode(bytes.c_str(), out.data(), size);
        EXPECT_EQ(n, size >= 4 ? 3 : 0) << size;
        for (size_t i = static_cast<size_t>(size); i < out.size(); ++i)
            EXPECT_EQ(out[i], 0x5555) << "wrote past the target at size " << size;
    }
    for (MInt64 size = 1; size <= 8; ++size) {
        std::vector<char> out(static_cast<size_t>(size) + 4, '\x55');
        const MInt64 n = MWideCharToMultiByte(0, reinterpret_cast<const MWChar*>(text.data()), 3, out.data(), size);
        EXPECT_LT(n, size);
        EXPECT_EQ(out[n], '\0');
        for (size_t i = static_cast<size_t>(size); i < out.size(); ++i)
            EXPECT_EQ(out[i], '\x55') << "wrote past the target at size " << size;
    }
}

TEST(Utf8, InvalidLeadsAndTruncatedSequences)
{
    EXPECT_EQ(MUTF8ToUnicode("\x80" "abc", nullptr, 0), -1);
    EXPECT_EQ(MUTF8ToUnicode("a\xF0\x9F\x98\x80", nullptr, 0), -1) << "4-byte sequences are refused";
    EXPECT_EQ(MUTF8ToUnicode("\xFF", nullptr, 0), -1);
    // Overlong forms and odd continuation bytes are accepted as they come.
    MWChar w[4];
    EXPECT_EQ(MUTF8ToUnicode("\xC0\x80" "A", w, 4), 2);
    EXPECT_EQ(w[0], 0);

    // Every prefix of a text, copied into a buffer of exactly that length, is decoded without
    // reading past its terminator or its byte count (AddressSanitizer watches the heap copies).
    const std::string full = "x\xC3\xA9\xE2\x82\xAC" "y";
    for (size_t cut = 0; cut <= full.size(); ++cut) {
        std::vector<char> text(full.begin(), full.begin() + cut);
        text.push_back('\0');
        std::vector<MWChar> out(16);
        const MInt64 n = MUTF8ToUnicode(text.data(), out.data(), 16);
        EXPECT_TRUE(n >= 0 || n == -1);
        std::vector<char> bytes(full.begin(), full.begin() + cut);
        if (!bytes.empty())
            EXPECT_LE(MMultiByteToWideChar(0, bytes.data(), static_cast<MInt64>(cut), out.data(), 16),
                      static_cast<MInt64>(cut));
    }
    EXPECT_EQ(MUTF8ToUnicode("\xE2\x82", w, 4), -1);
    EXPECT_EQ(MMultiByteToWideChar(0, "a\xE2\x82", 3, w, 4), 1);
    EXPECT_EQ(MMultiByteToWideChar(0, nullptr, 3, w, 4), 0);
    EXPECT_EQ(MMultiByteToWideChar(0, "a", 1, w, 0), 0);
}

TEST(Utf8, WideToMultiByteKeepsZeroUnitsInTwoBytes)
{
    const MWChar units[] = {0x0041, 0x0000, 0x20AC};
    char out[8];
    std::memset(out, 0x55, sizeof out);
    EXPECT_EQ(MWideCharToMultiByte(0, units, 3, out, sizeof out), 6);
    EXPECT_EQ(0, std::memcmp(out, "\x41\xC0\x80\xE2\x82\xAC\0", 7));
    EXPECT_EQ(MWideCharToMultiByte(0, units, 3, out, 4), 3) << "the euro does not fit with the terminator";
    EXPECT_EQ(out[3], '\0');
}

TEST(NarrowAndWide, ByteWideningAndNarrowing)
{
    MWChar w[8];
    EXPECT_EQ(MCharToWChar("a\xE9", w, 8), 3);
    EXPECT_EQ(w[0], u'a');
    EXPECT_EQ(w[1], 0xFFE9) << "bytes widen as signed values";
    EXPECT_EQ(MCharToWChar("abcdef", w, 3), 3);
    EXPECT_EQ(w[2], 0);
    EXPECT_EQ(MCharToWChar("abc", w, 0), 1);
    char n[8];
    EXPECT_EQ(MWCharToChar(u"\u0141b", n, 8), 3);
    EXPECT_EQ(static_cast<unsigned char>(n[0]), 0x41);
    EXPECT_EQ(MWCharToChar(u"abcdef", n, 4), 4);
    EXPECT_STREQ(n, "abc");
    EXPECT_EQ(MWCsLen(u"hello"), 5);
    EXPECT_EQ(MWCsLen(nullptr), 0);
    MWChar mixed[] = u"aBz\u00c9";
    EXPECT_EQ(MWCsMakeUpper(mixed), MOK);
    EXPECT_EQ(std::u16string(mixed), u"ABZ\u00c9") << "only ASCII letters change";
    MWCsMakeLower(mixed);
    EXPECT_EQ(std::u16string(mixed), u"abz\u00c9");
    char s[] = "MiXeD\xC9";
    MSCsMakeLower(s);
    EXPECT_STREQ(s, "mixed\xC9");
    MSCsMakeUpper(s);
    EXPECT_STREQ(s, "MIXED\xC9");
    EXPECT_EQ(MSCsMakeLower(nullptr), MERR_INVALID_PARAM);
    EXPECT_EQ(MWCsMakeUpper(nullptr), MERR_INVALID_PARAM);

    EXPECT_EQ(MWtol(L"0x1F"), 31);
    EXPECT_EQ(MWtol(L"017"), 15);
    EXPECT_EQ(MWtoi(L"-12"), -12);
    wchar_t buf[16];
    EXPECT_EQ(MWSprintf(buf, L"%d-%ls", 7, L"x"), 3);
    EXPECT_EQ(MWCsCmp(buf, L"7-x"), 0);
    EXPECT_EQ(MSCsICmp("ABC", "abc"), 0);
    EXPECT_NE(MSCsNCmp("abc", "abd", 3), 0);
    EXPECT_EQ(MStoi64("9000000000"), 9000000000LL);
    char out[16];
    EXPECT_EQ(MSSprintf(out, "%s.%d", "v", 2), 3);
}

TEST(Numbers, U2StrKeepsAllTwentyDigits)
{
    char out[32];
    EXPECT_EQ(ADK_U2Str(0, out, sizeof out), 1);
    EXPECT_STREQ(out, "0");
    EXPECT_EQ(ADK_U2Str(UINT64_MAX, out, sizeof out), 20);
    EXPECT_STREQ(out, "18446744073709551615");
    EXPECT_EQ(ADK_U2Str(10000000000000000000ULL, out, sizeof out), 20);
    EXPECT_STREQ(out, "10000000000000000000");
    EXPECT_EQ(ADK_U2Str(12345, out, 4), 3);
    EXPECT_STREQ(out, "123");
    EXPECT_EQ(ADK_U2Str(12345, out, 1), 0);
    EXPECT_STREQ(out, "");
}

TEST(Numbers, VersionText)
{
    char out[32];
    EXPECT_EQ(ADK_FormatVersionInfo(2, 0, 2, "01252007", out, sizeof out), MOK);
    EXPECT_STREQ(out, "2.0.2.01252007");
    EXPECT_EQ(ADK_FormatVersionInfo(4, 0, 42, "", out, sizeof out), MOK);
    EXPECT_STREQ(out, "4.0.42");
    EXPECT_EQ(ADK_FormatVersionInfo(4, 0, 42, "", out, 7), MOK) << "an exact fit fits";
    EXPECT_EQ(ADK_FormatVersionInfo(4, 0, 42, "", out, 6), MERR_BUFFER_TOO_SMALL);
    EXPECT_EQ(ADK_FormatVersionInfo(2, 0, 2, "01252007", out, 3), MERR_BUFFER_TOO_SMALL);
    EXPECT_EQ(ADK_FormatVersionInfo(2, 0, 2, "01252007", out, 10), MOK) << "the date is cut to fit";
    EXPECT_STREQ(out, "2.0.2.012");
    EXPECT_EQ(ADK_FormatVersionInfo(1, 2, 3, nullptr, out, 10), MERR_INVALID_PARAM);
    EXPECT_EQ(ADK_FormatVersionInfo(1, 2, 3, "", nullptr, 10), MERR_INVALID_PARAM);
    EXPECT_EQ(ADK_FormatVersionInfo(1, 2, 3, "", out, 0), MERR_INVALID_PARAM);
    MDWord a, b, c;
    EXPECT_EQ(ADKUTILS_GetVersionInfo(&a, &b, &c, out, sizeof out), MOK);
    EXPECT_STREQ(out, "1.2.0.01302007");
    EXPECT_EQ(ADK_GetColorDepth(5), 16);
    EXPECT_EQ(ADK_GetColorDepth(1), 24);
    EXPECT_EQ(ADK_GetPixelBytes(6), 2);
    EXPECT_EQ(ADK_GetPixelBytes(7), 3);
}

TEST(Paths, ExtensionAndSplit)
{
    const char* p = "/a.b/photo.x.jpg";
    EXPECT_STREQ(ADK_GetFileExt(p), ".jpg");
    EXPECT_EQ(ADK_GetFileExt("/a.b/photo"), nullptr);
    EXPECT_EQ(ADK_GetFileExt("dir\\name"), nullptr);
    EXPECT_EQ(ADK_GetFileExt(nullptr), nullptr);

    char folder[64], name[64], ext[16];
    EXPECT_EQ(ADK_SplitFullPath(nullptr, "/a/b/photo.x.jpg", folder, 64, name, 64, ext, 16), MOK);
    EXPECT_STREQ(folder, "/a/b/");
    EXPECT_STREQ(name, "photo.x");
    EXPECT_STREQ(ext, ".jpg");
    EXPECT_EQ(ADK_SplitFullPath(nullptr, "photo", folder, 64, name, 64, ext, 16), MOK);
    EXPECT_STREQ(folder, "");
    EXPECT_STREQ(name, "photo");
    EXPECT_STREQ(ext, "");
    EXPECT_EQ(ADK_SplitFullPath(nullptr, "C:\\pics\\a.png", folder, 64, nullptr, 0, nullptr, 0), MOK);
    EXPECT_STREQ(folder, "C:\\pics\\");
    EXPECT_EQ(ADK_SplitFullPath(nullptr, "", folder, 64, name, 64, ext, 16), MERR_INVALID_PARAM);
    EXPECT_EQ(ADK_SplitFullPath(nullptr, nullptr, folder, 64, name, 64, ext, 16), MERR_INVALID_PARAM);

    // Long paths are split whole, and an output too small for its part is refused untouched
    // beyond its size.
    std::string longFolder = "/" + std::string(400, 'f') + "/";
    std::string longPath = longFolder + "name.ext";
    std::vector<char> bigFolder(512);
    EXPECT_EQ(ADK_SplitFullPath(nullptr, longPath.c_str(), bigFolder.data(), 512, name, 64, ext, 16), MOK);
    EXPECT_EQ(std::string(bigFolder.data()), longFolder);
    EXPECT_STREQ(name, "name");
    std::vector<char> small(40, '\x55');
    EXPECT_EQ(ADK_SplitFullPath(nullptr, longPath.c_str(), small.data(), 32, name, 64, ext, 16), MERR_INVALID_PARAM);
    EXPECT_EQ(small[0], '\0');
    EXPECT_EQ(small[32], '\x55');
    EXPECT_EQ(ADK_SplitFullPath(nullptr, "/a/photo.jpeg", folder, 64, name, 64, ext, 5), MERR_INVALID_PARAM);
    EXPECT_EQ(ADK_SplitFullPath(nullptr, "/a/photo.jpeg", folder, 64, name, 64, ext, 6), MOK);
}

TEST(Rectangles, FitIn)
{
    const MRECT box{0, 0, 100, 100};
    MRECT obj{0, 0, 200, 100};
    MInt64 scale = 0;
    EXPECT_EQ(ADK_GetFitinSize(&box, &obj, &scale), MOK);
    const MRECT expected{0, 25, 100, 75};
    EXPECT_TRUE(ADK_EqualRect(&obj, &expected));
    EXPECT_EQ(scale, 500);
    obj = MRECT{0, 0, 50, 50};
    EXPECT_EQ(ADK_GetFitinSize(&box, &obj, &scale), MOK);
    EXPECT_EQ(obj.left, 25);
    EXPECT_EQ(obj.bottom, 75);
    EXPECT_EQ(scale, 1000);
    obj = MRECT{0, 0, 100, 400}; // the height limits
    EXPECT_EQ(ADK_GetFitinSize(&box, &obj, nullptr), MOK);
    EXPECT_EQ(obj.top, 0);
    EXPECT_EQ(obj.bottom, 100);
    EXPECT_EQ(obj.right - obj.left, 25);
    obj = MRECT{0, 0, 1, 100000}; // scaled width 0 keeps one pixel
    EXPECT_EQ(ADK_GetFitinSize(&box, &obj, &scale), MOK);
    EXPECT_EQ(obj.right - obj.left, 1);
    obj = MRECT{0, 0, INT64_MAX / 2, 10}; // products that would wrap in 64 bits
    EXPECT_EQ(ADK_GetFitinSize(&box, &obj, &scale), MOK);
    EXPECT_EQ(obj.left, 0);
    EXPECT_EQ(obj.right, 100);
    MRECT empty{5, 5, 5, 9};
    EXPECT_EQ(ADK_GetFitinSize(&box, &empty, &scale), MERR_INVALID_PARAM);
    EXPECT_EQ(ADK_GetFitinSize(nullptr, &obj, &scale), MERR_INVALID_PARAM);
}

TEST(Rectangles, Operations)
{
    MRECT a{0, 0, 10, 10}, b{10, 0, 20, 10}, out{1, 1, 1, 1};
    EXPECT_EQ(ADK_IntersectRect(&out, &a, &b), MFalse) << "touching rectangles do not intersect";
    EXPECT_TRUE(ADK_IsRectNull(&out));
    EXPECT_EQ(ADK_UnionRect(&out, &a, &b), MTrue);
    EXPECT_EQ(out.right, 20);
    MRECT c{5, 5, 15, 15};
    EXPECT_EQ(ADK_IntersectRect(&out, &a, &c), MTrue);
    EXPECT_EQ(out.left, 5);
    EXPECT_EQ(out.right, 10);
    EXPECT_EQ(ADK_IntersectRect(nullptr, &a, &c), MFalse);
    EXPECT_TRUE(ADK_PtInRect(&a, 0, 9));
    EXPECT_FALSE(ADK_PtInRect(&a, 10, 0));
    EXPECT_FALSE(ADK_PtInRect(nullptr, 0, 0));
    MRECT n{-3, -3, -6, 4};
    ADK_NormalizeRect(&n);
    EXPECT_EQ(n.left, -6);
    EXPECT_EQ(ADK_RectCenterPoint(&n).x, -5) << "halving rounds towards minus infinity";
    EXPECT_EQ(ADK_RectTopLeft(nullptr).x, -1);
    EXPECT_TRUE(ADK_IsRectEmpty(nullptr));
    EXPECT_FALSE(ADK_IsRectNull(nullptr));
    ADK_InflateRect(&a, 1, 2, 3, 4);
    EXPECT_EQ(ADK_GetRectSize(&a).cx, 14);
    EXPECT_EQ(ADK_GetRectHeight(&a), 16);
    ADK_OffsetRect(&a, 1, 1);
    EXPECT_EQ(ADK_RectBottomRight(&a).y, 15);
    MPOINT p{};
    ADK_PointSet(&p, 1, 2);
    ADK_PointOffset(&p, 1, 1);
    EXPECT_TRUE(ADK_PointIsEqual(&p, 2, 3));
    ADK_SetRectEmpty(&a);
    EXPECT_TRUE(ADK_IsRectNull(&a));
}

} // namespace

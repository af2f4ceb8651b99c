#include "BigTiffMetadata.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <map>
#include <vector>

namespace kpv::imageio_detail {

namespace {

// TIFF tags of the directories' own layout.
constexpr uint16_t kExifIfdTag = 0x8769;
constexpr uint16_t kGpsIfdTag = 0x8825;
constexpr uint16_t kXmpTag = 700;

// A directory of more entries than this is no metadata a camera or scanner writes: it is refused.
constexpr uint64_t kMaxEntries = 1024;
// A tag of more bytes than this (a colour profile, a private table) is left out; so is every tag
// once the restated structure reaches the total.
constexpr uint64_t kMaxTagBytes = 1u << 20;
constexpr size_t kMaxTotalBytes = 16u << 20;

// The tags that locate pixels, sub-pages or other directories by offsets into the file: their
// values would point nowhere in the restated structure. The colour profile is of no use to the
// rows and often large.
bool locatesData(uint16_t tag)
{
    switch (tag) {
    case 273: case 279:   // strip offsets and byte counts
    case 288: case 289:   // free offsets and byte counts
    case 324: case 325:   // tile offsets and byte counts
    case 330:             // sub-directories
    case 513: case 514:   // JPEG interchange format and its length
    case 0xA005:          // interoperability directory
    case 0x927C:          // maker note: its inner offsets are the file's
    case 34675:           // colour profile
    case kExifIfdTag: case kGpsIfdTag: case kXmpTag:
        return true;
    default:
        return false;
    }
}

// Bytes of one value of a TIFF type (TIFF 6.0 section 2, BigTIFF's types 16 to 18); 0 for an
// unknown type.
unsigned typeSize(uint16_t type)
{
    switch (type) {
    case 1: case 2: case 6: case 7: return 1;
    case 3: case 8: return 2;
    case 4: case 9: case 11: case 13: return 4;
    case 5: case 10: case 12: case 16: case 17: case 18: return 8;
    default: return 0;
    }
}

struct Entry {
    uint16_t tag = 0;
    uint16_t type = 0;
    uint32_t count = 0;
    QByteArray bytes;  // the values, in the file's byte order
};

class Reader {
public:
    Reader(const QByteArray& file, bool little) : m_data(reinterpret_cast<const unsigned char*>(file.constData())),
                                                   m_size(uint64_t(file.size())), m_little(little) {}

    bool has(uint64_t offset, uint64_t length) const { return offset <= m_size && length <= m_size - offset; }

    uint64_t number(uint64_t offset, unsigned bytes) const
    {
        uint64_t v = 0;
        for (unsigned i = 0; i < bytes; ++i) {
            const uint64_t b = m_data[offset + i];
            v |= m_little ? b << (8 * i) : b << (8 * (bytes - 1 - i));
        }
        return v;
    }

    QByteArray bytes(uint64_t offset, uint64_t length) const
    {
        return QByteArray(reinterpret_cast<const char*>(m_data + offset), qsizetype(length));
    }

    bool little() const { return m_little; }

    // The entries of the directory at `offset`, and the offsets of its EXIF and GPS directories
    // (0 when it names none). False when the directory itself lies outside the file.
    bool directory(uint64_t offset, std::vector<Entry>* entries, uint64_t* exif, uint64_t* gps, QByteArray* xmp) const;

private:
    const unsigned char* m_data;
    uint64_t m_size;
    bool m_little;
};

bool Reader::directory(uint64_t offset, std::vector<Entry>* entries, uint64_t* exif, uint64_t* gps, QByteArray* xmp) const
{
    // BigTIFF directory: an 8-byte count, entries of 20 bytes (tag, type, 8-byte count, 8 bytes
    // of value or offset), then the 8-byte offset of the next directory.
    if (!has(offset, 8))
        return false;
    const uint64_t count = number(offset, 8);
    if (count > kMaxEntries || !has(offset + 8, count * 20))
        return false;
    for (uint64_t i = 0; i < count; ++i) {
        const uint64_t at = offset + 8 + i * 20;
        const uint16_t tag = uint16_t(number(at, 2));
        const uint16_t type = uint16_t(number(at + 2, 2));
        const uint64_t values = number(at + 4, 8);
        const unsigned size = typeSize(type);
        if (size == 0 || values == 0 || values > kMaxTagBytes / size)
            continue;
        const uint64_t length = values * size;
        const uint64_t where = length <= 8 ? at + 12 : number(at + 12, 8);
        if (!has(where, length))
            continue;  // a count that runs past the end: this tag alone is lost
        if (tag == kExifIfdTag || tag == kGpsIfdTag) {
            if (type == 4 || type == 13 || type == 16 || type == 18)
                *(tag == kExifIfdTag ? exif : gps) = number(where, size);
            continue;
        }
        if (tag == kXmpTag) {
            if (xmp && (type == 1 || type == 2 || type == 7))
                *xmp = bytes(where, length);
            continue;
        }
        if (locatesData(tag))
            continue;
        Entry e;
        e.tag = tag;
        e.type = type;
        e.count = uint32_t(values);
        if (type >= 16) {
            // 64-bit integers have no classic type: kept as 32-bit ones when every value fits.
            bool fits = true;
            for (uint64_t k = 0; k < values && fits; ++k) {
                const uint64_t v = number(where + k * 8, 8);
                fits = type == 17 ? int64_t(v) >= INT32_MIN && int64_t(v) <= INT32_MAX : v <= UINT32_MAX;
                for (unsigned b = 0; b < 4 && fits; ++b) {
                    const unsigned shift = m_little ? 8 * b : 8 * (3 - b);
                    e.bytes.append(char((v >> shift) & 0xFF));
                }
            }
            if (!fits)
                continue;
            e.type = type == 16 ? 4 : type == 17 ? 9 : 13;
        } else {
            e.bytes = bytes(where, length);
        }
        entries->push_back(std::move(e));
    }
    return true;
}

class Writer {
public:
    explicit Writer(bool little) : m_little(little)
    {
        m_out.append(little ? "II" : "MM", 2);
        put(2, 42);
        put(4, 8);
    }

    // Appends a directory and its values; returns its offset. The positions of the value fields of
    // the pointer tags given (with 0 as value) are kept for `point`.
    uint32_t directory(std::vector<Entry> entries)
    {
        std::stable_sort(entries.begin(), entries.end(), [](const Entry& a, const Entry& b) { return a.tag < b.tag; });
        // Leave out whatever would take the structure past its total.
        size_t total = size_t(m_out.size()) + 6 + entries.size() * 12;
        std::vector<Entry> kept;
        for (Entry& e : entries) {
            const size_t extra = e.bytes.size() > 4 ? size_t(e.bytes.size()) + 1 : 0;
            if (total + extra > kMaxTotalBytes)
                continue;
            total += extra;
            kept.push_back(std::move(e));
        }
        if (m_out.size() % 2)
            m_out.append('\0');
        const uint32_t start = uint32_t(m_out.size());
        put(2, kept.size());
        std::vector<std::pair<qsizetype, const QByteArray*>> outOfLine;
        for (const Entry& e : kept) {
            put(2, e.tag);
            put(2, e.type);
            put(4, e.count);
            if (e.tag == kExifIfdTag || e.tag == kGpsIfdTag)
                m_pointers[e.tag] = m_out.size();
            if (e.bytes.size() <= 4) {
                m_out.append(e.bytes);
                m_out.append(4 - e.bytes.size(), '\0');
            } else {
                outOfLine.emplace_back(m_out.size(), &e.bytes);
                put(4, 0);
            }
        }
        put(4, 0);  // no next directory
        for (const auto& [field, bytes] : outOfLine) {
            if (m_out.size() % 2)
                m_out.append('\0');
            const uint32_t at = uint32_t(m_out.size());
            m_out.append(*bytes);
            set(field, 4, at);
        }
        return start;
    }

    void point(uint16_t tag, uint32_t offset)
    {
        const auto it = m_pointers.find(tag);
        if (it != m_pointers.end())
            set(it->second, 4, offset);
    }

    QByteArray result() const { return m_out; }

private:
    void put(unsigned bytes, uint64_t v)
    {
        m_out.append(qsizetype(bytes), '\0');
        set(m_out.size() - bytes, bytes, v);
    }

    void set(qsizetype at, unsigned bytes, uint64_t v)
    {
        for (unsigned i = 0; i < bytes; ++i) {
            const unsigned shift = m_little ? 8 * i : 8 * (bytes - 1 - i);
            m_out[at + i] = char((v >> shift) & 0xFF);
        }
    }

    bool m_little;
    QByteArray m_out;
    std::map<uint16_t, qsizetype> m_pointers;
};

Entry pointerEntry(uint16_t tag)
{
    Entry e;
    e.tag = tag;
    e.type = 4;
    e.count = 1;
    e.bytes = QByteArray(4, '\0');
    return e;
}

}  // namespace

bool isBigTiff(const QByteArray& file)
{
    // BigTIFF header: byte order, 43, offset size 8, a zero, then the first directory's offset.
    static const char kLittle[] = {'I', 'I', 43, 0, 8, 0, 0, 0};
    static const char kBig[] = {'M', 'M', 0, 43, 0, 8, 0, 0};
    return file.size() >= 16 && (std::memcmp(file.constData(), kLittle, 8) == 0 || std::memcmp(file.constData(), kBig, 8) == 0);
}

QByteArray classicTiffFromBigTiff(const QByteArray& file, QByteArray* xmp)
{
    if (xmp)
        xmp->clear();
    if (!isBigTiff(file))
        return {};
    const Reader reader(file, file.at(0) == 'I');
    const uint64_t first = reader.number(8, 8);
    std::vector<Entry> page;
    uint64_t exifAt = 0, gpsAt = 0, unused = 0;
    if (!reader.directory(first, &page, &exifAt, &gpsAt, xmp))
        return {};
    // Each directory is read once: one that points back at another (a loop) adds nothing.
    std::vector<Entry> exif, gps;
    const bool hasExif = exifAt && exifAt != first && reader.directory(exifAt, &exif, &unused, &unused, nullptr);
    const bool hasGps = gpsAt && gpsAt != first && gpsAt != exifAt && reader.directory(gpsAt, &gps, &unused, &unused, nullptr);
    if (hasExif)
        page.push_back(pointerEntry(kExifIfdTag));
    if (hasGps)
        page.push_back(pointerEntry(kGpsIfdTag));
    Writer writer(reader.little());
    writer.directory(std::move(page));
    if (hasExif)
        writer.point(kExifIfdTag, writer.directory(std::move(exif)));
    if (hasGps)
        writer.point(kGpsIfdTag, writer.directory(std::move(gps)));
    return writer.result();
}

}  // namespace kpv::imageio_detail

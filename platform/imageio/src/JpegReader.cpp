// JPEG through the codec library's decoder where it takes the file, else libjpeg-turbo. Scaled
// decodes use the DCT scaling (M/8) so that a screen-sized image of a large photo never decodes
// every pixel. The codec library's decoder reads a progressive file's scans a row of blocks at a
// time, where libjpeg-turbo keeps every coefficient of the picture (gigabytes for a large
// panorama) whatever size it is decoded at.

#include "FormatDecoder.h"
#include "JpegPlanes.h"
#include "JpegResumeIndex.h"
#include "imageio/DecodeBudget.h"
#include "imageio/ImageLimits.h"
#include "imageio/ContentTypes.h"
#include "imageio/ImageProperties.h"

#include <csetjmp>
#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include <jpeglib.h>


namespace kpv {
namespace {

struct ErrorManager {
    jpeg_error_mgr pub;
    std::jmp_buf jump;
    char message[JMSG_LENGTH_MAX];
    // The load stopped the decode (see onJpegProgress): no fault of the file.
    bool cancelled;
    unsigned progressCalls;
};

extern "C" void onJpegError(j_common_ptr cinfo)
{
    auto* err = reinterpret_cast<ErrorManager*>(cinfo->err);
    (*cinfo->err->format_message)(cinfo, err->message);
    std::longjmp(err->jump, 1);
}

extern "C" void onJpegMessage(j_common_ptr, int) {}

// Called by the library once a row is asked for, and once a row of blocks of each scan of a
// progressive file comes in: every few calls, a decode whose load was cancelled leaves the way an
// error does, before it spends more of the processor.
extern "C" void onJpegProgress(j_common_ptr cinfo)
{
    auto* err = reinterpret_cast<ErrorManager*>(cinfo->err);
    if (++err->progressCalls % imageio_detail::kCancelPollRows != 0 || !imageio_detail::decodeCancelled(nullptr))
        return;
    err->cancelled = true;
    std::longjmp(err->jump, 1);
}

// Owns a decompressor; the jmp_buf must be set by the caller before each libjpeg call chain.
class Decompressor {
public:
    Decompressor()
    {
        m_info.err = jpeg_std_error(&m_err.pub);
        m_err.pub.error_exit = onJpegError;
        m_err.pub.emit_message = onJpegMessage;
        m_err.message[0] = 0;
        m_progress.progress_monitor = onJpegProgress;
    }
    ~Decompressor()
    {
        if (m_created)
            jpeg_destroy_decompress(&m_info);
    }
    jpeg_decompress_struct m_info{};
    ErrorManager m_err{};
    // Set on the decompressor once it is created (see onJpegProgress).
    jpeg_progress_mgr m_progress{};
    bool m_created = false;
    // The error of a call chain that longjmp'd out.
    QString failure() const
    {
        return m_err.cancelled ? DecodeBudget::cancelledError()
                               : QStringLiteral("JPEG decoding failed: %1").arg(QString::fromLatin1(m_err.message));
    }
};

// The smallest scale M/8 whose longer side still reaches `maxPixelSize`.
unsigned scaleNumFor(unsigned width, unsigned height, int maxPixelSize)
{
    if (maxPixelSize <= 0)
        return 8;
    const unsigned longer = std::max(width, height);
    for (unsigned m = 1; m < 8; ++m) {
        // libjpeg rounds the scaled size up.
        const unsigned scaled = (longer * m + 7) / 8;
        if (scaled >= unsigned(maxPixelSize))
            return m;
    }
    return 8;
}

// Everything that lives across setjmp sits in this object, reached through a pointer that never
// changes after setjmp, so a longjmp from libjpeg leaves no local in an indeterminate state.
struct DecodeJob {
    Decompressor d;
    QImage image;
    QString error;
};

// One decoded CMYK row made RGBA in place; files that write inverted CMYK say so with an APP14 marker.
void cmykRowToRgba(uchar* p, unsigned width, bool inverted)
{
    for (unsigned x = 0; x < width; ++x, p += 4) {
        int c = p[0], m = p[1], y = p[2], k = p[3];
        if (!inverted) {
            c = 255 - c;
            m = 255 - m;
            y = 255 - y;
            k = 255 - k;
        }
        p[0] = uchar(c * k / 255);
        p[1] = uchar(m * k / 255);
        p[2] = uchar(y * k / 255);
        p[3] = 255;
    }
}

// The blocks that the scans of a progressive file visit, every scan counting the blocks of its
// components. The markers are found by stepping over the entropy-coded data, where a 0xFF is
// followed by a zero byte or a restart marker.
uint64_t progressiveBlockVisits(const jpeg_decompress_struct* info, const unsigned char* data, size_t size)
{
    uint64_t visits = 0;
    size_t at = 2;
    while (at + 4 <= size) {
        const auto* next = static_cast<const unsigned char*>(std::memchr(data + at, 0xFF, size - at));
        if (!next)
            break;
        at = size_t(next - data);
        if (at + 4 > size)
            break;
        const unsigned char marker = data[at + 1];
        if (marker == 0xFF) {
            ++at;
            continue;
        }
        if (marker == 0x00 || marker == 0x01 || (marker >= 0xD0 && marker <= 0xD7)) {
            at += 2;
            continue;
        }
        if (marker == 0xD9)
            break;
        const size_t length = (size_t(data[at + 2]) << 8) | data[at + 3];
        if (marker == 0xDA && at + 4 < size) {
            for (int i = 0, count = data[at + 4]; i < count && at + 5 + 2 * size_t(i) < size; ++i)
                for (int c = 0; c < info->num_components; ++c)
                    if (info->comp_info[c].component_id == data[at + 5 + 2 * i]) {
                        visits += uint64_t(info->comp_info[c].width_in_blocks) * info->comp_info[c].height_in_blocks;
                        break;
                    }
        }
        at += 2 + std::max<size_t>(length, 2);
    }
    return visits;
}

// Whether the scans of a progressive file ask for more passes over its blocks than its bytes can
// justify, with *error saying so. Its scans walk over every block of their components before the
// first row comes out, on every road (a whole picture, a thumbnail, a part): a few hundred scans
// of a few bytes each kept a worker busy for seconds to a minute. A file may ask for 64 visits
// for each of its bytes, and any file for 2^24 (a few tenths of a second): far more than any
// writer's scans of a real picture take, which visit each block some ten times.
bool tooManyScanPasses(jpeg_decompress_struct* info, const unsigned char* data, size_t size, QString* error)
{
    if (!jpeg_has_multiple_scans(info))
        return false;
    const uint64_t visits = progressiveBlockVisits(info, data, size);
    if (visits <= std::max<uint64_t>(uint64_t(1) << 24, uint64_t(size) * 64))
        return false;
    uint64_t blocks = 0;
    for (int c = 0; c < info->num_components; ++c)
        blocks += uint64_t(info->comp_info[c].width_in_blocks) * uint64_t(info->comp_info[c].height_in_blocks);
    if (error)
        *error = QStringLiteral("the progressive JPEG file's scans ask for %1 passes over its blocks, "
                                "far more than its %2 bytes can hold")
                     .arg(visits / std::max<uint64_t>(blocks, 1))
                     .arg(size);
    return true;
}

// The checks and charges that come after the header and before decompression starts (the scans'
// passes are checked before, on every road): a file far too short for its frame is refused, and a
// progressive file keeps the coefficients of every block of the picture while its scans arrive,
// whatever size it is decoded at, so that memory is charged to the budget too. False, with the
// job's error set, when the decode cannot go on.
bool checkBeforeStart(DecodeJob* job, const unsigned char* data, size_t size)
{
    jpeg_decompress_struct* info = &job->d.m_info;
    if (!imageio_detail::jpegCanHold(size, info->image_width, info->image_height)) {
        job->error = QStringLiteral("the JPEG file is far too short for %1 x %2 pixels")
                         .arg(info->image_width)
                         .arg(info->image_height);
        return false;
    }
    if (jpeg_has_multiple_scans(info)) {
        uint64_t blocks = 0;
        for (int c = 0; c < info->num_components; ++c)
            blocks += uint64_t(info->comp_info[c].width_in_blocks + info->comp_info[c].h_samp_factor) *
                      uint64_t(info->comp_info[c].height_in_blocks + info->comp_info[c].v_samp_factor);
        if (!imageio_detail::reserveDecodeBytes(blocks * DCTSIZE2 * sizeof(JCOEF), &job->error))
            return false;
    }
    return true;
}

bool runDecode(DecodeJob* job, const unsigned char* data, size_t size, int maxPixelSize)
{
    jpeg_decompress_struct* info = &job->d.m_info;
    if (setjmp(job->d.m_err.jump)) {
        job->error = job->d.failure();
        job->image = QImage();
        return false;
    }
    jpeg_create_decompress(info);
    job->d.m_created = true;
    info->progress = &job->d.m_progress;  // cleared by the creation
    jpeg_mem_src(info, data, static_cast<unsigned long>(size));
    jpeg_read_header(info, TRUE);
    const bool cmyk = info->jpeg_color_space == JCS_CMYK || info->jpeg_color_space == JCS_YCCK;
    info->out_color_space = cmyk ? JCS_CMYK : JCS_EXT_RGBA;
    info->scale_num = scaleNumFor(info->image_width, info->image_height, maxPixelSize);
    info->scale_denom = 8;
    info->dct_method = JDCT_ISLOW;
    // The cap is on the pixels actually decoded: a very large photo asked for as a thumbnail
    // decodes at up to an eighth of its size.
    jpeg_calc_output_dimensions(info);
    if (!ImageLimits::frameAllowed(info->output_width, info->output_height)) {
        job->error = QStringLiteral("JPEG image of %1 x %2 pixels exceeds the size limit")
                         .arg(info->image_width)
                         .arg(info->image_height);
        return false;
    }
    if (tooManyScanPasses(info, data, size, &job->error))
        return false;
    // At 1, 1/2, 1/4 and 1/8 the codec library's decoder takes the usual files, faster than
    // libjpeg-turbo and, for a progressive file, holding one row of blocks where libjpeg-turbo
    // keeps every coefficient of the picture. Other scales and files stay with libjpeg-turbo.
    if ((info->scale_num == 1 || info->scale_num == 2 || info->scale_num == 4 || info->scale_num == 8) &&
        info->data_precision == 8 && !info->arith_code &&
        ((info->jpeg_color_space == JCS_YCbCr && info->num_components == 3) ||
         (info->jpeg_color_space == JCS_GRAYSCALE && info->num_components == 1))) {
        if (!imageio_detail::jpegCanHold(size, info->image_width, info->image_height)) {
            job->error = QStringLiteral("the JPEG file is far too short for %1 x %2 pixels")
                             .arg(info->image_width)
                             .arg(info->image_height);
            return false;
        }
        const auto decoded =
            imageio_detail::decodeWithCodec(data, size, int(8 / info->scale_num), int(info->output_width),
                                            int(info->output_height), &job->image, &job->error);
        if (decoded == imageio_detail::CodecDecode::Done)
            return true;
        if (decoded == imageio_detail::CodecDecode::Failed)
            return false;
        job->image = QImage();
        job->error.clear();
    }
    if (!checkBeforeStart(job, data, size))
        return false;
    jpeg_start_decompress(info);

    job->image = imageio_detail::allocateFrame(int(info->output_width), int(info->output_height), &job->error);
    if (job->image.isNull())
        return false;
    // Files that write inverted CMYK say so with an APP14 marker.
    const bool inverted = cmyk && info->saw_Adobe_marker;
    while (info->output_scanline < info->output_height) {
        JSAMPROW row = job->image.scanLine(int(info->output_scanline));
        jpeg_read_scanlines(info, &row, 1);
        if (cmyk)
            cmykRowToRgba(row, info->output_width, inverted);
    }
    jpeg_finish_decompress(info);
    return true;
}

QImage decodeJpeg(const unsigned char* data, size_t size, int maxPixelSize, QString* error)
{
    auto job = std::make_unique<DecodeJob>();
    if (!runDecode(job.get(), data, size, maxPixelSize)) {
        if (error)
            *error = job->error;
        return {};
    }
    return std::move(job->image);
}

// Reads the header and sets up a decode of the picture reduced by `reduction`: colour space,
// scale and the checks and charges that come before any pixel is allocated. False, with the
// job's error set, when the file is refused; the jmp_buf must be set by the caller.
bool startRegionDecode(DecodeJob* job, const unsigned char* data, size_t size, int reduction, bool* cmyk)
{
    jpeg_decompress_struct* info = &job->d.m_info;
    jpeg_create_decompress(info);
    job->d.m_created = true;
    info->progress = &job->d.m_progress;  // cleared by the creation
    jpeg_mem_src(info, data, static_cast<unsigned long>(size));
    jpeg_read_header(info, TRUE);
    *cmyk = info->jpeg_color_space == JCS_CMYK || info->jpeg_color_space == JCS_YCCK;
    info->out_color_space = *cmyk ? JCS_CMYK : JCS_EXT_RGBA;
    info->scale_num = unsigned(8 / reduction);
    info->scale_denom = 8;
    info->dct_method = JDCT_ISLOW;
    jpeg_calc_output_dimensions(info);
    if (tooManyScanPasses(info, data, size, &job->error) || !checkBeforeStart(job, data, size))
        return false;
    jpeg_start_decompress(info);
    return true;
}

// A part of the picture: the rows above it are skipped (their entropy-coded data is read, nothing
// more), the columns beside it are cut off from the block columns on, and the rows below are
// never read.
bool runRegionDecode(DecodeJob* job, const unsigned char* data, size_t size, const QRect& rect, int reduction)
{
    jpeg_decompress_struct* info = &job->d.m_info;
    if (setjmp(job->d.m_err.jump)) {
        job->error = job->d.failure();
        job->image = QImage();
        return false;
    }
    bool cmyk = false;
    if (!startRegionDecode(job, data, size, reduction, &cmyk))
        return false;
    if (rect.x() < 0 || rect.y() < 0 || rect.isEmpty() || unsigned(rect.right()) >= info->output_width ||
        unsigned(rect.bottom()) >= info->output_height) {
        job->error = QStringLiteral("the part is not inside the JPEG picture of %1 x %2")
                         .arg(info->output_width)
                         .arg(info->output_height);
        return false;
    }
    JDIMENSION left = JDIMENSION(rect.x()), width = JDIMENSION(rect.width());
    // Widened to whole block columns: `left` moves left to the column's start.
    jpeg_crop_scanline(info, &left, &width);
    const unsigned shift = unsigned(rect.x()) - left;
    if (shift + unsigned(rect.width()) > info->output_width) {
        job->error = QStringLiteral("JPEG decoding failed: the part's columns were not kept");
        return false;
    }
    job->image = imageio_detail::allocateFrame(rect.width(), rect.height(), &job->error);
    if (job->image.isNull())
        return false;
    QImage row = imageio_detail::allocateFrame(int(info->output_width), 1, &job->error);
    if (row.isNull())
        return false;
    for (JDIMENSION skip = JDIMENSION(rect.y()); skip > 0;) {
        const JDIMENSION skipped = jpeg_skip_scanlines(info, skip);
        if (skipped == 0)
            break;
        skip -= skipped;
    }
    const bool inverted = cmyk && info->saw_Adobe_marker;
    for (int y = 0; y < rect.height(); ++y) {
        JSAMPROW line = row.scanLine(0);
        if (jpeg_read_scanlines(info, &line, 1) != 1)
            break;
        if (cmyk)
            cmykRowToRgba(line + size_t(shift) * 4, unsigned(rect.width()), inverted);
        std::memcpy(job->image.scanLine(y), line + size_t(shift) * 4, size_t(rect.width()) * 4);
    }
    jpeg_abort_decompress(info);
    return true;
}

// What the header of a JPEG says of its picture and of how it is coded.
struct JpegHeader {
    QSize size;
    double dpiX = 0, dpiY = 0;
    bool progressive = false;
    const char* colorModel = kCGImagePropertyColorModelRGB;
    int quality = 0;             // 1 to 100; 0: not known
    int lumaH = 0, lumaV = 0;    // luma samples for each chroma sample; 0: not the usual layout
    QString scansRefused;        // why the scans ask too much of any decode; empty when they do not
};

// The quality whose scaling of the example luminance table (JPEG K.1) comes nearest to `table`,
// as a writer that scales that table makes it (the scaling of the JPEG library's own writer, which
// our writer uses too): quality q scales by 5000 / q below 50, by 200 - 2q from there.
int estimateQuality(const JQUANT_TBL& table)
{
    static constexpr int kLuminance[DCTSIZE2] = {
        16, 11, 10, 16, 24,  40,  51,  61,  12, 12, 14, 19, 26,  58,  60,  55,
        14, 13, 16, 24, 40,  57,  69,  56,  14, 17, 22, 29, 51,  87,  80,  62,
        18, 22, 37, 56, 68,  109, 103, 77,  24, 35, 55, 64, 81,  104, 113, 92,
        49, 64, 78, 87, 103, 121, 120, 101, 72, 92, 95, 98, 112, 100, 103, 99};
    int best = 0;
    long bestDistance = 0;
    for (int q = 1; q <= 100; ++q) {
        const long scale = q < 50 ? 5000 / q : 200 - 2 * q;
        long distance = 0;
        for (int i = 0; i < DCTSIZE2; ++i) {
            const long expected = std::clamp<long>((kLuminance[i] * scale + 50) / 100, 1, 32767);
            distance += std::labs(long(table.quantval[i]) - expected);
        }
        if (best == 0 || distance <= bestDistance) {
            best = q;
            bestDistance = distance;
        }
    }
    return best;
}

bool runReadHeader(DecodeJob* job, const unsigned char* data, size_t size, JpegHeader* out)
{
    if (setjmp(job->d.m_err.jump)) {
        job->error = QStringLiteral("not a readable JPEG file: %1").arg(QString::fromLatin1(job->d.m_err.message));
        return false;
    }
    jpeg_create_decompress(&job->d.m_info);
    job->d.m_created = true;
    jpeg_mem_src(&job->d.m_info, data, static_cast<unsigned long>(size));
    jpeg_read_header(&job->d.m_info, TRUE);
    const jpeg_decompress_struct& info = job->d.m_info;
    out->size = QSize(int(info.image_width), int(info.image_height));
    out->progressive = jpeg_has_multiple_scans(&job->d.m_info);
    tooManyScanPasses(&job->d.m_info, data, size, &out->scansRefused);
    switch (info.jpeg_color_space) {
    case JCS_GRAYSCALE: out->colorModel = kCGImagePropertyColorModelGray; break;
    case JCS_CMYK:
    case JCS_YCCK: out->colorModel = kCGImagePropertyColorModelCMYK; break;
    default: out->colorModel = kCGImagePropertyColorModelRGB; break;
    }
    // The tables of the frame's first component (luma), read with the header (JPEG B.2.4.1).
    const int table = info.comp_info ? info.comp_info[0].quant_tbl_no : -1;
    if (table >= 0 && table < NUM_QUANT_TBLS && info.quant_tbl_ptrs[table])
        out->quality = estimateQuality(*info.quant_tbl_ptrs[table]);
    // Luma and chroma (JPEG A.1.1): the chroma components sampled once for each block of luma.
    if (info.jpeg_color_space == JCS_YCbCr && info.num_components == 3 && info.comp_info &&
        info.comp_info[1].h_samp_factor == 1 && info.comp_info[1].v_samp_factor == 1 &&
        info.comp_info[2].h_samp_factor == 1 && info.comp_info[2].v_samp_factor == 1) {
        out->lumaH = info.comp_info[0].h_samp_factor;
        out->lumaV = info.comp_info[0].v_samp_factor;
    }
    // JFIF density: unit 1 is dots per inch, 2 dots per centimetre.
    if (info.saw_JFIF_marker && info.X_density > 0 && info.Y_density > 0 &&
        (info.density_unit == 1 || info.density_unit == 2)) {
        const double toInch = info.density_unit == 2 ? 2.54 : 1.0;
        out->dpiX = info.X_density * toInch;
        out->dpiY = info.Y_density * toInch;
    }
    return true;
}

// The resume index of one file: made on the index maker's thread, taken by the parts asked after.
// The file's bytes may be a mapping that ends with its decoder: a decoder going away stops the
// making and waits until its bytes are no longer read.
struct IndexSlot {
    std::mutex mutex;
    std::condition_variable done;
    std::shared_ptr<const imageio_detail::JpegResumeIndex> index;
    bool making = false;
    bool lookedForKept = false;
    std::atomic<bool> abandoned{false};

    void abandon()
    {
        std::unique_lock<std::mutex> lock(mutex);
        abandoned = true;
        done.wait(lock, [this] { return !making; });
    }
};

// One thread makes the resume indexes, so that the first parts of a file, which a zoom waits for,
// decode from the top at once instead of waiting for the whole file's data to be read first. A
// request still waiting when another comes gives way to it: the newer file is the one looked at.
class IndexMaker {
public:
    static IndexMaker& shared()
    {
        static IndexMaker maker;
        return maker;
    }

    void request(std::shared_ptr<IndexSlot> slot, QByteArray data)
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        if (m_stop)
            return;
        if (!m_thread.joinable())
            m_thread = std::thread([this] { run(); });
        m_pending = Job{std::move(slot), std::move(data)};
        m_wake.notify_one();
    }

    ~IndexMaker()
    {
        {
            const std::lock_guard<std::mutex> lock(m_mutex);
            m_stop = true;
        }
        m_wake.notify_one();
        if (m_thread.joinable())
            m_thread.join();
    }

private:
    struct Job {
        std::shared_ptr<IndexSlot> slot;
        QByteArray data;
    };

    void run()
    {
        for (;;) {
            Job job;
            {
                std::unique_lock<std::mutex> lock(m_mutex);
                m_wake.wait(lock, [this] { return m_stop || m_pending.slot; });
                if (m_stop)
                    return;
                job = std::move(m_pending);
                m_pending = Job{};
            }
            IndexSlot& slot = *job.slot;
            {
                const std::lock_guard<std::mutex> lock(slot.mutex);
                if (slot.abandoned)
                    continue;
                slot.making = true;
            }
            auto index = imageio_detail::JpegResumeIndex::build(
                reinterpret_cast<const unsigned char*>(job.data.constData()), size_t(job.data.size()),
                [&] { return slot.abandoned.load() || stopping(); });
            job.data = QByteArray();
            {
                const std::lock_guard<std::mutex> lock(slot.mutex);
                slot.index = std::move(index);
                slot.making = false;
            }
            slot.done.notify_all();
        }
    }

    bool stopping()
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        return m_stop;
    }

    std::mutex m_mutex;
    std::condition_variable m_wake;
    Job m_pending;
    bool m_stop = false;
    std::thread m_thread;
};

class JpegDecoder final : public FormatDecoder {
public:
    ~JpegDecoder() override { m_indexSlot->abandon(); }

    bool open(const QByteArray& data, QString* error) override
    {
        m_data = data;
        auto job = std::make_unique<DecodeJob>();
        if (!runReadHeader(job.get(), reinterpret_cast<const unsigned char*>(m_data.constData()),
                           size_t(m_data.size()), &m_header)) {
            if (error)
                *error = job->error;
            return false;
        }
        m_size = m_header.size;
        return true;
    }
    QString type() const override { return ContentTypes::kJpeg; }
    QSize frameSize(int) const override { return m_size; }
    QImage decode(int, int maxPixelSize, QString* error) override
    {
        return decodeJpeg(reinterpret_cast<const unsigned char*>(m_data.constData()), size_t(m_data.size()),
                          maxPixelSize, error);
    }

    QImage decodeRegion(int, const QRect& rect, int reduction, QString* error) override
    {
        // A file far too short for its frame is refused here as its whole decode refuses it: a
        // kilobyte declaring 32,000 x 32,000 pixels otherwise made a part of half a gigabyte of
        // nothing when zoomed into.
        if (!imageio_detail::jpegCanHold(uint64_t(m_data.size()), uint64_t(m_size.width()), uint64_t(m_size.height()))) {
            if (error)
                *error = QStringLiteral("the JPEG file is far too short for %1 x %2 pixels")
                             .arg(m_size.width())
                             .arg(m_size.height());
            return {};
        }
        if (!m_header.scansRefused.isEmpty()) {
            if (error)
                *error = m_header.scansRefused;
            return {};
        }
        // Reads only the file's bytes, the resume index once made, and a decoder of its own:
        // parts decode on several threads at once.
        const auto* bytes = reinterpret_cast<const unsigned char*>(m_data.constData());
        std::shared_ptr<const imageio_detail::JpegResumeIndex> index;
        {
            const std::lock_guard<std::mutex> lock(m_indexSlot->mutex);
            // The index the picture's whole decode made, when it was made lately.
            if (!m_indexSlot->index && !m_indexSlot->lookedForKept) {
                m_indexSlot->index = imageio_detail::JpegResumeIndex::keptFor(bytes, size_t(m_data.size()));
                m_indexSlot->lookedForKept = true;
            }
            index = m_indexSlot->index;
        }
        QString why;
        if (index) {
            QImage part = index->decodeRegion(bytes, size_t(m_data.size()), rect, reduction, &why);
            if (!part.isNull() || imageio_detail::decodeCancelled(error))
                return part;
            // Damaged data may still decode in part through libjpeg-turbo, and a few layouts go
            // that way.
        } else {
            if (m_partsFromTheTop.fetch_add(1) == 1)
                IndexMaker::shared().request(m_indexSlot, m_data);
            // From the top, the rows of blocks above the part read without making pixels.
            QImage part = imageio_detail::decodeJpegRegion(bytes, size_t(m_data.size()), nullptr, rect, reduction, &why);
            if (!part.isNull() || imageio_detail::decodeCancelled(error))
                return part;
        }
        auto job = std::make_unique<DecodeJob>();
        if (!runRegionDecode(job.get(), bytes, size_t(m_data.size()), rect, reduction)) {
            if (error)
                *error = job->error;
            return {};
        }
        return std::move(job->image);
    }

    QVariantMap formatProperties(int) const override
    {
        QVariantMap map = imageio_detail::densityProperties(m_header.dpiX, m_header.dpiY);
        QVariantMap jfif{{kCGImagePropertyJFIFIsProgressive, m_header.progressive}};
        if (m_header.quality > 0)
            jfif.insert(kCGImagePropertyJFIFEstimatedQuality, m_header.quality / 100.0);
        if (m_header.lumaH > 0 && m_header.lumaV > 0)
            jfif.insert(kCGImagePropertyJFIFChromaSubsampling, QVariantList{m_header.lumaH, m_header.lumaV});
        map.insert(kCGImagePropertyJFIFDictionary, jfif);
        map.insert(kCGImagePropertyColorModel, QString::fromLatin1(m_header.colorModel));
        map.insert(kCGImagePropertyDepth, 8);
        map.insert(kCGImagePropertyHasAlpha, false);
        return map;
    }

private:
    QByteArray m_data;
    QSize m_size;
    JpegHeader m_header;
    // Asked of the index maker by the second part: a file of which one part is all that is
    // wanted (the middle of a photo decoded ahead of a zoom) is read once, from the top, and the
    // index pays only from the second part on. Until it is made, parts decode from the top.
    std::shared_ptr<IndexSlot> m_indexSlot = std::make_shared<IndexSlot>();
    std::atomic<int> m_partsFromTheTop{0};
};

}  // namespace

namespace imageio_detail {
bool jpegCanHold(uint64_t fileBytes, uint64_t width, uint64_t height)
{
    return ImageLimits::jpegFileCanHold(fileBytes, width, height);
}

QImage decodeJpegBytes(const unsigned char* data, size_t size, int maxPixelSize, QString* error)
{
    return decodeJpeg(data, size, maxPixelSize, error);
}
}  // namespace imageio_detail

std::unique_ptr<FormatDecoder> makeJpegDecoder() { return std::make_unique<JpegDecoder>(); }

}  // namespace kpv

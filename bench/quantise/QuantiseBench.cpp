// Quantising photograph-like images to 256 colours: both of our palette builders (median cut and
// the network), each followed by our dithered remap, beside libimagequant with Floyd-Steinberg
// dithering at full strength, so that both sides dither. libimagequant runs on one thread (the
// program restarts itself with OMP_NUM_THREADS=1 before its OpenMP runtime starts).
//
// Error, per pixel, summed over the three channels:
//   mse          the plain mean squared difference from the original;
//   blurred mse  the same after a 3 x 3 binomial blur of both images, which is how the eye sees a
//                dithered picture at a normal distance: dither noise averages out, banding and
//                wrong colours stay. This is the fair comparison between two dithered results.
// Timings alternate the contenders over rounds and report medians; the machine's load is printed.
#include "AMQuant.h"

#include <libimagequant.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <random>
#include <string>
#include <vector>

namespace {

// 24-bit pixels in blue, green, red order, rows padded to 4 bytes.
struct Photo {
    std::string name;
    int w = 0, h = 0, pitch = 0;
    std::vector<uint8_t> px;
    Photo(std::string n, int width, int height) : name(std::move(n)), w(width), h(height), pitch((3 * width + 3) / 4 * 4)
    {
        px.assign(static_cast<size_t>(pitch) * h, 0);
    }
    uint8_t* at(int x, int y) { return &px[static_cast<size_t>(y) * pitch + 3 * static_cast<size_t>(x)]; }
    const uint8_t* at(int x, int y) const { return &px[static_cast<size_t>(y) * pitch + 3 * static_cast<size_t>(x)]; }
};

uint8_t byte(double v) { return static_cast<uint8_t>(std::clamp(std::lround(v), 0L, 255L)); }

// Soft colour blobs over a diagonal gradient, with film grain.
Photo blobs(uint32_t seed)
{
    Photo p("blobs " + std::to_string(seed), 1024, 768);
    std::mt19937 rng(seed);
    std::uniform_real_distribution<double> u(0.0, 1.0);
    std::normal_distribution<double> grain(0.0, 3.0);
    struct Blob {
        double x, y, r, c[3];
    };
    std::vector<Blob> list;
    for (int i = 0; i < 12; ++i)
        list.push_back({u(rng) * p.w, u(rng) * p.h, (0.05 + 0.25 * u(rng)) * p.w, {u(rng) * 255, u(rng) * 255, u(rng) * 255}});
    for (int y = 0; y < p.h; ++y)
        for (int x = 0; x < p.w; ++x) {
            double c[3] = {50.0 + 150.0 * x / p.w, 70.0 + 110.0 * y / p.h, 210.0 - 120.0 * (x + y) / (p.w + p.h)};
            for (const Blob& b : list) {
                const double k = std::exp(-((x - b.x) * (x - b.x) + (y - b.y) * (y - b.y)) / (b.r * b.r));
                for (int i = 0; i < 3; ++i)
                    c[i] = c[i] * (1 - k) + b.c[i] * k;
            }
            for (int i = 0; i < 3; ++i)
                p.at(x, y)[i] = byte(c[i] + grain(rng));
        }
    return p;
}

// A landscape: a smooth sky over hills of textured green and brown, a low sun, grain.
Photo landscape()
{
    Photo p("landscape", 1200, 800);
    std::mt19937 rng(77);
    std::normal_distribution<double> grain(0.0, 2.5);
    const auto hill = [&](double x) { return 0.55 * p.h + 60 * std::sin(x / 170.0) + 25 * std::sin(x / 47.0 + 1); };
    for (int y = 0; y < p.h; ++y)
        for (int x = 0; x < p.w; ++x) {
            double r, g, b;
            const double sun = std::exp(-(std::pow(x - 0.7 * p.w, 2) + std::pow(y - 0.3 * p.h, 2)) / (2 * 60.0 * 60.0));
            if (y < hill(x)) {
                const double t = static_cast<double>(y) / p.h;
                r = 90 + 120 * t + 160 * sun;
                g = 140 + 80 * t + 140 * sun;
                b = 230 - 40 * t + 40 * sun;
            } else {
                const double texture = 18 * std::sin(x * 0.9 + y * 0.4) * std::sin(y * 1.3 - x * 0.2) +
                                       12 * std::sin(x * 0.05 + y * 0.11);
                const double depth = (y - hill(x)) / p.h;
                r = 70 + 90 * depth + texture;
                g = 110 + 30 * depth + texture;
                b = 40 + 20 * depth + 0.5 * texture;
            }
            uint8_t* q = p.at(x, y);
            q[0] = byte(b + grain(rng));
            q[1] = byte(g + grain(rng));
            q[2] = byte(r + grain(rng));
        }
    return p;
}

// A portrait-like picture: a lit face-coloured oval on a dark, finely woven background.
Photo portrait()
{
    Photo p("portrait", 800, 1000);
    std::mt19937 rng(5);
    std::normal_distribution<double> grain(0.0, 2.0);
    for (int y = 0; y < p.h; ++y)
        for (int x = 0; x < p.w; ++x) {
            const double dx = (x - 0.5 * p.w) / (0.3 * p.w), dy = (y - 0.45 * p.h) / (0.35 * p.h);
            const double inside = std::clamp(1.5 - 1.5 * (dx * dx + dy * dy), 0.0, 1.0);
            const double light = 0.6 + 0.4 * std::clamp(1 - (x - 0.35 * p.w) / p.w - (y - 0.3 * p.h) / p.h, 0.0, 1.0);
            const double weave = 10 * ((x / 3 + y / 3) % 2) + 6 * std::sin(x * 0.7) * std::cos(y * 0.7);
            const double r = inside * 225 * light + (1 - inside) * (40 + weave);
            const double g = inside * 170 * light + (1 - inside) * (30 + weave);
            const double b = inside * 140 * light + (1 - inside) * (55 + 1.5 * weave);
            uint8_t* q = p.at(x, y);
            q[0] = byte(b + grain(rng));
            q[1] = byte(g + grain(rng));
            q[2] = byte(r + grain(rng));
        }
    return p;
}

// 3 x 3 binomial blur of every channel, edges repeated, in doubles.
std::vector<double> blurred(const Photo& p)
{
    std::vector<double> out(static_cast<size_t>(p.w) * p.h * 3);
    const int k[3] = {1, 2, 1};
    for (int y = 0; y < p.h; ++y)
        for (int x = 0; x < p.w; ++x)
            for (int c = 0; c < 3; ++c) {
                double sum = 0;
                for (int j = -1; j <= 1; ++j)
                    for (int i = -1; i <= 1; ++i) {
                        const int sx = std::clamp(x + i, 0, p.w - 1), sy = std::clamp(y + j, 0, p.h - 1);
                        sum += k[i + 1] * k[j + 1] * p.at(sx, sy)[c];
                    }
                out[(static_cast<size_t>(y) * p.w + x) * 3 + c] = sum / 16;
            }
    return out;
}

struct Error {
    double mse = 0, blurredMse = 0;
};

Error errorOf(const Photo& original, const Photo& result)
{
    Error e;
    for (int y = 0; y < original.h; ++y)
        for (int x = 0; x < original.w; ++x)
            for (int c = 0; c < 3; ++c) {
                const double d = static_cast<double>(original.at(x, y)[c]) - result.at(x, y)[c];
                e.mse += d * d;
            }
    const std::vector<double> a = blurred(original), b = blurred(result);
    for (size_t i = 0; i < a.size(); ++i)
        e.blurredMse += (a[i] - b[i]) * (a[i] - b[i]);
    const double pixels = static_cast<double>(original.w) * original.h;
    e.mse /= pixels;
    e.blurredMse /= pixels;
    return e;
}

using Clock = std::chrono::steady_clock;
double msSince(Clock::time_point t0) { return std::chrono::duration<double, std::milli>(Clock::now() - t0).count(); }

// One quantisation: the remapped picture and the time of palette plus remap alone.
struct Run {
    Photo out;
    double ms = 0;
};

Run ours(const Photo& src, MInt64 type)
{
    Photo work = src; // the remap diffuses its error into the source pixels
    const int ipitch = (src.w + 3) / 4 * 4;
    std::vector<uint8_t> idx(static_cast<size_t>(ipitch) * src.h);
    uint8_t pal[1024] = {};
    const Clock::time_point t0 = Clock::now();
    AMQuantHandle h = AMQuant_CreatePalette(type);
    AMQuant_GetPalette(h, work.px.data(), work.pitch, src.w, src.h, 256, pal);
    AMQuant_Remapfloyd(h, work.px.data(), work.pitch, idx.data(), ipitch, src.w, src.h, pal);
    AMQuant_DestroyPalette(h);
    Run r{src, msSince(t0)};
    for (int y = 0; y < src.h; ++y)
        for (int x = 0; x < src.w; ++x)
            std::memcpy(r.out.at(x, y), &pal[4 * idx[static_cast<size_t>(y) * ipitch + x]], 3);
    return r;
}

Run imagequant(const Photo& src)
{
    std::vector<uint8_t> rgba(static_cast<size_t>(src.w) * src.h * 4);
    for (int y = 0; y < src.h; ++y)
        for (int x = 0; x < src.w; ++x) {
            const uint8_t* p = src.at(x, y);
            uint8_t* q = &rgba[(static_cast<size_t>(y) * src.w + x) * 4];
            q[0] = p[2];
            q[1] = p[1];
            q[2] = p[0];
            q[3] = 255;
        }
    std::vector<uint8_t> idx(static_cast<size_t>(src.w) * src.h);
    Run r{src, 0};
    const Clock::time_point t0 = Clock::now();
    liq_attr* attr = liq_attr_create();
    liq_set_max_colors(attr, 256);
    liq_image* image = liq_image_create_rgba(attr, rgba.data(), src.w, src.h, 0);
    liq_result* res = nullptr;
    bool ok = liq_image_quantize(image, attr, &res) == LIQ_OK;
    if (ok) {
        liq_set_dithering_level(res, 1.0f);
        ok = liq_write_remapped_image(res, image, idx.data(), idx.size()) == LIQ_OK;
    }
    r.ms = msSince(t0);
    if (ok) {
        const liq_palette* pal = liq_get_palette(res);
        for (int y = 0; y < src.h; ++y)
            for (int x = 0; x < src.w; ++x) {
                const liq_color c = pal->entries[idx[static_cast<size_t>(y) * src.w + x]];
                uint8_t* q = r.out.at(x, y);
                q[0] = c.b;
                q[1] = c.g;
                q[2] = c.r;
            }
    } else {
        std::fprintf(stderr, "libimagequant failed on %s\n", src.name.c_str());
    }
    if (res)
        liq_result_destroy(res);
    liq_image_destroy(image);
    liq_attr_destroy(attr);
    return r;
}

struct Contender {
    const char* name;
    std::function<Run(const Photo&)> run;
};

} // namespace

int main(int argc, char** argv)
{
    // libimagequant's OpenMP runtime reads its thread count when it loads: restart with one thread.
    const char* threads = std::getenv("OMP_NUM_THREADS");
    if (!threads || std::strcmp(threads, "1") != 0) {
        setenv("OMP_NUM_THREADS", "1", 1);
        execv("/proc/self/exe", argv);
        std::perror("restarting with OMP_NUM_THREADS=1");
        return 1;
    }
    const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
    double load[3] = {};
    getloadavg(load, 3);
    std::printf("Quantising to 256 colours, dithered on both sides; libimagequant on one thread.\n"
                "Median of %d alternating rounds; load average %.2f %.2f %.2f\n\n",
                rounds, load[0], load[1], load[2]);

    const std::vector<Contender> contenders{
        {"ours median cut", [](const Photo& p) { return ours(p, AMQUANT_MEDIANCUT); }},
        {"ours network", [](const Photo& p) { return ours(p, AMQUANT_NEURAL); }},
        {"libimagequant", imagequant},
    };
    const std::vector<Photo> photos{blobs(1234), blobs(99), landscape(), portrait()};
    // Per contender, the products over the photos of its ratios to the reference (for geometric means).
    std::vector<double> errorRatio(contenders.size(), 1), blurRatio(contenders.size(), 1), timeRatio(contenders.size(), 1);
    for (const Photo& photo : photos) {
        std::vector<std::vector<double>> times(contenders.size());
        std::vector<Error> errors(contenders.size());
        for (int round = 0; round < rounds; ++round)
            for (size_t c = 0; c < contenders.size(); ++c) {
                const Run r = contenders[c].run(photo);
                times[c].push_back(r.ms);
                if (round == 0)
                    errors[c] = errorOf(photo, r.out);
            }
        std::printf("%s, %dx%d\n  %-16s %9s %9s %12s   %s\n", photo.name.c_str(), photo.w, photo.h, "", "ms", "mse",
                    "blurred mse", "ours / libimagequant: time, mse, blurred mse");
        std::vector<double> median(contenders.size());
        for (size_t c = 0; c < contenders.size(); ++c) {
            std::sort(times[c].begin(), times[c].end());
            median[c] = times[c][times[c].size() / 2];
        }
        const size_t ref = contenders.size() - 1;
        for (size_t c = 0; c < contenders.size(); ++c) {
            std::printf("  %-16s %9.1f %9.2f %12.2f", contenders[c].name, median[c], errors[c].mse, errors[c].blurredMse);
            if (c != ref) {
                const double t = median[c] / median[ref], m = errors[c].mse / errors[ref].mse;
                const double b = errors[c].blurredMse / errors[ref].blurredMse;
                std::printf("   x%.2f, x%.2f, x%.2f", t, m, b);
                timeRatio[c] *= t;
                errorRatio[c] *= m;
                blurRatio[c] *= b;
            }
            std::printf("\n");
        }
        std::printf("\n");
    }
    const double n = static_cast<double>(photos.size());
    std::printf("Geometric means over the %zu photos, ours / libimagequant:\n", photos.size());
    for (size_t c = 0; c + 1 < contenders.size(); ++c)
        std::printf("  %-16s time x%.2f, mse x%.2f, blurred mse x%.2f\n", contenders[c].name, std::pow(timeRatio[c], 1 / n),
                    std::pow(errorRatio[c], 1 / n), std::pow(blurRatio[c], 1 / n));
    getloadavg(load, 3);
    std::printf("load average at the end %.2f %.2f %.2f\n", load[0], load[1], load[2]);
    return 0;
}

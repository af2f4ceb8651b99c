// Palette by a self-organising network of 256 neurons on a line: each sample pulls its nearest
// (frequency-biased) neuron and that neuron's neighbours towards itself, with a learning rate
// and a neighbourhood that shrink over 100 cycles. Colours are held scaled by 16.
#include "QuantInternal.h"

#include "AMQuant.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>

namespace kpv::quant {
namespace {

constexpr int kNetSize = 256;
constexpr int kCycles = 100;
constexpr int kNetBiasShift = 4;          // colours scaled by 16
constexpr int kIntBiasShift = 16;         // frequency and bias fixed point
constexpr int kIntBias = 1 << kIntBiasShift;
constexpr int kGammaShift = 10;
constexpr int kBetaShift = 10;
constexpr int kBeta = kIntBias >> kBetaShift;                       // 1/1024
constexpr int kBetaGamma = kIntBias << (kGammaShift - kBetaShift);  // 2^16
constexpr int kRadiusBiasShift = 6;
constexpr int kRadiusBias = 1 << kRadiusBiasShift;
constexpr int kInitRadius = (kNetSize >> 3) * kRadiusBias;  // 32, held times 64
constexpr int kRadiusDec = 30;
constexpr int kAlphaBiasShift = 10;
constexpr int kInitAlpha = 1 << kAlphaBiasShift;
constexpr int kRadBiasShift = 8;
constexpr int kRadBias = 1 << kRadBiasShift;
constexpr int kAlphaRadBias = 1 << (kAlphaBiasShift + kRadBiasShift);
constexpr int kSampleFactor = 1;
constexpr int kAlphaDec = 30 + (kSampleFactor - 1) / 3;
constexpr int kPrimes[4] = {499, 491, 487, 503};

class Network {
public:
    Network() {
        for (int i = 0; i < kNetSize; ++i) {
            const int v = (i << (kNetBiasShift + 8)) / kNetSize;
            n_[i][0] = n_[i][1] = n_[i][2] = v;
            freq_[i] = kIntBias / kNetSize;
            bias_[i] = 0;
        }
    }

    // The winner by distance minus bias; frequencies and biases are updated on the way.
    int contest(int b0, int b1, int b2) {
        int bestDist = INT32_MAX, bestBiasDist = INT32_MAX, best = 0, bestBias = 0;
        for (int i = 0; i < kNetSize; ++i) {
            const int dist = std::abs(n_[i][0] - b0) + std::abs(n_[i][1] - b1) + std::abs(n_[i][2] - b2);
            if (dist < bestDist) { bestDist = dist; best = i; }
            const int biasDist = dist - (bias_[i] >> (kIntBiasShift - kNetBiasShift));
            if (biasDist < bestBiasDist) { bestBiasDist = biasDist; bestBias = i; }
            const int betaFreq = freq_[i] >> kBetaShift;
            freq_[i] -= betaFreq;
            bias_[i] += betaFreq << kGammaShift;
        }
        freq_[best] += kBeta;
        bias_[best] -= kBetaGamma;
        return bestBias;
    }

    void alterSingle(int alpha, int i, int b0, int b1, int b2) {
        n_[i][0] -= alpha * (n_[i][0] - b0) / kInitAlpha;
        n_[i][1] -= alpha * (n_[i][1] - b1) / kInitAlpha;
        n_[i][2] -= alpha * (n_[i][2] - b2) / kInitAlpha;
    }

    // Neighbours within rad, nearest first, alternating above and below.
    void alterNeighbours(const int64_t* radPower, int rad, int i, int b0, int b1, int b2) {
        const int lo = std::max(i - rad, -1);
        const int hi = std::min(i + rad, kNetSize);
        int j = i + 1, k = i - 1, m = 1;
        while (j < hi || k > lo) {
            const int64_t a = radPower[m++];
            if (j < hi) pull(n_[j++], a, b0, b1, b2);
            if (k > lo) pull(n_[k--], a, b0, b1, b2);
        }
    }

    void toPalette(MByte* palette) const {
        for (int i = 0; i < kNetSize; ++i)
            for (int k = 0; k < 3; ++k) {
                const int v = (n_[i][k] + (1 << (kNetBiasShift - 1))) >> kNetBiasShift;
                palette[4 * i + k] = MByte(std::clamp(v, 0, 255));
            }
    }

private:
    static void pull(int* p, int64_t a, int b0, int b1, int b2) {
        p[0] -= int(a * (p[0] - b0) / kAlphaRadBias);
        p[1] -= int(a * (p[1] - b1) / kAlphaRadBias);
        p[2] -= int(a * (p[2] - b2) / kAlphaRadBias);
    }

    int n_[kNetSize][3];
    int freq_[kNetSize];
    int bias_[kNetSize];
};

void fillRadPower(int64_t* radPower, int alpha, int rad) {
    const int64_t r2 = int64_t(rad) * rad;
    for (int j = 0; j < rad; ++j) radPower[j] = alpha * (((r2 - int64_t(j) * j) * kRadBias) / r2);
}

}  // namespace

void neu_GetPalette(const Image24& image, MByte* palette, MByte* table) {
    // The samples are the image's pixels in reading order; row padding is never a sample, so a
    // padded row cannot shift the channels of the rows after it.
    const int64_t samples = image.width * image.height;
    const int64_t length = 3 * samples;
    int64_t step = 3 * kPrimes[3];
    for (int i = 0; i < 3; ++i)
        if (length % kPrimes[i] != 0) {
            step = 3 * kPrimes[i];
            break;
        }
    // Images of fewer than 100 pixels decay at every sample.
    const int64_t delta = std::max<int64_t>(samples / kCycles, 1);

    Network network;
    Network* net = &network;
    int64_t radPower[kInitRadius >> kRadiusBiasShift];
    int alpha = kInitAlpha;
    int radius = kInitRadius;
    int rad = radius >> kRadiusBiasShift;
    if (rad <= 1) rad = 0;
    fillRadPower(radPower, alpha, rad);

    int64_t pos = 0;  // byte offset into the run of samples, always a multiple of 3
    for (int64_t i = 0; i < samples;) {
        const int64_t pixel = pos / 3;
        const MByte* px = image.pixel(pixel % image.width, pixel / image.width);
        const int b0 = px[0] << kNetBiasShift, b1 = px[1] << kNetBiasShift, b2 = px[2] << kNetBiasShift;
        const int j = net->contest(b0, b1, b2);
        net->alterSingle(alpha, j, b0, b1, b2);
        if (rad) net->alterNeighbours(radPower, rad, j, b0, b1, b2);
        // A step longer than a tiny image must still land inside it.
        pos += step;
        if (pos >= length) pos = length > step ? pos - length : pos % length;
        ++i;
        if (i % delta == 0) {
            alpha -= alpha / kAlphaDec;
            radius -= radius / kRadiusDec;
            rad = radius >> kRadiusBiasShift;
            if (rad <= 1) rad = 0;
            fillRadPower(radPower, alpha, rad);
        }
    }

    net->toPalette(palette);
    GetQkTabFromPalette(palette, kNetSize, table);
}

}  // namespace kpv::quant

extern "C" MInt32 IndexSearch(const AMQuantNetwork* pNetwork, MInt32 b0, MInt32 b1, MInt32 b2) {
    if (!pNetwork) return -1;
    const int size = 256;
    int bestDist = 1000;
    int best = -1;
    const int start = (b1 >= 0 && b1 < 256) ? std::clamp<int>(pNetwork->netindex[b1], 0, size) : 0;
    int i = start;
    int j = start - 1;
    while (i < size || j >= 0) {
        if (i < size) {
            const MInt32* p = pNetwork->neuron[i];
            int dist = p[1] - b1;
            if (dist >= bestDist) {
                i = size;
            } else {
                ++i;
                dist = std::abs(dist) + std::abs(p[0] - b0);
                if (dist < bestDist) {
                    dist += std::abs(p[2] - b2);
                    if (dist < bestDist) { bestDist = dist; best = p[3]; }
                }
            }
        }
        if (j >= 0) {
            const MInt32* p = pNetwork->neuron[j];
            int dist = b1 - p[1];
            if (dist >= bestDist) {
                j = -1;
            } else {
                --j;
                dist = std::abs(dist) + std::abs(p[0] - b0);
                if (dist < bestDist) {
                    dist += std::abs(p[2] - b2);
                    if (dist < bestDist) { bestDist = dist; best = p[3]; }
                }
            }
        }
    }
    return best;
}

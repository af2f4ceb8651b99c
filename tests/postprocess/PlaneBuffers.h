// The planes of one test image, each in a buffer of its own with exactly its bytes, so that the
// address sanitizer catches any access past a plane; their whole content can be taken and put back.
#ifndef KPV_TESTS_POSTPROCESS_PLANEBUFFERS_H
#define KPV_TESTS_POSTPROCESS_PLANEBUFFERS_H

#include "MTypes.h"

#include <algorithm>
#include <cstddef>
#include <memory>
#include <vector>

struct PlaneBuffers {
    std::vector<std::unique_ptr<MByte[]>> bufs;
    std::vector<size_t> sizes;
    MByte* ptr[3] = {};
    MInt64 pitch[3] = {};

    // Plane i: size bytes, rows pitch apart.
    void add(int i, MInt64 rowPitch, size_t size)
    {
        bufs.emplace_back(new MByte[size]);
        sizes.push_back(size);
        ptr[i] = bufs.back().get();
        pitch[i] = rowPitch;
    }
    std::vector<MByte> bytes() const
    {
        std::vector<MByte> all;
        for (size_t i = 0; i < bufs.size(); ++i)
            all.insert(all.end(), bufs[i].get(), bufs[i].get() + sizes[i]);
        return all;
    }
    void restore(const std::vector<MByte>& all)
    {
        size_t at = 0;
        for (size_t i = 0; i < bufs.size(); ++i) {
            std::copy(all.begin() + static_cast<std::ptrdiff_t>(at),
                      all.begin() + static_cast<std::ptrdiff_t>(at + sizes[i]), bufs[i].get());
            at += sizes[i];
        }
    }
};

#endif

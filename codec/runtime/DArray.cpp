// Dynamic array of fixed-size elements, allocated from a memory context.
#include <cstdint>
#include <cstring>
#include <vector>

#include "DArrayRecord.h"

#include "MMemory.h"

namespace {

int64_t countOf(const ADK_DArrayRecord* a)
{
    return a->upperBound + 1;
}

bool insideBuffer(const ADK_DArrayRecord* a, const void* p)
{
    const auto* b = static_cast<const unsigned char*>(p);
    return a->buffer != nullptr && b >= a->buffer && b < a->buffer + a->capacity * a->elementSize;
}

bool validIndex(const ADK_DArrayRecord* a, int64_t i)
{
    return i >= 0 && i <= a->upperBound;
}

unsigned char* at(ADK_DArrayRecord* a, int64_t i)
{
    return a->buffer + i * a->elementSize;
}

// Growth step for a request of "room for more": larger arrays take larger steps up to a point,
// then smaller ones again to limit the slack kept in very large tables.
int64_t growthStep(int64_t capacity)
{
    if (capacity <= 64)
        return 32;
    if (capacity <= 1024)
        return 320;
    if (capacity <= 5120)
        return 1024;
    if (capacity <= 20480)
        return 512;
    if (capacity <= 204800)
        return 128;
    return 32;
}

} // namespace

extern "C" {

MResult ADK_DArrayCreate(MInt64 elementSize, MHandle hMemContext, ADK_DArray* pArray)
{
    if (pArray == nullptr || elementSize <= 0 || elementSize % 4 != 0)
        return MERR_INVALID_PARAM;
    auto* a = static_cast<ADK_DArrayRecord*>(MMemAlloc(hMemContext, sizeof(ADK_DArrayRecord)));
    if (a == nullptr)
        return MERR_NO_MEMORY;
    *a = ADK_DArrayRecord{nullptr, 0, -1, elementSize, hMemContext};
    *pArray = a;
    return MOK;
}

MResult ADK_DArrayDestroy(ADK_DArray array)
{
    if (array == nullptr)
        return MERR_INVALID_PARAM;
    MHandle ctx = array->memContext;
    if (array->buffer != nullptr)
        MMemFree(ctx, array->buffer);
    MMemFree(ctx, array);
    return MOK;
}

MResult ADK_DArraySetSize(ADK_DArray array, MInt64 capacity)
{
    if (array == nullptr)
        return MERR_INVALID_PARAM;
    if (array->upperBound == -1 && capacity == 0) {
        if (array->buffer != nullptr)
            MMemFree(array->memContext, array->buffer);
        array->buffer = nullptr;
        array->capacity = 0;
        return MOK;
    }
    if (capacity < 1 || capacity <= array->upperBound)
        return MERR_INVALID_PARAM;
    if (capacity > INT64_MAX - 7)
        return MERR_NO_MEMORY;
    const int64_t rounded = (capacity + 7) & ~int64_t{7};
    if (countOf(array) == rounded || array->capacity == rounded)
        return MOK;
    if (rounded > INT64_MAX / array->elementSize)
        return MERR_NO_MEMORY;
    // The first buffer is a plain allocation: a static block manager's realloc does not allocate
    // for a null block, so growing from nothing through it would always fail.
    const size_t bytes = static_cast<size_t>(rounded * array->elementSize);
    void* grown = array->buffer != nullptr ? MMemRealloc(array->memContext, array->buffer, bytes)
                                           : MMemAlloc(array->memContext, bytes);
    if (grown == nullptr)
        return MERR_NO_MEMORY;
    array->buffer = static_cast<unsigned char*>(grown);
    array->capacity = rounded;
    return MOK;
}

MResult ADK_DArrayGrow(ADK_DArray array, MInt64 delta)
{
    if (array == nullptr)
        return MERR_INVALID_PARAM;
    if (delta == 0)
        return MOK;
    if (delta > 0) {
        if (delta > INT64_MAX - array->capacity)
            return MERR_NO_MEMORY;
        if (array->upperBound + delta < array->capacity)
            return MOK;
        return ADK_DArraySetSize(array, array->capacity + delta);
    }
    if (delta == INT64_MIN)
        return MERR_INVALID_PARAM;
    if (array->upperBound - delta < array->capacity)
        return MOK;
    return ADK_DArraySetSize(array, array->capacity + growthStep(array->capacity));
}

MResult ADK_DArrayFreeExtra(ADK_DArray array)
{
    if (array == nullptr)
        return MERR_INVALID_PARAM;
    return ADK_DArraySetSize(array, countOf(array));
}

MResult ADK_DArrayRemoveAll(ADK_DArray array)
{
    if (array == nullptr)
        return MERR_INVALID_PARAM;
    array->upperBound = -1;
    return MOK;
}

MResult ADK_DArrayAdd(ADK_DArray array, const MVoid* pElement, MInt64* pIndex)
{
    if (pIndex != nullptr)
        *pIndex = -1;
    if (array == nullptr || pElement == nullptr)
        return MERR_INVALID_PARAM;
    // An element taken from this array's own buffer is copied out first: growing may move it.
    const size_t size = static_cast<size_t>(array->elementSize);
    std::vector<unsigned char> own;
    if (insideBuffer(array, pElement)) {
        own.assign(static_cast<const unsigned char*>(pElement), static_cast<const unsigned char*>(pElement) + size);
        pElement = own.data();
    }
    MResult r = ADK_DArrayGrow(array, -1);
    if (r != MOK)
        return r;
    std::memcpy(at(array, array->upperBound + 1), pElement, size);
    ++array->upperBound;
    if (pIndex != nullptr)
        *pIndex = array->upperBound;
    return MOK;
}

MResult ADK_DArrayInsertAt(ADK_DArray array, MInt64 index, const MVoid* pElement)
{
    if (array == nullptr || pElement == nullptr || index < 0 || index > countOf(array))
        return MERR_INVALID_PARAM;
    MResult r = ADK_DArrayAdd(array, pElement, nullptr);
    if (r != MOK || index == array->upperBound)
        return r;
    // Open a gap at the index and move the appended element (the new last one) into it.
    const size_t size = static_cast<size_t>(array->elementSize);
    std::vector<unsigned char> added(at(array, array->upperBound), at(array, array->upperBound) + size);
    std::memmove(at(array, index + 1), at(array, index), static_cast<size_t>(array->upperBound - index) * size);
    std::memcpy(at(array, index), added.data(), size);
    return MOK;
}

MResult ADK_DArrayRemoveAt(ADK_DArray array, MInt64 index, MInt64 count)
{
    if (array == nullptr || !validIndex(array, index) || count <= 0 || count > countOf(array) - index)
        return MERR_INVALID_PARAM;
    const int64_t tail = countOf(array) - index - count;
    if (tail > 0)
        std::memmove(at(array, index), at(array, index + count), static_cast<size_t>(tail * array->elementSize));
    array->upperBound -= count;
    return MOK;
}

MResult ADK_DArrayMoveElement(ADK_DArray array, MInt64 from, MInt64 to, MBool* pMoved)
{
    if (array == nullptr || !validIndex(array, from) || !validIndex(array, to) || from == to)
        return MERR_INVALID_PARAM;
    const size_t size = static_cast<size_t>(array->elementSize);
    void* temp = MMemAlloc(array->memContext, size);
    if (temp == nullptr)
        return MERR_NO_MEMORY;
    std::memcpy(temp, at(array, from), size);
    if (from < to)
        std::memmove(at(array, from), at(array, from + 1), static_cast<size_t>(to - from) * size);
    else
        std::memmove(at(array, to + 1), at(array, to), static_cast<size_t>(from - to) * size);
    std::memcpy(at(array, to), temp, size);
    MMemFree(array->memContext, temp);
    if (pMoved != nullptr)
        *pMoved = MTrue;
    return MOK;
}

MResult ADK_DArraySwapElement(ADK_DArray array, MInt64 first, MInt64 second, MBool* pSwapped)
{
    if (array == nullptr || !validIndex(array, first) || !validIndex(array, second) || first == second)
        return MERR_INVALID_PARAM;
    const size_t size = static_cast<size_t>(array->elementSize);
    void* temp = MMemAlloc(array->memContext, size);
    if (temp == nullptr)
        return MERR_NO_MEMORY;
    std::memcpy(temp, at(array, first), size);
    std::memcpy(at(array, first), at(array, second), size);
    std::memcpy(at(array, second), temp, size);
    MMemFree(array->memContext, temp);
    if (pSwapped != nullptr)
        *pSwapped = MTrue;
    return MOK;
}

MResult ADK_DArrayGetAt(ADK_DArray array, MInt64 index, MVoid** ppElement)
{
    if (ppElement == nullptr)
        return MERR_INVALID_PARAM;
    *ppElement = nullptr;
    if (array == nullptr)
        return MERR_INVALID_PARAM;
    if (validIndex(array, index))
        *ppElement = at(array, index);
    return MOK;
}

MResult ADK_DArraySetAt(ADK_DArray array, MInt64 index, const MVoid* pElement)
{
    if (array == nullptr || pElement == nullptr)
        return MERR_INVALID_PARAM;
    if (validIndex(array, index))
        std::memcpy(at(array, index), pElement, static_cast<size_t>(array->elementSize));
    return MOK;
}

MResult ADK_DArrayIsValidIndex(ADK_DArray array, MInt64 index, MBool* pValid)
{
    if (array == nullptr || pValid == nullptr)
        return MERR_INVALID_PARAM;
    *pValid = validIndex(array, index) ? MTrue : MFalse;
    return MOK;
}

MResult ADK_DArrayGetBuffer(ADK_DArray array, MVoid** ppBuffer)
{
    if (array == nullptr || ppBuffer == nullptr)
        return MERR_INVALID_PARAM;
    *ppBuffer = array->buffer;
    return MOK;
}

MResult ADK_DArrayGetCount(ADK_DArray array, MInt64* pCount)
{
    if (array == nullptr || pCount == nullptr)
        return MERR_INVALID_PARAM;
    *pCount = countOf(array);
    return MOK;
}

MResult ADK_DArrayGetUpperBound(ADK_DArray array, MInt64* pUpperBound)
{
    if (array == nullptr || pUpperBound == nullptr)
        return MERR_INVALID_PARAM;
    *pUpperBound = array->upperBound;
    return MOK;
}

// Reports the last element whose bytes equal the given element, or -1.
MResult ADK_DArrayFind(ADK_DArray array, const MVoid* pElement, MInt64* pIndex)
{
    if (array == nullptr || pElement == nullptr || pIndex == nullptr)
        return MERR_INVALID_PARAM;
    *pIndex = -1;
    for (int64_t i = array->upperBound; i >= 0; --i) {
        if (std::memcmp(at(array, i), pElement, static_cast<size_t>(array->elementSize)) == 0) {
            *pIndex = i;
            break;
        }
    }
    return MOK;
}

} // extern "C"

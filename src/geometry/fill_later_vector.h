// An allocator that default-initialises where a vector would value-
// initialise: resizing a vector of plain structs does not zero it first.
// The mesh arrays and the indexes' leaf arrays (tens to hundreds of
// megabytes) are sized and then filled by parallel loops; zeroing them
// beforehand would be one more serial pass over the memory, and on a fresh
// page the first write is the costly one. Large blocks get the huge page
// hint before that first write.
#pragma once

#include <cstddef>
#include <memory>
#include <new>
#include <utility>
#include <vector>

#include "geometry/huge_pages.h"

template <class T>
struct DefaultInitAllocator : std::allocator<T> {
    template <class U>
    struct rebind {
        using other = DefaultInitAllocator<U>;
    };

    DefaultInitAllocator() = default;
    template <class U>
    DefaultInitAllocator(const DefaultInitAllocator<U>&) noexcept
    {
    }

    T* allocate(std::size_t n)
    {
        T* p = std::allocator<T>::allocate(n);
        adviseHugePages(p, n * sizeof(T));
        return p;
    }

    template <class U>
    void construct(U* p)
    {
        ::new (static_cast<void*>(p)) U;
    }
    template <class U, class... Args>
    void construct(U* p, Args&&... args)
    {
        ::new (static_cast<void*>(p)) U(std::forward<Args>(args)...);
    }
};

// A vector whose resize leaves new elements of a plain struct unwritten.
template <class T>
using FillLaterVector = std::vector<T, DefaultInitAllocator<T>>;


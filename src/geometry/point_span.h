// A read-only view of an array of points, whichever vector holds them: the
// mesh's own vertices or a caller's std::vector.
#pragma once

#include <cstddef>

#include "geometry/vector3.h"

class PointSpan {
public:
    PointSpan(const Vector3* data, std::size_t size) : data_(data), size_(size) {}
    // Any contiguous container of Vector3 (std::vector, FillLaterVector).
    template <class Container>
    PointSpan(const Container& points) : data_(points.data()), size_(points.size())
    {
    }

    std::size_t size() const { return size_; }
    bool empty() const { return size_ == 0; }
    const Vector3* data() const { return data_; }
    const Vector3& operator[](std::size_t i) const { return data_[i]; }
    const Vector3* begin() const { return data_; }
    const Vector3* end() const { return data_ + size_; }

private:
    const Vector3* data_;
    std::size_t size_;
};

#pragma once

#include "image/VipsInclude.h"

#include <utility>

namespace snipjar {

// Owns one reference to a VipsImage and drops it when it goes out of scope, so that every early
// return in the image code releases what it made.
class VipsImageHandle {
public:
    VipsImageHandle() = default;
    explicit VipsImageHandle(VipsImage* image)
        : m_image(image) {}
    ~VipsImageHandle() { reset(); }

    VipsImageHandle(const VipsImageHandle&) = delete;
    VipsImageHandle& operator=(const VipsImageHandle&) = delete;
    VipsImageHandle(VipsImageHandle&& other) noexcept
        : m_image(std::exchange(other.m_image, nullptr)) {}
    VipsImageHandle& operator=(VipsImageHandle&& other) noexcept {
        if (this != &other) {
            reset(std::exchange(other.m_image, nullptr));
        }
        return *this;
    }

    VipsImage* get() const { return m_image; }
    explicit operator bool() const { return m_image != nullptr; }

    // The slot a vips operation writes its output image into; any image held before is released.
    VipsImage** out() {
        reset();
        return &m_image;
    }

    void reset(VipsImage* image = nullptr) {
        if (m_image) {
            g_object_unref(m_image);
        }
        m_image = image;
    }

private:
    VipsImage* m_image = nullptr;
};

} // namespace snipjar

#pragma once
// Storage for image-sized buffers (the decoded image, colour planes, the
// developed picture). A fresh buffer of tens of megabytes costs one page
// fault per 4 KiB page when it is first written, which on some machines
// takes longer than the pixel work itself. Blocks from 4 MiB up are
// therefore aligned to 2 MiB and offered to the kernel for transparent huge
// pages: one fault per 2 MiB. Where the kernel declines, they are ordinary
// pages and nothing else changes.
#include <sys/mman.h>

#include <cstddef>
#include <cstdlib>
#include <limits>
#include <new>
#include <vector>

namespace ostel::core {

inline constexpr size_t kHugePageBytes = size_t(2) << 20;
inline constexpr size_t kLargeBlockBytes = size_t(4) << 20;

template <class T>
struct LargeBufferAllocator {
    using value_type = T;

    LargeBufferAllocator() noexcept = default;
    template <class U>
    LargeBufferAllocator(const LargeBufferAllocator<U>&) noexcept {}

    T* allocate(size_t n) {
        // Room for the byte count and its rounding up to a whole huge page.
        if (n > (std::numeric_limits<size_t>::max() - kHugePageBytes) / sizeof(T)) throw std::bad_alloc();
        const size_t bytes = n * sizeof(T);
        void* p = nullptr;
        if (bytes >= kLargeBlockBytes) {
            const size_t rounded = (bytes + kHugePageBytes - 1) / kHugePageBytes * kHugePageBytes;
            p = std::aligned_alloc(kHugePageBytes, rounded);
#ifdef MADV_HUGEPAGE
            if (p) ::madvise(p, rounded, MADV_HUGEPAGE);
#endif
        } else {
            p = std::malloc(bytes ? bytes : 1);
        }
        if (!p) throw std::bad_alloc();
        return static_cast<T*>(p);
    }
    void deallocate(T* p, size_t) noexcept { std::free(p); }
};

template <class T, class U>
bool operator==(const LargeBufferAllocator<T>&, const LargeBufferAllocator<U>&) noexcept {
    return true;
}
template <class T, class U>
bool operator!=(const LargeBufferAllocator<T>&, const LargeBufferAllocator<U>&) noexcept {
    return false;
}

// A vector whose storage comes from LargeBufferAllocator.
template <class T>
using LargeBuffer = std::vector<T, LargeBufferAllocator<T>>;

}  // namespace ostel::core

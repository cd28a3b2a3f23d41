#include "util/Prefault.h"

#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>

#ifndef MADV_POPULATE_WRITE
#define MADV_POPULATE_WRITE 23 // Linux 5.14; older kernels refuse it harmlessly
#endif

void PrefaultBuffer(void* data, size_t size)
{
    constexpr size_t kWorthIt = 256 * 1024;
    if (size < kWorthIt)
        return;
    static const auto page = std::uintptr_t(::sysconf(_SC_PAGESIZE));
    const auto start = reinterpret_cast<std::uintptr_t>(data);
    const std::uintptr_t first = (start + page - 1) & ~(page - 1);
    const std::uintptr_t last = (start + size) & ~(page - 1);
    if (last <= first)
        return;
    void* const at = reinterpret_cast<void*>(first);
    const size_t length = last - first;
#ifdef MADV_HUGEPAGE
    ::madvise(at, length, MADV_HUGEPAGE);
#endif
    ::madvise(at, length, MADV_POPULATE_WRITE);
}

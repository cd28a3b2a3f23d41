#include "results/GumboArena.h"

#include <gumbo.h>

#include <algorithm>

GumboArena::~GumboArena()
{
    std::vector<Block>& spare = spareBlocks();
    for (Block& b : m_blocks) {
        if (b.size == kBlock && spare.size() < kSpareBlocks)
            spare.push_back(std::move(b));
    }
}

void GumboArena::install(GumboInternalOptions& options)
{
    options.allocator = &GumboArena::allocate;
    options.deallocator = &GumboArena::deallocate;
    options.userdata = this;
}

void* GumboArena::allocate(void* self, size_t size)
{
    return static_cast<GumboArena*>(self)->take(size);
}

void GumboArena::deallocate(void* self, void* p)
{
    static_cast<GumboArena*>(self)->giveBack(p);
}

std::vector<GumboArena::Block>& GumboArena::spareBlocks()
{
    thread_local std::vector<Block> spare;
    return spare;
}

void* GumboArena::take(size_t size)
{
    size = (size + 15) & ~size_t(15);
    if (size > m_left) {
        std::vector<Block>& spare = spareBlocks();
        if (size <= kBlock && !spare.empty()) {
            m_blocks.push_back(std::move(spare.back()));
            spare.pop_back();
        } else {
            const size_t bytes = std::max(size, kBlock);
            m_blocks.push_back(Block{std::unique_ptr<char[]>(new char[bytes]), bytes});
        }
        m_top = m_blocks.back().data.get();
        m_left = m_blocks.back().size;
    }
    char* p = m_top;
    m_last = p;
    m_top += size;
    m_left -= size;
    return p;
}

// Only the latest allocation goes back (gumbo frees growing buffers right
// after their replacement); everything else waits for the arena's end.
void GumboArena::giveBack(void* p)
{
    if (p && p == m_last) {
        m_left += size_t(m_top - m_last);
        m_top = m_last;
        m_last = nullptr;
    }
}

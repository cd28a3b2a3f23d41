#pragma once

#include <cstddef>
#include <memory>
#include <vector>

struct GumboInternalOptions;

// All memory of one gumbo parse comes from here and goes at once, so the tree
// is never torn down node by node: gumbo's own clean-up recurses once per
// nesting level and overflows the stack on a page nested a few hundred
// thousand elements deep. A few blocks are kept for the next parse of the
// thread, as faulting in fresh memory costs a third of the parse itself.
class GumboArena
{
public:
    GumboArena() = default;
    GumboArena(const GumboArena&) = delete;
    GumboArena& operator=(const GumboArena&) = delete;
    ~GumboArena();

    // Points the allocator of `options` at this arena.
    void install(GumboInternalOptions& options);

private:
    static void* allocate(void* self, size_t size);
    static void deallocate(void* self, void* p);
    void* take(size_t size);
    void giveBack(void* p);

    struct Block
    {
        std::unique_ptr<char[]> data;
        size_t size;
    };
    static std::vector<Block>& spareBlocks();

    static constexpr size_t kBlock = size_t(1) << 20;
    static constexpr size_t kSpareBlocks = 24; // enough for a page of about 2 MB
    std::vector<Block> m_blocks;
    char* m_top = nullptr;
    char* m_last = nullptr;
    size_t m_left = 0;
};

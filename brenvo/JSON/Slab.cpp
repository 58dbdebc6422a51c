#include "brenvo/JSON/detail/Slab.h"

#include <algorithm>

namespace brenvo::detail {

void releaseChunk(SlabChunk* chunk) noexcept {
#if defined(BRENVO_SLAB_ASAN)
    // Hand the whole chunk back unpoisoned, as it was allocated.
    ASAN_UNPOISON_MEMORY_REGION(chunk, chunk->bytes);
#endif
    chunk->~SlabChunk();
    ::operator delete(static_cast<void*>(chunk));
}

void* allocateBlock(std::size_t bytes) {
    // The header keeps the payload 8-aligned: operator new aligns to 16, the header is 8 or 16.
    auto* header = static_cast<BlockHeader*>(::operator new(sizeof(BlockHeader) + bytes));
    header->chunk = nullptr;
#if defined(BRENVO_SLAB_ASAN)
    header->bytes = bytes;
#endif
    return header + 1;
}

SlabArena::~SlabArena() {
    settle();
    retire();
}

void SlabArena::begin(std::size_t inputBytes) noexcept {
    settle();
    nextChunk_ = std::clamp<std::size_t>(roundUp8(inputBytes) * 2, kMinChunk, kMaxChunk);
    // Only the arena's hold left: no block of the chunk lives on any thread (acquire pairs with
    // the frees' release), so its space can be handed out again.
    if (chunk_ && chunk_->live.load(std::memory_order_acquire) == kArenaHold)
        next_ = reinterpret_cast<char*>(chunk_ + 1);
}

void SlabArena::retire() noexcept {
    if (!chunk_)
        return;
    // The chunk goes once its blocks are gone; if none lives, that is now.
    if (chunk_->live.fetch_sub(kArenaHold, std::memory_order_acq_rel) == kArenaHold)
        releaseChunk(chunk_);
    chunk_ = nullptr;
    next_ = end_ = nullptr;
}

void* SlabArena::allocateSlow(std::size_t bytes) {
    // Blocks above an eighth of a chunk come from the heap, so a block that does not fit in a
    // chunk's tail leaves at most an eighth of the chunk unused.
    if (bytes > nextChunk_ / 8)
        return allocateBlock(bytes);
    settle();
    retire();
    // A new chunk; its blocks are counted in settle(), the arena's hold keeps it until retire().
    const std::size_t size = nextChunk_;
    nextChunk_ = std::min(nextChunk_ * 2, kMaxChunk);
    void* memory = ::operator new(size);
    chunk_ = new (memory) SlabChunk{{kArenaHold}, size};
    next_ = reinterpret_cast<char*>(chunk_ + 1);
    end_ = static_cast<char*>(memory) + size;
#if defined(BRENVO_SLAB_ASAN)
    ASAN_POISON_MEMORY_REGION(next_, static_cast<std::size_t>(end_ - next_));
#endif
    // An eighth of the chunk plus a header fits in it, so this cannot recurse.
    return allocate(bytes);
}

} // namespace brenvo::detail

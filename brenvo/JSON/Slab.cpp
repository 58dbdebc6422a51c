#include "brenvo/JSON/detail/Slab.h"

#include <algorithm>
#include <cstdint>

#if defined(__linux__)
#include <sys/mman.h>
#endif

namespace brenvo::detail {

namespace {

// Chunks of this size and more start on a large-page boundary, so that the system can back all
// of them with large pages rather than only the large pages that happen to lie inside.
constexpr std::size_t kLargePage = std::size_t{2} * 1024 * 1024;

void* newChunkMemory(std::size_t bytes) {
    if (bytes < kLargePage)
        return ::operator new(bytes);
    void* memory = ::operator new (bytes, std::align_val_t{kLargePage});
    adviseLargePages(memory, bytes);
    return memory;
}

void deleteChunkMemory(void* memory, std::size_t bytes) noexcept {
    if (bytes < kLargePage)
        ::operator delete(memory);
    else
        ::operator delete (memory, std::align_val_t{kLargePage});
}

} // namespace

void releaseChunk(SlabChunk* chunk) noexcept {
    const std::size_t bytes = chunk->bytes;
#if defined(BRENVO_SLAB_ASAN)
    // Hand the whole chunk back unpoisoned, as it was allocated.
    ASAN_UNPOISON_MEMORY_REGION(chunk, bytes);
#endif
    chunk->~SlabChunk();
    deleteChunkMemory(chunk, bytes);
}

void adviseLargePages([[maybe_unused]] void* memory, [[maybe_unused]] std::size_t bytes) noexcept {
#if defined(__linux__) && defined(MADV_HUGEPAGE)
    constexpr std::size_t kPage = 4096;
    auto* const first = static_cast<char*>(memory);
    const std::size_t skip = (kPage - reinterpret_cast<std::uintptr_t>(first) % kPage) % kPage;
    if (bytes <= skip)
        return;
    const std::size_t length = (bytes - skip) & ~(kPage - 1);
    // Advice only: a refusal (a kernel without large pages) leaves ordinary pages.
    if (length != 0)
        ::madvise(first + skip, length, MADV_HUGEPAGE);
#endif
}

void releaseDocument(DocumentBlocks* document) noexcept {
    for (const DocumentBlocks::Run& run : document->runs) {
#if defined(BRENVO_SLAB_ASAN)
        ASAN_POISON_MEMORY_REGION(run.first, static_cast<std::size_t>(run.end - run.first));
#endif
        if (run.chunk->live.fetch_sub(run.blocks, std::memory_order_acq_rel) == run.blocks)
            releaseChunk(run.chunk);
    }
    for (void* block : document->heapBlocks)
        ::operator delete(static_cast<BlockHeader*>(block) - 1);
    delete document;
}

void leaveDocument(void* block) noexcept {
    if (DocumentBlocks* document = documentOf(block)) {
        (static_cast<BlockHeader*>(block) - 1)->chunk = document->rootChunk;
        delete document;
    }
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
    if (chunk_)
        letGo(chunk_);
    for (SlabChunk* chunk : filled_)
        letGo(chunk);
    for (SlabChunk* chunk : spare_)
        letGo(chunk);
}

namespace {

// Whether none of the chunk's blocks lives any more (acquire pairs with the frees' release, so
// every other thread's use of them is done).
bool onlyHeld(const SlabChunk* chunk) noexcept {
    return chunk->live.load(std::memory_order_acquire) == kArenaHold;
}

} // namespace

void SlabArena::begin(std::size_t inputBytes) {
    settle();
    nextChunk_ = std::clamp<std::size_t>(roundUp8(inputBytes) * 2, kMinChunk, kMaxChunk);
    maxChunk_ = std::clamp<std::size_t>(roundUp8(inputBytes / 8), kMaxChunk, kMaxLargeChunk);
    // Room first, so that sorting the chunks below cannot fail half-way.
    spare_.reserve(spare_.size() + filled_.size());
    for (SlabChunk* chunk : filled_) {
        if (onlyHeld(chunk))
            spare_.push_back(chunk);
        else
            letGo(chunk);
    }
    filled_.clear();
    if (chunk_ && onlyHeld(chunk_))
        use(chunk_);
    document_.reset();
    runStart_ = next_;
    byValues_ = false;
}

void SlabArena::settleRun() {
    if (taken_ == 0)
        return;
    if (!byValues_) {
        if (!document_)
            document_ = std::make_unique<DocumentBlocks>();
        std::vector<DocumentBlocks::Run>& runs = document_->runs;
        if (!runs.empty() && runs.back().chunk == chunk_) {
            runs.back().blocks += taken_;
            runs.back().end = next_;
        } else {
            runs.push_back({chunk_, taken_, runStart_, next_});
        }
        runStart_ = next_;
    }
    settle();
}

void SlabArena::finish(void* root) {
    // A document within one chunk is cheap to take apart value by value; it gets no note.
    if (byValues_ || !document_ || !root) {
        document_.reset();
        return;
    }
    settleRun();
    auto* header = static_cast<BlockHeader*>(root) - 1;
    document_->rootChunk = header->chunk;
    // Notes are 8-aligned, so the low bit tells a note from a chunk.
    header->chunk = reinterpret_cast<SlabChunk*>(reinterpret_cast<char*>(document_.get()) + 1);
    static_cast<void>(document_.release());
}

void SlabArena::use(SlabChunk* chunk) noexcept {
    chunk_ = chunk;
    next_ = runStart_ = reinterpret_cast<char*>(chunk + 1);
    end_ = reinterpret_cast<char*>(chunk) + chunk->bytes;
}

void SlabArena::letGo(SlabChunk* chunk) noexcept {
    heldBytes_ -= chunk->bytes;
    if (chunk->live.fetch_sub(kArenaHold, std::memory_order_acq_rel) == kArenaHold)
        releaseChunk(chunk);
}

void* SlabArena::allocateSlow(std::size_t bytes) {
    // Blocks above an eighth of a chunk come from the heap, so a block that does not fit in a
    // chunk's tail leaves at most an eighth of the chunk unused.
    if (bytes > nextChunk_ / 8) {
        if (byValues_)
            return allocateBlock(bytes);
        if (!document_)
            document_ = std::make_unique<DocumentBlocks>();
        std::vector<void*>& heapBlocks = document_->heapBlocks;
        heapBlocks.reserve(heapBlocks.size() + 1);
        heapBlocks.push_back(allocateBlock(bytes));
        return heapBlocks.back();
    }
    settleRun();
    if (chunk_) {
        // Kept for the next document while the arena holds less than kKeptBytes.
        if (heldBytes_ <= kKeptBytes)
            filled_.push_back(chunk_);
        else
            letGo(chunk_);
        chunk_ = nullptr;
        next_ = end_ = nullptr;
    }
    const std::size_t size = nextChunk_;
    nextChunk_ = std::min(nextChunk_ * 2, maxChunk_);
    // A spare chunk if one is large enough for the block, otherwise a new one; either is held
    // (kArenaHold) until let go.
    const std::size_t need = sizeof(SlabChunk) + sizeof(BlockHeader) + roundUp8(bytes);
    while (!spare_.empty()) {
        SlabChunk* chunk = spare_.back();
        spare_.pop_back();
        if (chunk->bytes >= need) {
            use(chunk);
            return allocate(bytes);
        }
        letGo(chunk);
    }
    void* memory = newChunkMemory(size);
    SlabChunk* chunk = new (memory) SlabChunk{{kArenaHold}, size};
    heldBytes_ += size;
    use(chunk);
#if defined(BRENVO_SLAB_ASAN)
    ASAN_POISON_MEMORY_REGION(next_, static_cast<std::size_t>(end_ - next_));
#endif
    // An eighth of the chunk plus a header fits in it, so this cannot recurse.
    return allocate(bytes);
}

} // namespace brenvo::detail

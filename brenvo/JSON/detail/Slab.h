// Blocks for the storage of strings, arrays and objects, and the slabs a parser takes them from.
//
// Every block starts with a small header naming its source: the general heap, or a slab chunk.
// A parser takes the blocks of the document it builds from chunks it owns (SlabArena) by
// bumping a pointer, so reading a document makes no allocator call per string or container,
// and destroying it costs one atomic decrement per run of blocks from one chunk. Everything else
// (values built by host code, copies, storage grown or replaced after the parse) uses the general
// heap; a slab block that must grow moves to a heap block.
//
// Each chunk counts its live blocks. It goes back to the heap when that count reaches zero and
// its arena has let go of it, on whichever thread frees the last block: values may be destroyed
// on another thread than the one that parsed them.
//
// Chunk sizes: a parse starts with a chunk of about twice its input (at least 1 KiB) and doubles
// up to 64 KiB, or, for inputs above 512 KiB, up to an eighth of the input (at most 4 MiB), so a
// document of many megabytes lives in few chunks whose pages the system can back with large
// pages, instead of in thousands of fresh 64 KiB pieces.
//
// Bound: space freed inside a chunk is not reused while any other block of that chunk lives
// (an arena only starts a chunk afresh once all its blocks are gone). So a value kept from a
// parsed document keeps alive each chunk one of its blocks lies in: per kept string, array or
// object at most 64 KiB or an eighth of the input it was read from (4 MiB at most), and never
// more than the chunks of the document it came from.
//
// Releasing a parsed document whole: when a parse fills more than one chunk, the arena notes,
// per chunk, how many blocks the document took from it, and the heap blocks it took. The root
// container's block header then points to that note (DocumentBlocks, tagged in the header's
// low bit) instead of to its chunk. As long as nobody reached into the document for writing,
// destroying its root gives every chunk its count back at once, without visiting a value. The
// first mutable access to the root container (JsonValue::asArray or asObject) drops the note,
// and from then on the document is taken apart value by value as before. Documents that hold
// anything else to free (a number kept as text) or that dropped values while being read
// (duplicate keys) get no note.
//
// Reuse: an arena holds on to the chunks of its last document, up to SlabArena::kKeptBytes in
// all. When the next parse begins, those whose blocks are all gone are filled again, so a parser
// that reads one document after another works in memory it already touched instead of fresh
// pages; the others are let go and freed with their last block. The held chunks go with the
// arena (its parser).
//
// Under AddressSanitizer the free space of a chunk and every freed slab block are poisoned, so
// use after free and overflows are still reported; chunks come from operator new, so
// LeakSanitizer still sees a leaked document as leaked chunks.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <new>
#include <vector>

#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define BRENVO_SLAB_ASAN 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__) && !defined(BRENVO_SLAB_ASAN)
#define BRENVO_SLAB_ASAN 1
#endif
#if defined(BRENVO_SLAB_ASAN)
#include <sanitizer/asan_interface.h>
#endif

namespace brenvo::detail {

// The head of a chunk; its blocks follow it.
struct SlabChunk {
    // Live blocks, plus kArenaHold while an arena still allocates from the chunk.
    std::atomic<uint64_t> live;
    std::size_t bytes; // the whole chunk, this head included
};
static_assert(sizeof(SlabChunk) % 8 == 0);

// What precedes every block: its chunk, or nullptr for a heap block.
struct BlockHeader {
    SlabChunk* chunk;
#if defined(BRENVO_SLAB_ASAN)
    std::size_t bytes; // the rounded payload size, to poison the block when it is freed
#endif
};
static_assert(sizeof(BlockHeader) % 8 == 0);

// Far above any count of blocks a chunk can hold, so the arena's hold never reaches zero early
// while blocks of the parse in progress are counted only when it settles.
constexpr uint64_t kArenaHold = uint64_t(1) << 48;

inline std::size_t roundUp8(std::size_t n) noexcept {
    return (n + 7) & ~std::size_t(7);
}

// Asks the system to back the whole pages of [memory, memory + bytes) with large pages where
// it can: for fresh memory about to be written at once, whose first touch then faults once per
// large page instead of once per page. Changes nothing else; does nothing where unsupported.
void adviseLargePages(void* memory, std::size_t bytes) noexcept;

// Returns a chunk whose blocks are all gone to the heap.
void releaseChunk(SlabChunk* chunk) noexcept;

// A heap block of `bytes` bytes (8-aligned); throws std::bad_alloc when memory runs out.
void* allocateBlock(std::size_t bytes);

// What a parsed document took: for each chunk the blocks it holds there (and where, to poison
// them under ASan), and its heap blocks. The chunk its root block lies in is kept here while
// the root's header points to this note.
struct DocumentBlocks {
    struct Run {
        SlabChunk* chunk;
        uint64_t blocks;
        char* first;
        char* end;
    };
    std::vector<Run> runs;
    std::vector<void*> heapBlocks;
    SlabChunk* rootChunk = nullptr;
};

// The note of the document whose root container owns `block`, or nullptr.
inline DocumentBlocks* documentOf(const void* block) noexcept {
    auto* tagged = reinterpret_cast<char*>((static_cast<const BlockHeader*>(block) - 1)->chunk);
    if ((reinterpret_cast<std::uintptr_t>(tagged) & 1) == 0)
        return nullptr;
    return reinterpret_cast<DocumentBlocks*>(tagged - 1);
}

// Frees everything the noted document took (its root included) and the note.
void releaseDocument(DocumentBlocks* document) noexcept;

// Drops the note of the document whose root container owns `block`, if it has one: the
// document is released value by value from now on.
void leaveDocument(void* block) noexcept;

// Gives a heap block back at once and returns nullptr; for a slab block, marks it dead (poisons
// it under ASan) and returns its chunk, whose count the caller then takes down.
inline SlabChunk* retireBlock(void* block) noexcept {
    BlockHeader* header = static_cast<BlockHeader*>(block) - 1;
    SlabChunk* chunk = header->chunk;
    if (!chunk) {
        ::operator delete(header);
        return nullptr;
    }
#if defined(BRENVO_SLAB_ASAN)
    ASAN_POISON_MEMORY_REGION(header, sizeof(BlockHeader) + header->bytes);
#endif
    return chunk;
}

// Frees a block from either source.
inline void freeBlock(void* block) noexcept {
    SlabChunk* chunk = retireBlock(block);
    // acq_rel: whoever takes the count to zero sees every other thread's use of the chunk done.
    if (chunk && chunk->live.fetch_sub(1, std::memory_order_acq_rel) == 1)
        releaseChunk(chunk);
}

// Frees the blocks of a whole tree: consecutive slab blocks of one chunk (a document is taken
// apart roughly in the order it was built) are counted off with one atomic update.
class BlockBatch {
public:
    BlockBatch() = default;
    BlockBatch(const BlockBatch&) = delete;
    BlockBatch& operator=(const BlockBatch&) = delete;
    ~BlockBatch() { flush(); }

    void free(void* block) noexcept {
        SlabChunk* chunk = retireBlock(block);
        if (!chunk)
            return;
        // Counting a dead block late only keeps its chunk a little longer: the count stays
        // above zero, and above the arena's hold, until flush().
        if (chunk != chunk_) {
            flush();
            chunk_ = chunk;
        }
        ++pending_;
    }
    void flush() noexcept {
        if (pending_ != 0 &&
            chunk_->live.fetch_sub(pending_, std::memory_order_acq_rel) == pending_)
            releaseChunk(chunk_);
        pending_ = 0;
        chunk_ = nullptr;
    }

private:
    SlabChunk* chunk_ = nullptr;
    uint64_t pending_ = 0;
};

// The chunks one parser fills. Not thread-safe itself; the blocks it hands out may be freed on
// any thread. Blocks taken since the last settle() are counted in the chunk only then, so
// allocating needs no atomic operation: settle() before the blocks can reach another thread.
class SlabArena {
public:
    // Chunk sizes: the first one of a parse is about twice the input, within these bounds, and
    // each following one doubles up to kMaxChunk, or up to an eighth of a larger input within
    // kMaxLargeChunk.
    static constexpr std::size_t kMinChunk = 1024;
    static constexpr std::size_t kMaxChunk = std::size_t{64} * 1024;
    static constexpr std::size_t kMaxLargeChunk = std::size_t{4} * 1024 * 1024;
    // The most chunk bytes an arena holds for reuse by its next document.
    static constexpr std::size_t kKeptBytes = std::size_t{8} * 1024 * 1024;

    SlabArena() = default;
    SlabArena(const SlabArena&) = delete;
    SlabArena& operator=(const SlabArena&) = delete;
    ~SlabArena();

    // Starts a document read from about `inputBytes` bytes of text.
    void begin(std::size_t inputBytes);
    // Ends the document begun last, whose root container owns `root` (nullptr for any other
    // root): notes what it took in the root's header where it can be released whole.
    void finish(void* root);
    // The document being read will be taken apart value by value: it holds memory of its own
    // outside the arena, or a value was dropped before the parse ended.
    void releaseByValues() noexcept { byValues_ = true; }
    // Counts the blocks taken since the last call in their chunk.
    void settle() noexcept {
        if (taken_ != 0) {
            // Relaxed: the blocks reach other threads only through the caller's own
            // synchronisation, which orders this update before their frees.
            chunk_->live.fetch_add(taken_, std::memory_order_relaxed);
            taken_ = 0;
        }
    }

    // A block of `bytes` bytes, 8-aligned.
    void* allocate(std::size_t bytes) {
        const std::size_t need = sizeof(BlockHeader) + roundUp8(bytes);
        if (need > static_cast<std::size_t>(end_ - next_))
            return allocateSlow(bytes);
        auto* header = reinterpret_cast<BlockHeader*>(next_);
        next_ += need;
        ++taken_;
#if defined(BRENVO_SLAB_ASAN)
        ASAN_UNPOISON_MEMORY_REGION(header, sizeof(BlockHeader) + bytes);
        header->bytes = roundUp8(bytes);
#endif
        header->chunk = chunk_;
        return header + 1;
    }

private:
    void* allocateSlow(std::size_t bytes);
    // Notes the blocks taken from the current chunk since the last call and counts them there.
    void settleRun();
    // Makes `chunk` the one blocks come from, starting at its beginning.
    void use(SlabChunk* chunk) noexcept;
    // Gives up the arena's hold on `chunk`: it is freed with its last block.
    void letGo(SlabChunk* chunk) noexcept;

    SlabChunk* chunk_ = nullptr;
    char* next_ = nullptr;
    char* end_ = nullptr;
    uint64_t taken_ = 0;
    std::size_t nextChunk_ = kMinChunk;
    std::size_t maxChunk_ = kMaxChunk; // for the document in progress
    // Chunks of this document filled before the current one, still held for reuse.
    std::vector<SlabChunk*> filled_;
    // Held chunks none of whose blocks lives, to be filled again.
    std::vector<SlabChunk*> spare_;
    // The bytes of every chunk held: current, filled and spare.
    std::size_t heldBytes_ = 0;
    // What the document being read took so far, once it needs more than one chunk.
    std::unique_ptr<DocumentBlocks> document_;
    char* runStart_ = nullptr; // its first block in the current chunk
    bool byValues_ = false;
};

} // namespace brenvo::detail

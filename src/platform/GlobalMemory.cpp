#include "platform/GlobalMemory.h"

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <new>
#include <vector>

namespace {

struct Block
{
    std::unique_ptr<std::uint8_t[]> bytes;
    std::size_t size = 0;
    unsigned locks = 0;
};

struct Table
{
    std::mutex mutex;
    std::map<std::uintptr_t, Block> blocks;
    std::uintptr_t nextHandle = 0x1000;
};

Table& table()
{
    static Table t;
    return t;
}

Block* find(Table& t, HGLOBAL h)
{
    auto it = t.blocks.find(reinterpret_cast<std::uintptr_t>(h));
    return it == t.blocks.end() ? nullptr : &it->second;
}

} // namespace

HGLOBAL GlobalAlloc(UINT, std::size_t dwBytes)
{
    Block block;
    if (dwBytes > 0) {
        block.bytes.reset(new (std::nothrow) std::uint8_t[dwBytes]());
        if (!block.bytes) {
            return nullptr;
        }
    }
    block.size = dwBytes;
    Table& t = table();
    std::lock_guard lock(t.mutex);
    // Handles are never reused, so a stale handle cannot reach a new block.
    const std::uintptr_t handle = t.nextHandle;
    t.nextHandle += 16;
    t.blocks.emplace(handle, std::move(block));
    return reinterpret_cast<HGLOBAL>(handle);
}

void* GlobalLock(HGLOBAL hMem)
{
    Table& t = table();
    std::lock_guard lock(t.mutex);
    Block* block = find(t, hMem);
    if (block == nullptr || block->size == 0) {
        return nullptr;
    }
    ++block->locks;
    return block->bytes.get();
}

BOOL GlobalUnlock(HGLOBAL hMem)
{
    Table& t = table();
    std::lock_guard lock(t.mutex);
    Block* block = find(t, hMem);
    if (block == nullptr || block->locks == 0) {
        return FALSE;
    }
    --block->locks;
    return block->locks > 0 ? TRUE : FALSE;
}

std::size_t GlobalSize(HGLOBAL hMem)
{
    Table& t = table();
    std::lock_guard lock(t.mutex);
    const Block* block = find(t, hMem);
    return block == nullptr ? 0 : block->size;
}

HGLOBAL GlobalFree(HGLOBAL hMem)
{
    Table& t = table();
    std::lock_guard lock(t.mutex);
    return t.blocks.erase(reinterpret_cast<std::uintptr_t>(hMem)) == 1 ? nullptr : hMem;
}

std::size_t GlobalBlockCount()
{
    Table& t = table();
    std::lock_guard lock(t.mutex);
    return t.blocks.size();
}

#include "dragdrop/DragDropPIDL.h"

#include "platform/Shell.h"

#include <cstring>

namespace {

TClipboardFormat* createPidlFormat()
{
    return new TPIDLClipboardFormat;
}

std::uint32_t readWord32(const std::uint8_t* p)
{
    return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8)
        | (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

void writeWord32(std::string& out, std::uint32_t value)
{
    for (int i = 0; i < 4; ++i) {
        out.push_back(static_cast<char>((value >> (8 * i)) & 0xFF));
    }
}

std::uint16_t readCount(const std::uint8_t* p)
{
    return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}

} // namespace

std::size_t ItemListSize(const void* List)
{
    if (List == nullptr) {
        return 0;
    }
    const auto* p = static_cast<const std::uint8_t*>(List);
    std::size_t size = 2;
    for (std::uint16_t cb = readCount(p); cb != 0; cb = readCount(p)) {
        size += cb;
        p += cb;
    }
    return size;
}

std::optional<std::size_t> ItemListSize(const void* List, std::size_t Available)
{
    if (List == nullptr) {
        return 0;
    }
    const auto* p = static_cast<const std::uint8_t*>(List);
    std::size_t offset = 0;
    while (true) {
        if (Available - offset < 2) {
            return std::nullopt;
        }
        const std::uint16_t cb = readCount(p + offset);
        if (cb == 0) {
            return offset + 2;
        }
        if (cb < 2 || cb > Available - offset) {
            return std::nullopt;
        }
        offset += cb;
    }
}

TItemIdList JoinItemLists(const TItemIdList& Parent, const TItemIdList& Child)
{
    TItemIdList joined;
    if (Parent.size() > 2) {
        joined.assign(Parent, 0, Parent.size() - 2);
    }
    joined += Child;
    return joined;
}

int TPIDLsToFilenamesStrings::Count() const
{
    return m_itemLists.size() < 2 ? 0 : static_cast<int>(m_itemLists.size() - 1);
}

std::string TPIDLsToFilenamesStrings::Get(int Index) const
{
    if (Index < 0 || Index >= Count()) {
        throw DragDropError("Filename index out of range");
    }
    const TItemIdList joined = JoinItemLists(m_itemLists[0], m_itemLists[static_cast<std::size_t>(Index) + 1]);
    char path[MAX_PATH + 1] = {};
    if (!SHGetPathFromIDListA(AsItemIdList(joined), path)) {
        return {};
    }
    return std::string(path, strnlen(path, sizeof path));
}

const TClass& TPIDLClipboardFormat::StaticClass()
{
    static const TClass c{"TPIDLClipboardFormat", &TCustomSimpleClipboardFormat::StaticClass(), &createPidlFormat};
    return c;
}

bool TPIDLClipboardFormat::ReadData(const void* Buffer, int Size)
{
    ItemLists.clear();
    if (Size < 4) {
        return false;
    }
    const auto* block = static_cast<const std::uint8_t*>(Buffer);
    const auto size = static_cast<std::size_t>(Size);
    const std::uint64_t count = readWord32(block);
    // The table of count + 1 offsets must itself lie in the block.
    if (count * 8 + 4 > size || (count + 1) * 4 + 4 > size) {
        return false;
    }
    std::vector<TItemIdList> lists;
    for (std::uint64_t k = 0; k <= count; ++k) {
        const std::uint32_t offset = readWord32(block + 4 + 4 * k);
        if (offset >= size) {
            return false;
        }
        const std::optional<std::size_t> listSize = ItemListSize(block + offset, size - offset);
        if (!listSize) {
            return false;
        }
        lists.emplace_back(reinterpret_cast<const char*>(block + offset), *listSize);
    }
    ItemLists = std::move(lists);
    return ItemLists.size() > 1;
}

bool TPIDLClipboardFormat::WriteData(void* Buffer, int Size)
{
    const std::string block = MakeCidaBlock(ItemLists);
    if (Size != static_cast<int>(block.size())) {
        return false;
    }
    std::memcpy(Buffer, block.data(), block.size());
    return true;
}

int TPIDLClipboardFormat::DataSize()
{
    return ItemLists.empty() ? 0 : static_cast<int>(MakeCidaBlock(ItemLists).size());
}

std::string MakeCidaBlock(const std::vector<TItemIdList>& ItemLists)
{
    if (ItemLists.empty()) {
        return {};
    }
    const auto count = static_cast<std::uint32_t>(ItemLists.size() - 1);
    std::string block;
    writeWord32(block, count);
    std::uint32_t offset = 4 * (count + 1) + 4;
    for (const TItemIdList& list : ItemLists) {
        writeWord32(block, offset);
        offset += static_cast<std::uint32_t>(list.size());
    }
    for (const TItemIdList& list : ItemLists) {
        block += list;
    }
    return block;
}

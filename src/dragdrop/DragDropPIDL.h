#pragma once

// Shell item-ID lists: the "Shell IDList Array" clipboard format (a CIDA
// block: count n, n + 1 offsets, then the lists) and its view as file-system
// paths.

#include "dragdrop/DragDropFormats.h"

#include <optional>
#include <string>
#include <vector>

// An item-ID list held as its bytes, terminator included.
using TItemIdList = std::string;

// Size of a well-formed item-ID list including its 2-byte terminator; 0 for
// none.
std::size_t ItemListSize(const void* List);

// Bounds-checked size of the list at List when Available bytes are readable
// there: nullopt when an item's count is under 2 or the list (terminator
// included) runs past Available.
std::optional<std::size_t> ItemListSize(const void* List, std::size_t Available);

// The parent's bytes without its terminator (nothing when it is 2 bytes or
// shorter), then all of the child's bytes: the item's absolute list.
TItemIdList JoinItemLists(const TItemIdList& Parent, const TItemIdList& Child);

// The items of a list of item-ID lists (entry 0 the parent folder, entries
// 1 ... n the items) as file-system paths, computed when asked. Read-only:
// the changing operations do nothing.
class TPIDLsToFilenamesStrings
{
public:
    explicit TPIDLsToFilenamesStrings(const std::vector<TItemIdList>& ItemLists) : m_itemLists(ItemLists) {}

    // 0 with fewer than two lists, otherwise the number of items.
    int Count() const;
    // The path of item Index through SHGetPathFromIDListA, empty for an item
    // without one; "Filename index out of range" outside 0 ... Count - 1.
    std::string Get(int Index) const;
    std::string operator[](int Index) const { return Get(Index); }

    void Put(int, const std::string&) {}
    void PutObject(int, void*) {}
    void Insert(int, const std::string&) {}
    void Delete(int) {}
    void Clear() {}

private:
    const std::vector<TItemIdList>& m_itemLists;
};

class TPIDLClipboardFormat : public TCustomSimpleClipboardFormat
{
public:
    TPIDLClipboardFormat() { CreateFormat(SimpleMedia); }
    static const TClass& StaticClass();
    const TClass& ClassType() const override { return StaticClass(); }

    std::vector<TItemIdList> ItemLists;
    TPIDLsToFilenamesStrings Paths{ItemLists};

    CLIPFORMAT GetClipboardFormat() override { return RegisteredFormat("Shell IDList Array"); }
    // Accepts a block only when its count, offsets and every list lie inside
    // it, and it holds the parent and at least one item.
    bool ReadData(const void* Buffer, int Size) override;
    // The count, the offsets, then the lists back to back.
    bool WriteData(void* Buffer, int Size) override;
    int DataSize() override;
    void Clear() override { ItemLists.clear(); }
    bool HasData() override { return !ItemLists.empty(); }
};

// The CIDA block of a parent list and item lists (for sources and tests).
std::string MakeCidaBlock(const std::vector<TItemIdList>& ItemLists);

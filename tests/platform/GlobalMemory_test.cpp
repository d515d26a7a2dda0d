// Global memory handles and the release of storage media.

#include "platform/GlobalMemory.h"
#include "platform/Ole.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

TEST(GlobalMemory, BlocksLiveUntilFreedAndStaleHandlesAreRefused)
{
    const std::size_t before = GlobalBlockCount();
    HGLOBAL h = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, 6);
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(GlobalSize(h), 6u);
    auto* p = static_cast<char*>(GlobalLock(h));
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(std::memcmp(p, "\0\0\0\0\0\0", 6), 0);
    EXPECT_EQ(GlobalUnlock(h), FALSE);
    EXPECT_EQ(GlobalFree(h), nullptr);
    EXPECT_EQ(GlobalBlockCount(), before);

    EXPECT_EQ(GlobalLock(h), nullptr);
    EXPECT_EQ(GlobalSize(h), 0u);
    EXPECT_EQ(GlobalFree(h), h);
    HGLOBAL empty = GlobalAlloc(GMEM_MOVEABLE, 0);
    EXPECT_EQ(GlobalLock(empty), nullptr);
    GlobalFree(empty);
}

class CountingUnknown final : public IUnknown
{
public:
    HRESULT QueryInterface(REFIID, void**) override { return E_NOINTERFACE; }
    ULONG AddRef() override { return ++refs; }
    ULONG Release() override { return --refs; }
    ULONG refs = 1;
};

TEST(ReleaseStgMedium, FreesWhatTheMediumOwnsOrReleasesItsOwner)
{
    const std::size_t before = GlobalBlockCount();
    STGMEDIUM owned;
    owned.tymed = TYMED_HGLOBAL;
    owned.hGlobal = GlobalAlloc(GMEM_MOVEABLE, 4);
    ReleaseStgMedium(&owned);
    EXPECT_EQ(GlobalBlockCount(), before);
    EXPECT_EQ(owned.tymed, static_cast<DWORD>(TYMED_NULL));

    CountingUnknown owner;
    STGMEDIUM borrowed;
    borrowed.tymed = TYMED_HGLOBAL;
    borrowed.hGlobal = GlobalAlloc(GMEM_MOVEABLE, 4);
    borrowed.pUnkForRelease = &owner;
    HGLOBAL keep = borrowed.hGlobal;
    ReleaseStgMedium(&borrowed);
    EXPECT_EQ(owner.refs, 0u);
    EXPECT_EQ(GlobalSize(keep), 4u);
    GlobalFree(keep);
}

} // namespace

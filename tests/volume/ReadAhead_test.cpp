#include "volume/Kelvox_DataMgr.h"
#include "volume/ReadAhead.h"

#include "support/ReadObservers.h"
#include "support/TempDir.h"
#include "support/VectorImage.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <future>
#include <stdexcept>
#include <thread>
#include <utility>
#include <vector>

namespace
{

// Records each read's place, size and thread.
class ListedReads final : public InstalledReadObserver
{
public:
    void beforeRead(std::int64_t position, std::size_t count) override
    {
        reads.emplace_back(position, count);
        onOtherThread += std::this_thread::get_id() != thread;
    }
    std::vector<std::pair<std::int64_t, std::size_t>> reads;
    int onOtherThread = 0;

private:
    std::thread::id thread = std::this_thread::get_id();
};

TEST(ReadAhead, ReadsInOrderOnTheRenderingThreadAndASupersededRenderStops)
{
    // Two and a half large pieces of Float-32 after a 100-byte header; the
    // file ends 12 bytes into the third.
    const std::size_t slice = 5 * ReadAheadPieceBytes / 2;
    const std::size_t side = 1024;
    const std::size_t rows = slice / (4 * side);
    const std::size_t fileData = 2 * ReadAheadPieceBytes + 12;
    TempDir dir;
    const std::string path = dir.write("ahead.raw", std::vector<std::uint8_t>(100 + fileData, 0));
    TKelvoxDataMgr mgr;
    mgr.OpenFile(path);
    mgr.SetParams(side, static_cast<std::int32_t>(rows), 1, vdtFloat32, boLittleEndian, 0, 1);
    mgr.HeaderBytes = 100;
    for (const auto& [from, piece] :
         {std::pair{ReadAheadSliceBytes, ReadPieceBytes}, std::pair{std::size_t{0}, ReadAheadPieceBytes}}) {
        mgr.ReadAheadFrom = from;
        VectorImage image;
        ListedReads listed;
        mgr.RenderView(0, 0, vkSlice, image);
        EXPECT_EQ(listed.onOtherThread, 0);
        EXPECT_EQ(mgr.ViewCounts[vkSlice], static_cast<std::int32_t>(fileData / 4));
        // Piece after piece, up to the one the file ends in.
        std::vector<std::pair<std::int64_t, std::size_t>> expected;
        for (std::size_t at = 0; at <= fileData; at += piece)
            expected.emplace_back(100 + at, std::min(piece, slice - at));
        EXPECT_EQ(listed.reads, expected) << from;
    }

    // Superseded before the third read: two reads, nothing shown, and the
    // next render is whole.
    ListedReads listed;
    int asked = 0;
    mgr.Superseded = [&] { return ++asked > 2; };
    VectorImage image;
    EXPECT_THROW(mgr.RenderView(0, 0, vkSlice, image), RenderSuperseded);
    EXPECT_EQ(listed.reads.size(), 2u);
    EXPECT_EQ(mgr.ViewCounts[vkSlice], 0);
    mgr.Superseded = nullptr;
    mgr.RenderView(0, 0, vkSlice, image);
    EXPECT_EQ(mgr.ViewCounts[vkSlice], static_cast<std::int32_t>(fileData / 4));
}

TEST(ReadAhead, RunsElsewhereHandsBackCountsAndErrorsAndIsWaitedFor)
{
    ReadAhead ahead;
    // The read runs while this thread waits for it to start.
    std::promise<std::thread::id> started;
    std::promise<void> release;
    ahead.start([&] {
        started.set_value(std::this_thread::get_id());
        release.get_future().wait();
        return std::size_t{42};
    });
    EXPECT_NE(started.get_future().get(), std::this_thread::get_id());
    release.set_value();
    EXPECT_EQ(ahead.finish(), 42u);

    ahead.start([]() -> std::size_t { throw std::runtime_error("the zlib data is cut short"); });
    EXPECT_THROW(ahead.finish(), std::runtime_error);
    EXPECT_THROW(ahead.finish(), std::logic_error);

    // A guard's scope ends only after the running read.
    std::atomic<bool> ended{false};
    {
        const ReadAhead::Guard guard(ahead);
        ahead.start([&] {
            std::this_thread::sleep_for(std::chrono::milliseconds(30));
            ended = true;
            return std::size_t{1};
        });
        EXPECT_THROW(ahead.start([] { return std::size_t{0}; }), std::logic_error);
    }
    EXPECT_TRUE(ended);
    ahead.start([] { return std::size_t{7}; });
    EXPECT_EQ(ahead.finish(), 7u);
}

} // namespace

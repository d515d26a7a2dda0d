// The drop target against scripted data objects and fake windows: effects,
// result codes, the drop's events and clean-up, registration following the
// control's window, auto-scroll and the trace line.

#include "dragdrop/DragDropFile.h"
#include "dragdrop/DropTarget.h"
#include "platform/DebugOutput.h"

#include "ScriptedDataObject.h"

#include <gtest/gtest.h>

namespace {

using Names = std::vector<std::string>;

// --- effect rules ----------------------------------------------------------------

struct EffectCase
{
    DWORD keys;
    DWORD offered;
    DWORD all;      // with Dragtypes copy, move and link
    DWORD program;  // with the program's Dragtypes [dtCopy]
};

class EffectRules : public ::testing::TestWithParam<EffectCase>
{
};

TEST_P(EffectRules, FollowKeysAllowedEffectsAndDragTypes)
{
    const EffectCase& c = GetParam();
    const TShiftState shift = KeysToShift(c.keys);
    EXPECT_EQ(ShiftToEffect(shift, c.offered & 7, true), c.all);
    EXPECT_EQ(ShiftToEffect(shift, c.offered & 1, true), c.program);
}

constexpr DWORD All = 7;
constexpr DWORD SC = MK_SHIFT | MK_CONTROL;

INSTANTIATE_TEST_SUITE_P(
    Keys, EffectRules,
    ::testing::Values(EffectCase{0, All, DROPEFFECT_MOVE, DROPEFFECT_COPY},
                      EffectCase{MK_SHIFT, All, DROPEFFECT_MOVE, DROPEFFECT_COPY},
                      EffectCase{MK_CONTROL, All, DROPEFFECT_COPY, DROPEFFECT_COPY},
                      EffectCase{SC, All, DROPEFFECT_LINK, DROPEFFECT_COPY},
                      EffectCase{MK_ALT | MK_LBUTTON, All, DROPEFFECT_MOVE, DROPEFFECT_COPY},
                      EffectCase{SC, DROPEFFECT_COPY | DROPEFFECT_MOVE, DROPEFFECT_COPY, DROPEFFECT_COPY},
                      EffectCase{MK_CONTROL, DROPEFFECT_MOVE | DROPEFFECT_LINK, DROPEFFECT_MOVE, 0},
                      EffectCase{0, DROPEFFECT_LINK, DROPEFFECT_LINK, 0},
                      EffectCase{0, DROPEFFECT_MOVE, DROPEFFECT_MOVE, 0},
                      EffectCase{MK_CONTROL, 0, 0, 0}));

TEST(KeyState, MapsEveryKeyAndRefusesMoreThanSixteenBits)
{
    const TShiftState all = KeysToShift(MK_SHIFT | MK_CONTROL | MK_ALT | MK_LBUTTON | MK_RBUTTON | MK_MBUTTON | 0x40);
    EXPECT_EQ(all.bits(), 0x3Fu);
    EXPECT_EQ(KeysToShift(MK_ALT), (TShiftState{ShiftKey::Alt}));
    EXPECT_THROW(KeysToShift(0x10000), std::range_error);
}

// --- the component ----------------------------------------------------------------

class DropTargetTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        OleInitialize(nullptr);
        form = windows.add(1, {nullptr, {100, 100}, 400, 300});
        strip = windows.add(2, {form, {110, 110}, 100, 40});
        target = std::make_unique<TDropFileTarget>(nullptr);
        target->Dragtypes = TDragTypes{TDragType::dtCopy};
        target->SetTarget(strip);
        windows.underCursor = strip;
        target->OnDrop = [this](TComponent*, TShiftState, POINT p, DWORD& effect) {
            dropped = target->DroppedFiles();
            dropPoint = p;
            dropEffect = effect;
            ++drops;
            if (handlerEffect) {
                effect = *handlerEffect;
            }
        };
    }

    void TearDown() override
    {
        target.reset();
        OleUninitialize();
    }

    static ComPtr<ScriptedDataObject> files(Names names)
    {
        std::string list;
        for (const std::string& n : names) {
            list += n;
            list.push_back('\0');
        }
        return ScriptedDataObject::make({{CF_HDROP, dropFiles(list + std::string(1, '\0'), false)}});
    }

    FakeWindowServices windows;
    HWND form = nullptr;
    HWND strip = nullptr;
    std::unique_ptr<TDropFileTarget> target;
    Names dropped;
    POINT dropPoint{-1, -1};
    DWORD dropEffect = 99;
    int drops = 0;
    std::optional<DWORD> handlerEffect;
    const POINTL inside{130, 125};
};

TEST_F(DropTargetTest, DropOfFilesOpensTheirNamesAndReportsCopy)
{
    auto source = files({"/v/a.raw", "/v/b.raw"});
    DWORD effect = DROPEFFECT_COPY | DROPEFFECT_MOVE | DROPEFFECT_LINK;
    ASSERT_EQ(target->DragEnter(source.get(), MK_LBUTTON, inside, &effect), S_OK);
    EXPECT_EQ(effect, DROPEFFECT_COPY);
    EXPECT_EQ(target->CurrentTarget(), strip);
    effect = 7;
    EXPECT_EQ(target->DragOver(MK_LBUTTON | MK_SHIFT, inside, &effect), S_OK);
    EXPECT_EQ(effect, DROPEFFECT_COPY);
    effect = 7;
    EXPECT_EQ(target->Drop(source.get(), 0, inside, &effect), S_OK);

    EXPECT_EQ(effect, DROPEFFECT_COPY);
    EXPECT_EQ(dropped, (Names{"/v/a.raw", "/v/b.raw"}));
    EXPECT_EQ(dropPoint, (POINT{20, 15}));
    ASSERT_EQ(source->written.size(), 1u);
    EXPECT_EQ(source->written[0].format, formatNamed("Performed DropEffect"));
    EXPECT_EQ(source->written[0].bytes, le32(DROPEFFECT_COPY));
    // Everything of the drop is gone afterwards.
    EXPECT_TRUE(target->DroppedFiles().empty());
    EXPECT_EQ(target->DataObject(), nullptr);
    EXPECT_EQ(target->CurrentTarget(), nullptr);
    EXPECT_EQ(GlobalBlockCount(), 0u);
}

TEST_F(DropTargetTest, UnusableDragIsRejectedWithItsResultCodes)
{
    auto source = ScriptedDataObject::make({{formatNamed("Some Text"), "hello"}});
    bool entered = false;
    target->OnEnter = [&](TComponent*, TShiftState, POINT, DWORD&) { entered = true; };
    DWORD effect = DROPEFFECT_COPY;
    EXPECT_EQ(target->DragEnter(source.get(), 0, inside, &effect), S_OK);
    EXPECT_EQ(effect, DROPEFFECT_NONE);
    EXPECT_FALSE(entered);
    effect = DROPEFFECT_COPY;
    EXPECT_EQ(target->DragOver(0, inside, &effect), DV_E_CLIPFORMAT);
    EXPECT_EQ(effect, DROPEFFECT_NONE);
    effect = DROPEFFECT_COPY;
    EXPECT_EQ(target->Drop(source.get(), 0, inside, &effect), E_UNEXPECTED);
    EXPECT_EQ(effect, DROPEFFECT_NONE);
    EXPECT_EQ(drops, 0);
}

TEST_F(DropTargetTest, DragOverWithoutTargetIsUnexpected)
{
    DWORD effect = DROPEFFECT_COPY;
    EXPECT_EQ(target->DragOver(0, inside, &effect), E_UNEXPECTED);
    EXPECT_EQ(effect, DROPEFFECT_NONE);
}

TEST_F(DropTargetTest, SourceAllowingOnlyMoveShowsNoneYetDropRaisesOnDrop)
{
    auto source = files({"/v/a.raw"});
    DWORD effect = DROPEFFECT_MOVE;
    EXPECT_EQ(target->DragEnter(source.get(), 0, inside, &effect), S_OK);
    EXPECT_EQ(effect, DROPEFFECT_NONE);
    // The data object was released with the none effect: the drop is refused.
    effect = DROPEFFECT_MOVE;
    EXPECT_EQ(target->Drop(source.get(), 0, inside, &effect), E_UNEXPECTED);
    EXPECT_EQ(drops, 0);

    // Held by an OnEnter that keeps the drag going, a none effect still fetches
    // and raises OnDrop, with Effect none, and reports nothing.
    target->OnEnter = [](TComponent*, TShiftState, POINT, DWORD& e) { e = DROPEFFECT_COPY; };
    effect = DROPEFFECT_MOVE;
    EXPECT_EQ(target->DragEnter(source.get(), 0, inside, &effect), S_OK);
    effect = DROPEFFECT_MOVE;
    EXPECT_EQ(target->Drop(source.get(), 0, inside, &effect), S_OK);
    EXPECT_EQ(drops, 1);
    EXPECT_EQ(dropEffect, DROPEFFECT_NONE);
    EXPECT_EQ(dropped, Names{"/v/a.raw"});
    EXPECT_TRUE(source->written.empty());
}

class OptimizedMove : public DropTargetTest, public ::testing::WithParamInterface<bool>
{
};

TEST_P(OptimizedMove, DecidesWhatAMoveIsReportedAs)
{
    target->OptimizedMove = GetParam();
    handlerEffect = DROPEFFECT_MOVE;
    auto source = files({"/v/a.raw"});
    DWORD effect = DROPEFFECT_COPY;
    target->DragEnter(source.get(), 0, inside, &effect);
    effect = DROPEFFECT_COPY;
    EXPECT_EQ(target->Drop(source.get(), 0, inside, &effect), S_OK);
    const DWORD expected = GetParam() ? DROPEFFECT_COPY : DROPEFFECT_MOVE;
    EXPECT_EQ(effect, expected);
    ASSERT_EQ(source->written.size(), 1u);
    EXPECT_EQ(source->written[0].bytes, le32(expected));
}

INSTANTIATE_TEST_SUITE_P(OnOff, OptimizedMove, ::testing::Bool());

TEST_F(DropTargetTest, FailingFetchAtTheDropGivesNoneWithoutOnDrop)
{
    auto source = ScriptedDataObject::make(
        {{CF_HDROP, dropFiles("x", false), ScriptedDataObject::Medium::FailGet}});
    DWORD effect = DROPEFFECT_COPY;
    EXPECT_EQ(target->DragEnter(source.get(), 0, inside, &effect), S_OK);
    EXPECT_EQ(effect, DROPEFFECT_COPY);
    EXPECT_EQ(target->Drop(source.get(), 0, inside, &effect), S_OK);
    EXPECT_EQ(effect, DROPEFFECT_NONE);
    EXPECT_EQ(drops, 0);

    // Fetching at entry instead: the drag is refused at once.
    target->GetDataOnEnter = true;
    effect = DROPEFFECT_COPY;
    EXPECT_EQ(target->DragEnter(source.get(), 0, inside, &effect), DV_E_CLIPFORMAT);
    EXPECT_EQ(effect, DROPEFFECT_NONE);
    EXPECT_EQ(target->DataObject(), nullptr);
}

TEST_F(DropTargetTest, ErrorInOnDropBecomesTheFailureAfterCleanUp)
{
    target->OnDrop = [](TComponent*, TShiftState, POINT, DWORD&) { throw DragDropError("handler failed"); };
    auto source = files({"/v/a.raw"});
    DWORD effect = DROPEFFECT_COPY;
    target->DragEnter(source.get(), 0, inside, &effect);
    EXPECT_TRUE(FAILED(target->Drop(source.get(), 0, inside, &effect)));
    EXPECT_EQ(effect, DROPEFFECT_NONE);
    EXPECT_TRUE(target->DroppedFiles().empty());
    EXPECT_EQ(target->DataObject(), nullptr);
    EXPECT_EQ(target->CurrentTarget(), nullptr);

    // Too many key bits are a range error inside DragEnter: failure, effect none.
    effect = DROPEFFECT_COPY;
    EXPECT_TRUE(FAILED(target->DragEnter(source.get(), 0x10000, inside, &effect)));
    EXPECT_EQ(effect, DROPEFFECT_NONE);
}

TEST_F(DropTargetTest, DragWithoutTargetControlSwitchesImageAndScrollOffForThatDragOnly)
{
    windows.underCursor = form;
    auto source = files({"/v/a.raw"});
    DWORD effect = DROPEFFECT_COPY;
    target->DragEnter(source.get(), 0, inside, &effect);
    EXPECT_FALSE(target->ShowImage());
    EXPECT_FALSE(target->AutoScroll());
    target->DragLeave();
    EXPECT_TRUE(target->ShowImage());
    EXPECT_TRUE(target->AutoScroll());
}

TEST_F(DropTargetTest, RegistrationFollowsTheControlsWindow)
{
    ASSERT_EQ(windows.registered.count(strip), 1u);
    EXPECT_EQ(windows.registered[strip], static_cast<IDropTarget*>(target.get()));
    WindowProxyClient* proxy = windows.proxies.at(strip);

    proxy->windowDestroyed();
    EXPECT_EQ(windows.registered.count(strip), 0u);
    proxy->windowCreated();
    EXPECT_EQ(windows.registered.count(strip), 1u);

    target->DetachControl(strip);
    EXPECT_EQ(windows.registered.count(strip), 0u);
    EXPECT_EQ(windows.proxies.count(strip), 0u);
    EXPECT_EQ(target->Target(), nullptr);
}

TEST_F(DropTargetTest, DestroyedControlIsForgotten)
{
    windows.registered.erase(strip);  // its registration went with it
    windows.proxies.at(strip)->controlDestroyed();
    EXPECT_TRUE(target->RegisteredControls().empty());
    windows.underCursor = strip;
    auto source = files({"/v/a.raw"});
    DWORD effect = DROPEFFECT_COPY;
    target->DragEnter(source.get(), 0, inside, &effect);
    EXPECT_EQ(target->CurrentTarget(), nullptr);
    target->DragLeave();
}

TEST_F(DropTargetTest, MultiTargetKeepsDescendantsAfterTheirAncestors)
{
    const HWND other = windows.add(3, {nullptr, {0, 0}, 10, 10});
    target->MultiTarget = true;
    target->DetachControl(nullptr);
    target->AttachControl(form);
    target->AttachControl(other);
    target->AttachControl(strip);
    EXPECT_EQ(target->RegisteredControls(), (std::vector<HWND>{form, strip, other}));
    target->SetTarget(other);  // with MultiTarget, a new target replaces all
    EXPECT_EQ(target->RegisteredControls(), (std::vector<HWND>{other}));
}

TEST_F(DropTargetTest, CursorNearTheEdgeOfAScrollingTargetScrolls)
{
    windows.windows[strip].style = WS_VSCROLL;
    std::vector<TScrolDirections> ticks;
    auto source = files({"/v/a.raw"});
    DWORD effect = DROPEFFECT_COPY;
    const POINTL top{150, 112};  // client (40, 2): above the zone 10 ... 30
    target->DragEnter(source.get(), 0, top, &effect);
    EXPECT_EQ(target->NoScrollZone(), (RECT{0, 10, 100, 30}));
    EXPECT_EQ(effect, DROPEFFECT_COPY | DROPEFFECT_SCROLL);
    effect = DROPEFFECT_COPY;
    target->DragOver(0, top, &effect);
    ASSERT_EQ(windows.timers.size(), 1u);
    EXPECT_EQ(windows.timers.begin()->second.first, 50u);

    windows.tick();
    windows.tick();
    EXPECT_EQ(windows.calls.back(), "V0");
    EXPECT_EQ(std::count(windows.calls.begin(), windows.calls.end(), "V0"), 2);
    ASSERT_EQ(windows.timers.size(), 1u);

    // A handler that empties Scroll stops the timer until the next DragOver.
    target->OnScroll = [](TComponent*, POINT, TScrolDirections& scroll, int&) { scroll = {}; };
    windows.tick();
    EXPECT_TRUE(windows.timers.empty());
    EXPECT_EQ(std::count(windows.calls.begin(), windows.calls.end(), "V0"), 2);
    target->OnScroll = nullptr;

    // Exactly on the zone's bottom edge: the scroll flag, but no direction.
    const POINTL edge{150, 140};  // client (40, 30)
    effect = DROPEFFECT_COPY;
    target->DragOver(0, edge, &effect);
    EXPECT_EQ(effect, DROPEFFECT_COPY | DROPEFFECT_SCROLL);
    const auto before = windows.calls.size();
    windows.tick();
    EXPECT_EQ(windows.calls.size(), before);
    EXPECT_TRUE(windows.timers.empty());

    target->DragLeave();
}

TEST_F(DropTargetTest, EveryQueryWritesOneTraceLine)
{
    std::vector<std::string> lines;
    const DebugOutputSink previous = SetDebugOutputSink([&](std::string_view l) { lines.emplace_back(l); });
    void* p = nullptr;
    EXPECT_EQ(target->QueryInterface(IID_IDropTarget, &p), S_OK);
    EXPECT_EQ(p, static_cast<IDropTarget*>(target.get()));
    const IID unknown{0x12345678, 0x9ABC, 0xDEF0, {1, 2, 3, 4, 5, 6, 7, 8}};
    EXPECT_EQ(target->QueryInterface(unknown, &p), E_NOINTERFACE);
    EXPECT_EQ(p, nullptr);
    SetDebugOutputSink(previous);
    EXPECT_EQ(lines, (std::vector<std::string>{
                         "TDropFileTarget.QueryInterface(IDropTarget): 0 (1)",
                         "TDropFileTarget.QueryInterface({12345678-9ABC-DEF0-0102-030405060708}): -2147467262 (0)"}));
}

TEST_F(DropTargetTest, SettingsAtCreation)
{
    TDropFileTarget fresh(nullptr);
    EXPECT_EQ(fresh.Dragtypes, (TDragTypes{TDragType::dtCopy, TDragType::dtLink}));
    EXPECT_FALSE(fresh.GetDataOnEnter);
    EXPECT_TRUE(fresh.ShowImage());
    EXPECT_TRUE(fresh.AutoScroll());
    EXPECT_TRUE(fresh.OptimizedMove);
    EXPECT_FALSE(fresh.MultiTarget);
    EXPECT_FALSE(fresh.AllowAsyncTransfer);
    EXPECT_EQ(fresh.FormatList.Count(), 2);
    EXPECT_EQ(fresh.FormatList[0], fresh.FileFormat.get());
    EXPECT_EQ(fresh.FormatList[1], fresh.FileMapFormat.get());
}

} // namespace

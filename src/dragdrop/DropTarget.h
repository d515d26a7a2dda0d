#pragma once

// The drop target component: makes registered controls accept drags,
// computes the effect to show, and on the drop fetches the data through its
// data formats and raises OnDrop.

#include "dragdrop/DragDrop.h"
#include "platform/ComPtr.h"
#include "platform/Windowing.h"

#include <functional>
#include <memory>
#include <vector>

class TCustomDataFormat;
class TCustomDropTarget;

enum class TScrolDirection { Up, Down, Left, Right };
using TScrolDirections = TSet<TScrolDirection>;
enum class TScrollBar { Horizontal, Vertical };
using TScrollBars = TSet<TScrollBar>;

using TDropTargetEvent = std::function<void(TComponent* Sender, TShiftState ShiftState, POINT APoint, DWORD& Effect)>;
using TDropTargetScrollEvent =
    std::function<void(TComponent* Sender, POINT Point, TScrolDirections& Scroll, int& Interval)>;
using TNotifyEvent = std::function<void(TComponent* Sender)>;
using TDataFormatVetoEvent = std::function<void(TComponent* Sender, TCustomDataFormat* DataFormat, bool& Accept)>;

// The key state of a drag (16 bits at most; larger is a range error).
TShiftState KeysToShift(DWORD KeyState);
// One effect out of Allowed by the keys held (only Shift and Ctrl count).
DWORD ShiftToEffect(TShiftState Shift, DWORD Allowed, bool Fallback);

// Follows a registered control's native window: registers the component
// when the window is created, revokes it when the window goes away.
class TWinControlProxy final : public WindowProxyClient
{
public:
    TWinControlProxy(TCustomDropTarget& owner, HWND control);
    ~TWinControlProxy();
    TWinControlProxy(const TWinControlProxy&) = delete;
    TWinControlProxy& operator=(const TWinControlProxy&) = delete;

    HWND Control() const { return m_control; }

    void windowCreated() override;
    void windowDestroyed() override;
    void controlDestroyed() override;

private:
    TCustomDropTarget& m_owner;
    HWND m_control;
    HPROXY m_proxy = nullptr;
    bool m_registered = false;
};

class TCustomDropTarget : public TDragDropComponent, public IDropTarget
{
public:
    explicit TCustomDropTarget(TComponent* AOwner);
    ~TCustomDropTarget() override;

    // IUnknown through TInterfacedComponent, IDropTarget below.
    HRESULT QueryInterface(REFIID riid, void** ppv) override { return TInterfacedComponent::QueryInterface(riid, ppv); }
    ULONG AddRef() override { return TInterfacedComponent::AddRef(); }
    ULONG Release() override { return TInterfacedComponent::Release(); }

    HRESULT DragEnter(IDataObject* pDataObj, DWORD grfKeyState, POINTL pt, DWORD* pdwEffect) override;
    HRESULT DragOver(DWORD grfKeyState, POINTL pt, DWORD* pdwEffect) override;
    HRESULT DragLeave() override;
    HRESULT Drop(IDataObject* pDataObj, DWORD grfKeyState, POINTL pt, DWORD* pdwEffect) override;

    void AttachControl(HWND Control);
    void DetachControl(HWND Control);
    HWND Target() const;
    void SetTarget(HWND Value);
    const std::vector<HWND>& RegisteredControls() const { return m_registeredControls; }
    HWND CurrentTarget() const { return m_currentTarget; }

    bool ShowImage() const { return m_showImage; }
    void SetShowImage(bool Value);
    bool AutoScroll() const { return m_autoScroll; }
    void SetAutoScroll(bool Value) { m_autoScroll = Value; }
    IDataObject* DataObject() const { return m_dataObject.get(); }
    bool AsyncBusy() const { return m_asyncBusy; }
    POINT LastPoint() const { return m_lastPoint; }
    RECT NoScrollZone() const { return m_noScrollZone; }
    TScrollBars ScrollBarsPresent() const { return m_scrollBarsPresent; }
    bool ScrollTimerRunning() const { return m_scrollTimer != 0; }

    // Published properties.
    TDragTypes Dragtypes{TDragType::dtCopy, TDragType::dtLink};
    bool GetDataOnEnter = false;
    bool MultiTarget = false;
    bool OptimizedMove = false;
    bool AllowAsyncTransfer = false;

    TDropTargetEvent OnEnter;
    TDropTargetEvent OnDragOver;
    TDropTargetEvent OnDrop;
    TDropTargetEvent OnGetDropEffect;
    TNotifyEvent OnLeave;
    TDropTargetScrollEvent OnScroll;
    TNotifyEvent OnStartAsyncTransfer;
    TNotifyEvent OnEndAsyncTransfer;

    static constexpr int ScrollDelay = 50;
    static constexpr int ScrollInterval = 50;

    // Fetches from the clipboard's data object as if dropped.
    virtual DWORD TakeFromClipboard();

    // Virtual operations in slot order.
    virtual void FireEnter(TShiftState Shift, POINT Point, DWORD& Effect);
    virtual void FireDragOver(TShiftState Shift, POINT Point, DWORD& Effect);
    virtual void FireDrop(TShiftState Shift, POINT Point, DWORD& Effect);
    virtual void FireLeave();
    virtual void FirePaste(DWORD& Effect);
    virtual void FireScroll(POINT Point, TScrolDirections& Scroll, int& Interval);
    virtual bool FetchData(DWORD Effect);
    virtual bool FetchDataNow() = 0;
    virtual void ResetData() = 0;
    virtual DWORD EffectFor(TShiftState Shift, POINT Point, DWORD Effect);
    virtual DWORD PreferredEffect();
    virtual bool ReportPerformedEffect(DWORD Effect);
    virtual bool ReportPasteSucceeded(DWORD Effect);
    virtual HWND ControlAtPoint(POINT ScreenPoint);
    virtual bool OffersUsableFormat(IDataObject* ADataObject) = 0;

    // The auto-scroll step (the scroll timer's tick).
    void ScrollTimerTick();

protected:
    bool GetInterface(REFIID iid, void** ppv) override;

private:
    friend class TWinControlProxy;
    // The control went away: it is no longer registered (its proxy is dead).
    void ControlRemoved(HWND Control);
    void StartScrollTimer(int interval);
    void StopScrollTimer();
    POINT ClientToWindowPoint(POINT client) const;
    void EndDrag();

    ComPtr<IDataObject> m_dataObject;
    ComPtr<IDropTargetHelper> m_dragImageHelper;
    std::vector<HWND> m_registeredControls;
    std::vector<std::unique_ptr<TWinControlProxy>> m_proxies;
    HWND m_currentTarget = nullptr;
    HIMAGELIST m_blankCursorImages = nullptr;
    HIMAGELIST m_legacyDragImage = nullptr;
    POINT m_imageHotSpot;
    POINT m_lastPoint;
    TScrollBars m_scrollBarsPresent;
    UINT_PTR m_scrollTimer = 0;
    RECT m_noScrollZone;
    bool m_showImage = true;
    bool m_autoScroll = true;
    bool m_asyncBusy = false;
    // A drag without a target control turns image and scrolling off for that
    // drag only; these hold the values to put back.
    bool m_restoreAfterDrag = false;
    bool m_savedShowImage = true;
    bool m_savedAutoScroll = true;
};

class TCustomDropMultiTarget : public TCustomDropTarget
{
public:
    explicit TCustomDropMultiTarget(TComponent* AOwner);
    ~TCustomDropMultiTarget() override;

    TDataFormatVetoEvent OnFormatVeto;

    TDragDropRole Role() const override { return TDragDropRole::MultiTarget; }

    bool FetchDataNow() override;
    void ResetData() override;
    bool OffersUsableFormat(IDataObject* ADataObject) override;
    virtual void FireFormatVeto(TCustomDataFormat* DataFormat, bool& Accept);
};

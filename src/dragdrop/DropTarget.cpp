#include "dragdrop/DropTarget.h"

#include "dragdrop/DragDropFormats.h"
#include "platform/ImageList.h"
#include "platform/Ole.h"

#include <algorithm>
#include <stdexcept>

namespace {

// Failure result of an IDropTarget method that ended with an error.
HRESULT failureOf(const std::exception_ptr& error)
{
    try {
        std::rethrow_exception(error);
    } catch (const OleError& e) {
        return e.ErrorCode();
    } catch (...) {
        return E_UNEXPECTED;
    }
}

bool isDescendant(HWND control, HWND ancestor)
{
    for (HWND p = GetParent(control); p != nullptr; p = GetParent(p)) {
        if (p == ancestor) {
            return true;
        }
    }
    return false;
}

} // namespace

TShiftState KeysToShift(DWORD KeyState)
{
    if (KeyState > 0xFFFF) {
        throw std::range_error("Range check error");
    }
    TShiftState shift;
    if (KeyState & MK_SHIFT) {
        shift.include(ShiftKey::Shift);
    }
    if (KeyState & MK_CONTROL) {
        shift.include(ShiftKey::Ctrl);
    }
    if (KeyState & MK_ALT) {
        shift.include(ShiftKey::Alt);
    }
    if (KeyState & MK_LBUTTON) {
        shift.include(ShiftKey::LeftButton);
    }
    if (KeyState & MK_RBUTTON) {
        shift.include(ShiftKey::RightButton);
    }
    if (KeyState & MK_MBUTTON) {
        shift.include(ShiftKey::MiddleButton);
    }
    return shift;
}

DWORD ShiftToEffect(TShiftState Shift, DWORD Allowed, bool Fallback)
{
    const bool ctrl = Shift.contains(ShiftKey::Ctrl);
    const bool shiftKey = Shift.contains(ShiftKey::Shift);
    DWORD wanted = DROPEFFECT_MOVE;
    if (ctrl && shiftKey) {
        wanted = DROPEFFECT_LINK;
    } else if (ctrl) {
        wanted = DROPEFFECT_COPY;
    }
    DWORD effect = Allowed & wanted;
    if (effect == DROPEFFECT_NONE && Fallback) {
        for (const DWORD candidate : {DROPEFFECT_COPY, DROPEFFECT_MOVE, DROPEFFECT_LINK}) {
            if (Allowed & candidate) {
                return candidate;
            }
        }
    }
    return effect;
}

// --- TWinControlProxy --------------------------------------------------------------

TWinControlProxy::TWinControlProxy(TCustomDropTarget& owner, HWND control) : m_owner(owner), m_control(control)
{
    m_proxy = CreateWindowProxy(control, this);
}

TWinControlProxy::~TWinControlProxy()
{
    if (m_proxy != nullptr) {
        if (m_registered && IsWindow(m_control)) {
            RevokeDragDrop(m_control);
        }
        DestroyWindowProxy(m_proxy);
    }
}

void TWinControlProxy::windowCreated()
{
    if (m_registered) {
        return;
    }
    OleCheck(RegisterDragDrop(m_control, static_cast<IDropTarget*>(&m_owner)));
    m_registered = true;
}

void TWinControlProxy::windowDestroyed()
{
    if (m_registered && IsWindow(m_control)) {
        RevokeDragDrop(m_control);
    }
    m_registered = false;
}

void TWinControlProxy::controlDestroyed()
{
    m_proxy = nullptr;
    m_registered = false;
    m_owner.ControlRemoved(m_control);  // frees this proxy
}

// --- TCustomDropTarget -------------------------------------------------------------

TCustomDropTarget::TCustomDropTarget(TComponent* AOwner) : TDragDropComponent(AOwner)
{
    m_blankCursorImages = ImageList_Create(32, 32, 0, 1, 1);
}

TCustomDropTarget::~TCustomDropTarget()
{
    StopScrollTimer();
    m_dataObject.reset();
    m_dragImageHelper.reset();
    DetachControl(nullptr);
    ImageList_Destroy(m_blankCursorImages);
}

bool TCustomDropTarget::GetInterface(REFIID iid, void** ppv)
{
    if (iid == IID_IDropTarget) {
        *ppv = static_cast<IDropTarget*>(this);
        return true;
    }
    if (iid == IID_IUnknown) {
        *ppv = static_cast<TInterfacedComponent*>(this);
        return true;
    }
    return false;
}

void TCustomDropTarget::AttachControl(HWND Control)
{
    if (Control != nullptr
        && std::find(m_registeredControls.begin(), m_registeredControls.end(), Control) != m_registeredControls.end()) {
        return;
    }
    if (!MultiTarget && !Loading()) {
        DetachControl(nullptr);
    }
    if (Control == nullptr) {
        return;
    }
    auto position = m_registeredControls.end();
    for (auto it = m_registeredControls.rbegin(); it != m_registeredControls.rend(); ++it) {
        if (isDescendant(Control, *it)) {
            position = it.base();
            break;
        }
    }
    m_registeredControls.insert(position, Control);
    if (CurrentWindowServices().isRichEdit(Control)) {
        RevokeDragDrop(Control);
    }
    try {
        m_proxies.push_back(std::make_unique<TWinControlProxy>(*this, Control));
    } catch (...) {
        std::erase(m_registeredControls, Control);
        throw;
    }
}

void TCustomDropTarget::DetachControl(HWND Control)
{
    if (Control == nullptr) {
        while (!m_registeredControls.empty()) {
            DetachControl(m_registeredControls.back());
        }
        return;
    }
    const auto it = std::find(m_registeredControls.begin(), m_registeredControls.end(), Control);
    if (it == m_registeredControls.end()) {
        return;
    }
    if (m_currentTarget == Control) {
        m_currentTarget = nullptr;
    }
    m_registeredControls.erase(it);
    for (auto p = m_proxies.rbegin(); p != m_proxies.rend(); ++p) {
        if ((*p)->Control() == Control) {
            std::unique_ptr<TWinControlProxy> proxy = std::move(*p);
            m_proxies.erase(std::next(p).base());
            break;
        }
    }
}

void TCustomDropTarget::ControlRemoved(HWND Control)
{
    if (m_currentTarget == Control) {
        m_currentTarget = nullptr;
    }
    std::erase(m_registeredControls, Control);
    for (auto p = m_proxies.begin(); p != m_proxies.end(); ++p) {
        if ((*p)->Control() == Control) {
            m_proxies.erase(p);
            break;
        }
    }
}

HWND TCustomDropTarget::Target() const
{
    if (m_currentTarget != nullptr || Designing()) {
        return m_currentTarget;
    }
    return m_registeredControls.empty() ? nullptr : m_registeredControls.front();
}

void TCustomDropTarget::SetTarget(HWND Value)
{
    if (Value == m_currentTarget) {
        return;
    }
    if (Designing()) {
        m_currentTarget = Value;
        return;
    }
    if (MultiTarget && !Loading()) {
        DetachControl(nullptr);
    }
    AttachControl(Value);
}

void TCustomDropTarget::SetShowImage(bool Value)
{
    m_showImage = Value;
    if (m_dragImageHelper) {
        m_dragImageHelper->Show(Value ? TRUE : FALSE);
    } else if (m_dataObject) {
        ImageList_DragShowNolock(Value ? TRUE : FALSE);
    }
}

HWND TCustomDropTarget::ControlAtPoint(POINT ScreenPoint)
{
    for (HWND control = WindowFromPoint(ScreenPoint); control != nullptr; control = GetParent(control)) {
        if (std::find(m_registeredControls.begin(), m_registeredControls.end(), control)
            != m_registeredControls.end()) {
            return control;
        }
    }
    return nullptr;
}

POINT TCustomDropTarget::ClientToWindowPoint(POINT client) const
{
    POINT pt = client;
    ClientToScreen(m_currentTarget, &pt);
    RECT rc;
    GetWindowRect(m_currentTarget, &rc);
    return POINT{pt.x - rc.left, pt.y - rc.top};
}

DWORD TCustomDropTarget::EffectFor(TShiftState Shift, POINT Point, DWORD Effect)
{
    const DWORD allowed = Effect & DragTypesToEffect(Dragtypes);
    DWORD result = ShiftToEffect(Shift, allowed, true);
    if (m_autoScroll && !m_scrollBarsPresent.empty()) {
        if (PtInRect(m_noScrollZone, Point)) {
            result &= ~DROPEFFECT_SCROLL;
        } else {
            result |= DROPEFFECT_SCROLL;
        }
    }
    if (OnGetDropEffect) {
        OnGetDropEffect(this, Shift, Point, result);
    }
    return result;
}

HRESULT TCustomDropTarget::DragEnter(IDataObject* pDataObj, DWORD grfKeyState, POINTL pt, DWORD* pdwEffect)
{
    if (pdwEffect == nullptr) {
        return E_INVALIDARG;
    }
    try {
        if (m_restoreAfterDrag) {
            // A new drag: the last one may have ended without a leave or drop.
            EndDrag();
        }
        ResetData();
        m_dataObject = ComPtr<IDataObject>(pDataObj);
        HRESULT result = S_OK;
        m_currentTarget = ControlAtPoint(pt);
        POINT point = pt;
        if (m_currentTarget == nullptr) {
            m_savedShowImage = m_showImage;
            m_savedAutoScroll = m_autoScroll;
            m_restoreAfterDrag = true;
            SetShowImage(false);
            SetAutoScroll(false);
        } else {
            ScreenToClient(m_currentTarget, &point);
            m_lastPoint = point;
        }

        if (m_dataObject && OffersUsableFormat(m_dataObject.get())) {
            m_scrollBarsPresent = {};
            if (m_autoScroll && m_currentTarget != nullptr) {
                const LONG style = GetWindowLongA(m_currentTarget, GWL_STYLE);
                if (style & WS_HSCROLL) {
                    m_scrollBarsPresent.include(TScrollBar::Horizontal);
                }
                if (style & WS_VSCROLL) {
                    m_scrollBarsPresent.include(TScrollBar::Vertical);
                }
                if (!m_scrollBarsPresent.empty()) {
                    GetClientRect(m_currentTarget, &m_noScrollZone);
                    if (m_scrollBarsPresent.contains(TScrollBar::Vertical)) {
                        const int dy = GetSystemMetrics(SM_CYHSCROLL);
                        m_noScrollZone.top += dy;
                        m_noScrollZone.bottom -= dy;
                    }
                    if (m_scrollBarsPresent.contains(TScrollBar::Horizontal)) {
                        const int dx = GetSystemMetrics(SM_CXHSCROLL);
                        m_noScrollZone.left += dx;
                        m_noScrollZone.right -= dx;
                    }
                }
            }
            if (GetDataOnEnter && !FetchData(*pdwEffect)) {
                m_dataObject.reset();
                *pdwEffect = DROPEFFECT_NONE;
                return DV_E_CLIPFORMAT;
            }
            const TShiftState shift = KeysToShift(grfKeyState);
            *pdwEffect = EffectFor(shift, point, *pdwEffect);
            FireEnter(shift, point, *pdwEffect);
            if (*pdwEffect == DROPEFFECT_NONE) {
                m_dataObject.reset();
            }
        } else {
            m_dataObject.reset();
            *pdwEffect = DROPEFFECT_NONE;
        }

        if (m_showImage) {
            if (SUCCEEDED(CoCreateInstance(CLSID_DragDropHelper, nullptr, CLSCTX_INPROC_SERVER, IID_IDropTargetHelper,
                                           m_dragImageHelper.putVoid()))
                && m_dragImageHelper) {
                if (FAILED(m_dragImageHelper->DragEnter(m_currentTarget, pDataObj, &point, *pdwEffect))) {
                    m_dragImageHelper.reset();
                }
            } else {
                m_dragImageHelper.reset();
            }
            if (!m_dragImageHelper) {
                m_legacyDragImage = ImageList_GetDragImage(nullptr, &m_imageHotSpot);
                if (m_legacyDragImage != nullptr && m_currentTarget != nullptr) {
                    ImageList_SetDragCursorImage(m_blankCursorImages, 0, m_imageHotSpot.x, m_imageHotSpot.y);
                    const POINT w = ClientToWindowPoint(point);
                    ImageList_DragEnter(m_currentTarget, w.x, w.y);
                }
            }
        } else {
            m_legacyDragImage = nullptr;
        }
        return result;
    } catch (...) {
        const HRESULT hr = failureOf(std::current_exception());
        m_dataObject.reset();
        m_dragImageHelper.reset();
        *pdwEffect = DROPEFFECT_NONE;
        return hr;
    }
}

HRESULT TCustomDropTarget::DragOver(DWORD grfKeyState, POINTL pt, DWORD* pdwEffect)
{
    if (pdwEffect == nullptr) {
        return E_INVALIDARG;
    }
    try {
        if (m_currentTarget == nullptr) {
            *pdwEffect = DROPEFFECT_NONE;
            return E_UNEXPECTED;
        }
        POINT point = pt;
        ScreenToClient(m_currentTarget, &point);
        HRESULT result = S_OK;
        bool scrolling = false;
        if (m_dataObject) {
            const TShiftState shift = KeysToShift(grfKeyState);
            *pdwEffect = EffectFor(shift, point, *pdwEffect);
            FireDragOver(shift, point, *pdwEffect);
            scrolling = (*pdwEffect & DROPEFFECT_SCROLL) != 0;
            if (scrolling && m_scrollTimer == 0) {
                StartScrollTimer(ScrollDelay);
            }
        } else {
            *pdwEffect = DROPEFFECT_NONE;
            result = DV_E_CLIPFORMAT;
        }
        if (m_dragImageHelper) {
            OleCheck(m_dragImageHelper->DragOver(&point, *pdwEffect));
        } else if (m_legacyDragImage != nullptr && !scrolling && !(point == m_lastPoint)) {
            const POINT w = ClientToWindowPoint(point);
            ImageList_DragMove(w.x, w.y);
        }
        m_lastPoint = point;
        return result;
    } catch (...) {
        *pdwEffect = DROPEFFECT_NONE;
        return failureOf(std::current_exception());
    }
}

HRESULT TCustomDropTarget::DragLeave()
{
    HRESULT result = S_OK;
    try {
        ResetData();
        StopScrollTimer();
        m_dataObject.reset();
        if (m_dragImageHelper) {
            m_dragImageHelper->DragLeave();
        } else if (m_legacyDragImage != nullptr && m_currentTarget != nullptr) {
            ImageList_DragLeave(m_currentTarget);
        }
        FireLeave();
    } catch (...) {
        result = failureOf(std::current_exception());
    }
    m_currentTarget = nullptr;
    m_dragImageHelper.reset();
    m_dataObject.reset();
    EndDrag();
    return result;
}

HRESULT TCustomDropTarget::Drop(IDataObject* pDataObj, DWORD grfKeyState, POINTL pt, DWORD* pdwEffect)
{
    if (pdwEffect == nullptr) {
        return E_INVALIDARG;
    }
    HRESULT result = S_OK;
    try {
        StopScrollTimer();
        POINT point = pt;
        if (m_dataObject) {
            const TShiftState shift = KeysToShift(grfKeyState);
            if (m_currentTarget != nullptr) {
                ScreenToClient(m_currentTarget, &point);
            }
            *pdwEffect = EffectFor(shift, point, *pdwEffect);
            if (GetDataOnEnter || FetchData(*pdwEffect)) {
                FireDrop(shift, point, *pdwEffect);
            } else {
                *pdwEffect = DROPEFFECT_NONE;
            }
        } else {
            *pdwEffect = DROPEFFECT_NONE;
            result = E_UNEXPECTED;
        }
        if (m_dragImageHelper) {
            POINT screen = pt;
            m_dragImageHelper->Drop(pDataObj, &screen, *pdwEffect);
        } else if (m_legacyDragImage != nullptr && m_currentTarget != nullptr) {
            ImageList_DragLeave(m_currentTarget);
        }
    } catch (...) {
        result = failureOf(std::current_exception());
        *pdwEffect = DROPEFFECT_NONE;
    }
    try {
        ResetData();
    } catch (...) {
        if (SUCCEEDED(result)) {
            result = failureOf(std::current_exception());
        }
    }
    m_dataObject.reset();
    m_dragImageHelper.reset();
    m_currentTarget = nullptr;
    EndDrag();
    return result;
}

void TCustomDropTarget::EndDrag()
{
    if (m_restoreAfterDrag) {
        m_restoreAfterDrag = false;
        m_showImage = m_savedShowImage;
        m_autoScroll = m_savedAutoScroll;
    }
}

void TCustomDropTarget::FireEnter(TShiftState Shift, POINT Point, DWORD& Effect)
{
    if (OnEnter) {
        OnEnter(this, Shift, Point, Effect);
    }
}

void TCustomDropTarget::FireDragOver(TShiftState Shift, POINT Point, DWORD& Effect)
{
    if (OnDragOver) {
        OnDragOver(this, Shift, Point, Effect);
    }
}

void TCustomDropTarget::FireDrop(TShiftState Shift, POINT Point, DWORD& Effect)
{
    if (OnDrop) {
        OnDrop(this, Shift, Point, Effect);
    }
    if (Effect != DROPEFFECT_NONE) {
        if (OptimizedMove && Effect == DROPEFFECT_MOVE) {
            Effect = DROPEFFECT_COPY;
        }
        ReportPerformedEffect(Effect);
    }
}

void TCustomDropTarget::FireLeave()
{
    if (OnLeave) {
        OnLeave(this);
    }
}

void TCustomDropTarget::FirePaste(DWORD& Effect)
{
    FireDrop(TShiftState{}, POINT{0, 0}, Effect);
    if (Effect != DROPEFFECT_NONE) {
        ReportPasteSucceeded(Effect);
    }
}

void TCustomDropTarget::FireScroll(POINT Point, TScrolDirections& Scroll, int& Interval)
{
    if (OnScroll) {
        OnScroll(this, Point, Scroll, Interval);
    }
}

bool TCustomDropTarget::FetchData(DWORD)
{
    // The asynchronous transfer is not built: every fetch runs here, on the
    // window's thread, which is what the program does with AllowAsyncTransfer
    // off.
    return FetchDataNow();
}

DWORD TCustomDropTarget::PreferredEffect()
{
    TPreferredDropEffectClipboardFormat format;
    if (m_dataObject && format.GetData(m_dataObject.get())) {
        return format.DwordValue;
    }
    return DROPEFFECT_NONE;
}

bool TCustomDropTarget::ReportPerformedEffect(DWORD Effect)
{
    if (!m_dataObject) {
        return false;
    }
    TPerformedDropEffectClipboardFormat format;
    format.DwordValue = Effect;
    STGMEDIUM medium;
    return format.PutData(m_dataObject.get(), format.FormatEtc, medium);
}

bool TCustomDropTarget::ReportPasteSucceeded(DWORD Effect)
{
    if (!m_dataObject) {
        return false;
    }
    TPasteSuccededClipboardFormat format;
    format.DwordValue = Effect;
    STGMEDIUM medium;
    return format.PutData(m_dataObject.get(), format.FormatEtc, medium);
}

DWORD TCustomDropTarget::TakeFromClipboard()
{
    OleCheck(OleGetClipboard(m_dataObject.put()));
    DWORD effect = PreferredEffect();
    if (!FetchData(effect)) {
        effect = DROPEFFECT_NONE;
    }
    FirePaste(effect);
    m_dataObject.reset();
    return effect;
}

void TCustomDropTarget::StartScrollTimer(int interval)
{
    StopScrollTimer();
    m_scrollTimer = SetTimer(static_cast<UINT>(interval), [this] { ScrollTimerTick(); });
}

void TCustomDropTarget::StopScrollTimer()
{
    if (m_scrollTimer != 0) {
        KillTimer(m_scrollTimer);
        m_scrollTimer = 0;
    }
}

void TCustomDropTarget::ScrollTimerTick()
{
    StopScrollTimer();
    int interval = ScrollInterval;
    TScrolDirections scroll;
    if (!PtInRect(m_noScrollZone, m_lastPoint)) {
        if (m_lastPoint.y < m_noScrollZone.top) {
            scroll.include(TScrolDirection::Up);
        } else if (m_lastPoint.y > m_noScrollZone.bottom) {
            scroll.include(TScrolDirection::Down);
        }
        if (m_lastPoint.x < m_noScrollZone.left) {
            scroll.include(TScrolDirection::Left);
        } else if (m_lastPoint.x > m_noScrollZone.right) {
            scroll.include(TScrolDirection::Right);
        }
    }
    FireScroll(m_lastPoint, scroll, interval);
    if (scroll.empty() || m_currentTarget == nullptr) {
        return;
    }
    if (m_legacyDragImage != nullptr) {
        ImageList_DragLeave(m_currentTarget);
    }
    try {
        if (scroll.contains(TScrolDirection::Up)) {
            SendMessageA(m_currentTarget, WM_VSCROLL, SB_LINEUP, 0);
        } else if (scroll.contains(TScrolDirection::Down)) {
            SendMessageA(m_currentTarget, WM_VSCROLL, SB_LINEDOWN, 0);
        }
        if (scroll.contains(TScrolDirection::Left)) {
            SendMessageA(m_currentTarget, WM_HSCROLL, SB_LINELEFT, 0);
        } else if (scroll.contains(TScrolDirection::Right)) {
            SendMessageA(m_currentTarget, WM_HSCROLL, SB_LINERIGHT, 0);
        }
    } catch (...) {
        if (m_legacyDragImage != nullptr) {
            const POINT w = ClientToWindowPoint(m_lastPoint);
            ImageList_DragEnter(m_currentTarget, w.x, w.y);
        }
        throw;
    }
    if (m_legacyDragImage != nullptr) {
        const POINT w = ClientToWindowPoint(m_lastPoint);
        ImageList_DragEnter(m_currentTarget, w.x, w.y);
    }
    StartScrollTimer(interval);
}

// --- TCustomDropMultiTarget --------------------------------------------------------

TCustomDropMultiTarget::TCustomDropMultiTarget(TComponent* AOwner) : TCustomDropTarget(AOwner)
{
    Dragtypes = TDragTypes{TDragType::dtCopy, TDragType::dtLink};
    GetDataOnEnter = false;
}

TCustomDropMultiTarget::~TCustomDropMultiTarget()
{
    // Data formats made with this component as owner and not freed by anyone
    // else go with it, last to first.
    while (FormatList.Count() > 0) {
        std::unique_ptr<TCustomDataFormat> format(FormatList[FormatList.Count() - 1]);
        FormatList.Remove(format.get());
        format->OwnerComponent = nullptr;
    }
}

bool TCustomDropMultiTarget::FetchDataNow()
{
    bool result = false;
    for (int i = 0; i < FormatList.Count(); ++i) {
        TCustomDataFormat* format = FormatList[i];
        if (!format->HasUsableFormat(DataObject())) {
            continue;
        }
        bool accept = true;
        FireFormatVeto(format, accept);
        if (accept && format->GetData(DataObject())) {
            result = true;
        }
    }
    return result;
}

void TCustomDropMultiTarget::ResetData()
{
    if (AsyncBusy()) {
        throw DragDropError("Can't clear data while async data transfer is in progress");
    }
    for (int i = 0; i < FormatList.Count(); ++i) {
        FormatList[i]->Clear();
    }
}

bool TCustomDropMultiTarget::OffersUsableFormat(IDataObject* ADataObject)
{
    ComPtr<IEnumFORMATETC> formats;
    if (FAILED(ADataObject->EnumFormatEtc(DATADIR_GET, formats.put())) || !formats || FAILED(formats->Reset())) {
        return false;
    }
    FORMATETC formatEtc;
    ULONG fetched = 0;
    while (formats->Next(1, &formatEtc, &fetched) == S_OK && fetched == 1) {
        for (int i = 0; i < FormatList.Count(); ++i) {
            TCustomDataFormat* format = FormatList[i];
            if (format->AcceptsFormatEtc(formatEtc) && format->HasUsableFormat(ADataObject)) {
                bool accept = true;
                FireFormatVeto(format, accept);
                if (accept) {
                    return true;
                }
            }
        }
        fetched = 0;
    }
    return false;
}

void TCustomDropMultiTarget::FireFormatVeto(TCustomDataFormat* DataFormat, bool& Accept)
{
    if (OnFormatVeto) {
        OnFormatVeto(this, DataFormat, Accept);
    }
}

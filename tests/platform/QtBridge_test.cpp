// The Qt bridge: the data object over drag data, and drag events on a
// registered widget turned into IDropTarget calls and back into actions.

#include "platform/ClipboardFormats.h"
#include "platform/GlobalMemory.h"
#include "platform/TextConversion.h"
#include "platform/Ole.h"
#include "platform/Windowing.h"
#include "platform/qt/QtBridge.h"
#include "platform/qt/QtDataObject.h"

#include <QApplication>
#include <QDragEnterEvent>
#include <QMimeData>
#include <QSysInfo>
#include <QTest>
#include <QUrl>
#include <QWidget>

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

std::string dataOf(IDataObject* object, CLIPFORMAT format, HRESULT* result = nullptr)
{
    FORMATETC f;
    f.cfFormat = format;
    f.tymed = TYMED_HGLOBAL;
    STGMEDIUM m;
    const HRESULT hr = object->GetData(&f, &m);
    if (result != nullptr) {
        *result = hr;
    }
    if (FAILED(hr)) {
        return {};
    }
    std::string bytes(static_cast<const char*>(GlobalLock(m.hGlobal)), GlobalSize(m.hGlobal));
    GlobalUnlock(m.hGlobal);
    ReleaseStgMedium(&m);
    return bytes;
}

std::string wide(std::u16string_view text)
{
    std::string s;
    for (char16_t c : text) {
        s.push_back(static_cast<char>(c & 0xFF));
        s.push_back(static_cast<char>(c >> 8));
    }
    return s.append(2, '\0');
}

std::vector<CLIPFORMAT> enumerated(IDataObject* object)
{
    ComPtr<IEnumFORMATETC> e;
    EXPECT_EQ(object->EnumFormatEtc(DATADIR_GET, e.put()), S_OK);
    std::vector<CLIPFORMAT> formats;
    FORMATETC f;
    ULONG n = 0;
    while (e->Next(1, &f, &n) == S_OK) {
        formats.push_back(f.cfFormat);
    }
    return formats;
}

TEST(QtDataObject, OffersLocalFilesAsHdropAndFileNames)
{
    QMimeData mime;
    mime.setUrls({QUrl::fromLocalFile(QStringLiteral("/d/\u0100.raw")), QUrl(QStringLiteral("http://x.invalid/y")),
                  QUrl::fromLocalFile(QStringLiteral("/d/b.raw"))});
    mime.setData(QString::fromStdString(WindowsMimeType("Kelvox Carried")), QByteArray("raw\0bytes", 9));
    const ComPtr<IDataObject> object = CreateQtDataObject(&mime);

    const CLIPFORMAT nameW = static_cast<CLIPFORMAT>(RegisterClipboardFormatA("FileNameW"));
    const CLIPFORMAT name = static_cast<CLIPFORMAT>(RegisterClipboardFormatA("FileName"));
    const CLIPFORMAT carried = static_cast<CLIPFORMAT>(RegisterClipboardFormatA("Kelvox Carried"));
    EXPECT_EQ(enumerated(object.get()), (std::vector<CLIPFORMAT>{CF_HDROP, nameW, name, carried}));

    const std::string hdrop = dataOf(object.get(), CF_HDROP);
    ASSERT_GT(hdrop.size(), 20u);
    DROPFILES header;
    std::memcpy(&header, hdrop.data(), sizeof header);
    EXPECT_EQ(header.pFiles, 20u);
    EXPECT_NE(header.fWide, 0);
    EXPECT_EQ(hdrop.substr(20), wide(u"/d/\u0100.raw") + wide(u"/d/b.raw") + std::string(2, '\0'));
    EXPECT_EQ(dataOf(object.get(), nameW), wide(u"/d/\u0100.raw"));
    EXPECT_EQ(dataOf(object.get(), name), std::string("/d/\xC4\x80.raw", 9) + std::string(1, '\0'));
    EXPECT_EQ(dataOf(object.get(), carried), std::string("raw\0bytes", 9));

    HRESULT hr = S_OK;
    dataOf(object.get(), static_cast<CLIPFORMAT>(RegisterClipboardFormatA("Not There")), &hr);
    EXPECT_EQ(hr, DV_E_FORMATETC);
}

struct UrlCase
{
    const char* url;
    bool local;
    std::string name; // the bytes of the first dropped name
};

class QtDataObjectUrls : public ::testing::TestWithParam<UrlCase>
{
};

TEST_P(QtDataObjectUrls, LocalFileUrlsGiveTheBytesTheyEncode)
{
    const UrlCase& c = GetParam();
    QString url = QString::fromLatin1(c.url);
    url.replace(QStringLiteral("THISHOST"), QSysInfo::machineHostName());
    QMimeData mime;
    mime.setUrls({QUrl::fromEncoded(url.toLatin1())});
    const ComPtr<IDataObject> object = CreateQtDataObject(&mime);
    const CLIPFORMAT nameFormat = static_cast<CLIPFORMAT>(RegisterClipboardFormatA("FileName"));
    const CLIPFORMAT wideFormat = static_cast<CLIPFORMAT>(RegisterClipboardFormatA("FileNameW"));
    if (!c.local) {
        EXPECT_TRUE(enumerated(object.get()).empty()) << c.url;
        return;
    }
    EXPECT_EQ(dataOf(object.get(), nameFormat), c.name + std::string(1, '\0')) << c.url;
    // The 16-bit forms carry the same bytes back through the code page.
    const std::string wideBlock = dataOf(object.get(), wideFormat);
    ASSERT_GE(wideBlock.size(), 2u);
    std::u16string wideName;
    for (std::size_t i = 0; i + 2 < wideBlock.size(); i += 2) { // the last two bytes end the name
        wideName.push_back(static_cast<char16_t>(static_cast<unsigned char>(wideBlock[i])
                                                 | static_cast<unsigned char>(wideBlock[i + 1]) << 8));
    }
    EXPECT_EQ(WideToSystem(wideName), c.name) << c.url;
    const std::string hdrop = dataOf(object.get(), CF_HDROP);
    EXPECT_EQ(hdrop.substr(20, wideBlock.size()), wideBlock) << c.url;
}

INSTANTIATE_TEST_SUITE_P(
    Urls, QtDataObjectUrls,
    ::testing::Values(UrlCase{"file:///d/a.raw", true, "/d/a.raw"},
                      UrlCase{"file://localhost/d/a.raw", true, "/d/a.raw"},
                      UrlCase{"file://LOCALHOST/d/a.raw", true, "/d/a.raw"},
                      UrlCase{"file://THISHOST/d/a.raw", true, "/d/a.raw"},
                      UrlCase{"file://elsewhere.invalid/d/a.raw", false, ""},
                      UrlCase{"file:///d/caf%E9.raw", true, "/d/caf\xE9.raw"},          // Latin-1
                      UrlCase{"file:///d/caf%C3%A9.raw", true, "/d/caf\xC3\xA9.raw"},  // UTF-8
                      UrlCase{"file:///d/%ED%B2%80%FF%2F.raw", true, "/d/\xED\xB2\x80\xFF/.raw"},
                      UrlCase{"file:///d/100%25%20x.raw", true, "/d/100% x.raw"},
                      UrlCase{"file:///d/cut%00.raw", false, ""},
                      UrlCase{"http://localhost/d/a.raw", false, ""}));

TEST(QtDataObject, WithoutLocalFilesThereAreNoFileFormats)
{
    QMimeData mime;
    mime.setUrls({QUrl(QStringLiteral("https://x.invalid/v.raw"))});
    mime.setText(QStringLiteral("/not/a/url"));
    const ComPtr<IDataObject> object = CreateQtDataObject(&mime);
    EXPECT_TRUE(enumerated(object.get()).empty());
    FORMATETC f;
    f.cfFormat = CF_HDROP;
    f.tymed = TYMED_HGLOBAL;
    EXPECT_EQ(object->QueryGetData(&f), DV_E_FORMATETC);
}

TEST(QtDataObject, PerformedDropEffectIsRecorded)
{
    QMimeData mime;
    const ComPtr<IDataObject> object = CreateQtDataObject(&mime);
    DROPEFFECT effect = 99;
    EXPECT_FALSE(PerformedEffectOf(object.get(), effect));

    FORMATETC f;
    f.cfFormat = static_cast<CLIPFORMAT>(RegisterClipboardFormatA("Performed DropEffect"));
    f.tymed = TYMED_HGLOBAL;
    STGMEDIUM m;
    m.tymed = TYMED_HGLOBAL;
    m.hGlobal = GlobalAlloc(GMEM_MOVEABLE, 4);
    const DWORD move = DROPEFFECT_MOVE;
    std::memcpy(GlobalLock(m.hGlobal), &move, 4);
    GlobalUnlock(m.hGlobal);
    const std::size_t blocks = GlobalBlockCount();
    EXPECT_EQ(object->SetData(&f, &m, TRUE), S_OK);
    EXPECT_EQ(GlobalBlockCount(), blocks - 1);  // ownership passed and the block was freed
    EXPECT_TRUE(PerformedEffectOf(object.get(), effect));
    EXPECT_EQ(effect, DROPEFFECT_MOVE);
}

// Records the calls of the bridge and answers with a scripted effect.
class RecordingTarget final : public IDropTarget
{
public:
    HRESULT QueryInterface(REFIID, void**) override { return E_NOINTERFACE; }
    ULONG AddRef() override { return ++refs; }
    ULONG Release() override { return --refs; }

    HRESULT DragEnter(IDataObject* data, DWORD keys, POINTL pt, DWORD* effect) override
    {
        log.push_back("enter " + std::to_string(keys) + " " + std::to_string(*effect));
        enteredWith = data;
        point = pt;
        hitAtEnter = WindowFromPoint(POINT{pt.x, pt.y});
        *effect &= answer;
        return S_OK;
    }
    HRESULT DragOver(DWORD, POINTL, DWORD* effect) override
    {
        log.push_back("over");
        *effect &= answer;
        return S_OK;
    }
    HRESULT DragLeave() override
    {
        log.push_back("leave");
        return S_OK;
    }
    HRESULT Drop(IDataObject* data, DWORD, POINTL pt, DWORD* effect) override
    {
        hitAtDrop = WindowFromPoint(POINT{pt.x, pt.y});
        log.push_back(data == enteredWith ? "drop same" : "drop other");
        *effect &= answer;
        return dropResult;
    }

    ULONG refs = 1;
    DWORD answer = DROPEFFECT_COPY;
    HRESULT dropResult = S_OK;
    IDataObject* enteredWith = nullptr;
    POINTL point;
    HWND hitAtEnter = nullptr;
    HWND hitAtDrop = nullptr;
    std::vector<std::string> log;
};

class QtBridgeTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        OleInitialize(nullptr);
        window.resize(200, 100);
        child = new QWidget(&window);
        child->setGeometry(10, 20, 50, 30);
        window.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
        mime.setUrls({QUrl::fromLocalFile(QStringLiteral("/tmp/a.raw"))});
    }

    void TearDown() override
    {
        RevokeDragDrop(HwndFromWidget(child));
        OleUninitialize();
    }

    QWidget window;
    QWidget* child = nullptr;
    RecordingTarget target;
    QMimeData mime;
};

TEST_F(QtBridgeTest, DragEventsBecomeTargetCallsAndActions)
{
    ASSERT_EQ(RegisterDragDrop(HwndFromWidget(child), &target), S_OK);
    EXPECT_EQ(RegisterDragDrop(HwndFromWidget(child), &target), DRAGDROP_E_ALREADYREGISTERED);
    EXPECT_TRUE(child->acceptDrops());

    QDragEnterEvent enter(QPoint(5, 6), Qt::CopyAction | Qt::MoveAction, &mime, Qt::LeftButton,
                          Qt::ControlModifier | Qt::ShiftModifier);
    QApplication::sendEvent(child, &enter);
    EXPECT_TRUE(enter.isAccepted());
    EXPECT_EQ(enter.dropAction(), Qt::CopyAction);
    const QPoint screen = child->mapToGlobal(QPoint(5, 6));
    EXPECT_EQ(target.point, (POINTL{screen.x(), screen.y()}));

    QDragMoveEvent move(QPoint(6, 6), Qt::CopyAction | Qt::MoveAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(child, &move);
    QDropEvent drop(QPointF(6, 6), Qt::CopyAction | Qt::MoveAction, &mime, Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(child, &drop);
    EXPECT_TRUE(drop.isAccepted());
    EXPECT_EQ(drop.dropAction(), Qt::CopyAction);
    EXPECT_EQ(target.log, (std::vector<std::string>{"enter " + std::to_string(MK_LBUTTON | MK_CONTROL | MK_SHIFT) + " 3",
                                                    "over", "drop same"}));
}

TEST_F(QtBridgeTest, RefusedOrFailedAnswersIgnoreTheDrag)
{
    ASSERT_EQ(RegisterDragDrop(HwndFromWidget(child), &target), S_OK);
    target.answer = DROPEFFECT_LINK;
    QDragEnterEvent enter(QPoint(5, 6), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(child, &enter);
    EXPECT_FALSE(enter.isAccepted());

    target.answer = DROPEFFECT_COPY;
    target.dropResult = E_UNEXPECTED;
    QDropEvent drop(QPointF(6, 6), Qt::CopyAction, &mime, Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(child, &drop);
    EXPECT_FALSE(drop.isAccepted());
}

TEST_F(QtBridgeTest, RevokedWidgetNoLongerReachesTheTarget)
{
    ASSERT_EQ(RegisterDragDrop(HwndFromWidget(child), &target), S_OK);
    EXPECT_EQ(RevokeDragDrop(HwndFromWidget(child)), S_OK);
    EXPECT_EQ(RevokeDragDrop(HwndFromWidget(child)), DRAGDROP_E_NOTREGISTERED);
    EXPECT_FALSE(child->acceptDrops());
    QDragEnterEvent enter(QPoint(5, 6), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(child, &enter);
    EXPECT_TRUE(target.log.empty());
}

TEST_F(QtBridgeTest, RegistrationNeedsOleAndARealWidget)
{
    EXPECT_EQ(RegisterDragDrop(reinterpret_cast<HWND>(&target), &target), DRAGDROP_E_INVALIDHWND);
    OleUninitialize();
    EXPECT_TRUE(FAILED(RegisterDragDrop(HwndFromWidget(child), &target)));
    OleInitialize(nullptr);
}

TEST_F(QtBridgeTest, HitTestingAndCoordinatesFollowTheWidgets)
{
    const QPoint inChild = child->mapToGlobal(QPoint(3, 4));
    EXPECT_EQ(WindowFromPoint(POINT{inChild.x(), inChild.y()}), HwndFromWidget(child));
    EXPECT_EQ(GetParent(HwndFromWidget(child)), HwndFromWidget(&window));
    POINT pt{inChild.x(), inChild.y()};
    ASSERT_TRUE(ScreenToClient(HwndFromWidget(child), &pt));
    EXPECT_EQ(pt, (POINT{3, 4}));
    RECT rc;
    ASSERT_TRUE(GetClientRect(HwndFromWidget(child), &rc));
    EXPECT_EQ(rc, (RECT{0, 0, 50, 30}));
}

TEST_F(QtBridgeTest, HitTestsDuringADragFindTheReceiverEvenUnderAWindowOnTop)
{
    // A grandchild that takes no drops itself: the event reaches child.
    auto* inner = new QWidget(child);
    inner->setGeometry(0, 0, 20, 30);
    inner->show();
    ASSERT_EQ(RegisterDragDrop(HwndFromWidget(child), &target), S_OK);

    // A window of its own over the drop point, as a drag icon would be.
    QWidget icon(nullptr, Qt::ToolTip | Qt::FramelessWindowHint);
    const QPoint screen = child->mapToGlobal(QPoint(5, 6));
    icon.setGeometry(QRect(screen - QPoint(8, 8), QSize(32, 32)));
    icon.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&icon));
    ASSERT_EQ(QApplication::widgetAt(screen), &icon);

    QDragEnterEvent enter(QPoint(5, 6), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(child, &enter);
    EXPECT_EQ(target.hitAtEnter, HwndFromWidget(inner));
    QDropEvent drop(QPointF(30, 6), Qt::CopyAction, &mime, Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(child, &drop);
    EXPECT_EQ(target.hitAtDrop, HwndFromWidget(child));

    // Outside a drag event hit tests see the screen as it is.
    EXPECT_EQ(WindowFromPoint(POINT{screen.x(), screen.y()}), HwndFromWidget(&icon));
}

TEST_F(QtBridgeTest, TimersTickUntilKilled)
{
    int ticks = 0;
    UINT_PTR id = 0;
    id = SetTimer(5, [&] {
        if (++ticks == 3) {
            KillTimer(id);
        }
    });
    ASSERT_NE(id, 0u);
    QTest::qWait(60);
    EXPECT_EQ(ticks, 3);
    EXPECT_EQ(KillTimer(id), FALSE);
}

} // namespace

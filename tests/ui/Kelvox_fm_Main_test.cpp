#include "ui/Kelvox_fm_Main.h"

#include "support/MainWindowFixture.h"
#include "support/ReadObservers.h"

#include "layout/VolumeLayout.h"

#include "dragdrop/DragDropFile.h"
#include "dragdrop/DragDropPIDL.h"
#include "platform/Ole.h"
#include "platform/Shell.h"
#include "platform/qt/QtBridge.h"
#include "platform/qt/QtDataObject.h"
#include "ui/Kelvox_Dialogs.h"
#include "ui/UpDownSpinner.h"
#include "ui/ViewBorder.h"
#include "ui/ViewImageWidget.h"
#include "ui/ViewZoomFit.h"
#include "ui/ZebRotateLabel.h"
#include "volume/Kelvox_DataMgr.h"

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QElapsedTimer>
#include <QFile>
#include <QFontInfo>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMimeData>
#include <QMouseEvent>
#include <QProcess>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QUrl>
#include <QWheelEvent>

#include <gtest/gtest.h>

#include <atomic>
#include <bit>
#include <chrono>
#include <thread>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <set>
#include <vector>

namespace {

constexpr int RefreshWaitMs = 2000;

QByteArray bytesOf(const std::vector<float>& values)
{
    QByteArray bytes;
    for (float v : values) {
        const auto bits = std::bit_cast<std::uint32_t>(v);
        bytes.append(static_cast<char>(bits & 0xFFU));
        bytes.append(static_cast<char>((bits >> 8U) & 0xFFU));
        bytes.append(static_cast<char>((bits >> 16U) & 0xFFU));
        bytes.append(static_cast<char>(bits >> 24U));
    }
    return bytes;
}

class MainWindow : public MainWindowFixture
{
protected:
    // Waits for the refresh a zoom change starts, unless it has already
    // been made.
    void waitForZoomRefresh()
    {
        if (refreshed->count() == 0) {
            ASSERT_TRUE(refreshed->wait(RefreshWaitMs));
        }
        refreshed->clear();
    }

    QWidget* widget(const char* name) const { return child<QWidget>(name); }
    ViewImageWidget* image(const char* name) const { return child<ViewImageWidget>(name); }
    QString panel(int index) const
    {
        return label(QStringLiteral("StatusBar1Panel%1").arg(index).toLatin1().constData())->text();
    }

    // Types text into an emptied edit key by key.
    static void typeInto(QLineEdit* target, const QString& text)
    {
        target->setFocus();
        target->clear();
        QTest::keyClicks(target, text);
    }

    // Sets the geometry and data type through the controls.
    void setGeometry(int d0, int d1, int d2, int dataType = 0)
    {
        paste(edit("ed_VoxelsPerRow"), QString::number(d0));
        paste(edit("ed_RowsPerSlice"), QString::number(d1));
        paste(edit("ed_SlicesPerVolume"), QString::number(d2));
        choose(child<QComboBox>("cb_DataType"), dataType);
    }

    // Starts the window and drops the Int-16 sample on it under the guess the
    // comparisons with kelvox-render use: 128 x 128 x 64 big-endian, window
    // -100..1500, slice 30, cross-slice row 70, volume 1.
    void showInt16Sample(const QString& sample)
    {
        start();
        setGeometry(128, 128, 64, 1);
        choose(child<QComboBox>("cb_ByteOrder"), 1);
        paste(edit("ed_IntensityMin"), QStringLiteral("-100"));
        paste(edit("ed_IntensityMax"), QStringLiteral("1500"));
        paste(edit("ed_SliceNumber"), QStringLiteral("30"));
        paste(edit("ed_CrossSliceViewY"), QStringLiteral("70"));
        paste(edit("ed_VolumeNumber"), QStringLiteral("1"));
        window->DropFileTarget1Drop({sample});
        waitForRefresh();
    }

    // Sends one mouse move to a view image, at column x, row y.
    static void moveOver(QWidget* target, int x, int y)
    {
        const QPointF local(x, y);
        QMouseEvent move(QEvent::MouseMove, local, target->mapToGlobal(local), Qt::NoButton,
                         Qt::NoButton, Qt::NoModifier);
        QApplication::sendEvent(target, &move);
    }

};

// ---- Layout ------------------------------------------------------------

struct DesignedPlace
{
    const char* name;
    QRect rect;
};

class MainWindowLayout : public MainWindow, public ::testing::WithParamInterface<DesignedPlace>
{
};

TEST_P(MainWindowLayout, ControlSitsWhereDesigned)
{
    const DesignedPlace& place = GetParam();
    QWidget* control = widget(place.name);
    ASSERT_NE(control, nullptr);
    EXPECT_EQ(control->geometry(), place.rect) << place.name;
}

INSTANTIATE_TEST_SUITE_P(
    FixedControls, MainWindowLayout,
    ::testing::Values(DesignedPlace{"pa_FileName", {1, 1, 1168, 24}},
                      DesignedPlace{"ed_VoxelsPerRow", {8, 44, 60, 21}},
                      DesignedPlace{"ud_VoxelsPerRow", {68, 44, 15, 21}},
                      DesignedPlace{"ed_RowsPerSlice", {112, 44, 60, 21}},
                      DesignedPlace{"ud_RowsPerSlice", {172, 44, 15, 21}},
                      DesignedPlace{"ed_SlicesPerVolume", {216, 44, 60, 21}},
                      DesignedPlace{"ud_SlicesPerVolume", {276, 44, 15, 21}},
                      DesignedPlace{"cb_DataType", {368, 28, 113, 21}},
                      DesignedPlace{"cb_ByteOrder", {368, 52, 113, 21}},
                      DesignedPlace{"GroupBox1", {488, 25, 169, 57}},
                      DesignedPlace{"ed_IntensityMin", {8, 24, 65, 21}},
                      DesignedPlace{"ed_IntensityMax", {96, 24, 65, 21}},
                      DesignedPlace{"ed_SliceNumber", {96, 4, 57, 21}},
                      DesignedPlace{"ud_SliceNumber", {153, 4, 15, 21}},
                      DesignedPlace{"ed_CrossSliceViewY", {128, 4, 57, 21}},
                      DesignedPlace{"ud_CrossSliceViewY", {185, 4, 15, 21}},
                      DesignedPlace{"ed_VolumeNumber", {128, 4, 57, 21}},
                      DesignedPlace{"ud_VolumeNumber", {185, 4, 15, 21}},
                      DesignedPlace{"ZebRotateLabel1", {2, 64, 17, 90}},
                      DesignedPlace{"ZebRotateLabel3", {2, 64, 17, 90}},
                      DesignedPlace{"img_Slice", {17, 57, 256, 256}},
                      DesignedPlace{"img_NextSlice", {16, 56, 256, 256}},
                      DesignedPlace{"border_OtherVolume", {16, 56, 65, 65}},
                      DesignedPlace{"pa_Slice", {0, 0, 281, 340}},
                      DesignedPlace{"pa_OtherVolume", {864, 0, 281, 340}},
                      DesignedPlace{"bt_UseIntensity", {232, 319, 43, 17}},
                      DesignedPlace{"ck_CrossSliceDisable", {8, 320, 153, 17}}),
    [](const auto& info) {
        std::string name = info.param.name;
        std::erase(name, '_');
        return name;
    });

TEST_F(MainWindow, CarriesDesignedTextsMenusAndTimer)
{
    EXPECT_EQ(window->windowTitle(), QStringLiteral("Kelvox"));
    EXPECT_EQ(window->pos(), QPoint(100, 100));
    window->show();
    EXPECT_EQ(label("lb_FilePath")->text(), QStringLiteral("Drag an MRI file onto this area"));
    EXPECT_EQ(child<QGroupBox>("GroupBox1")->title(), QStringLiteral(" Intensity Range (or right click) "));

    const auto* types = child<QComboBox>("cb_DataType");
    ASSERT_EQ(types->count(), 8);
    EXPECT_EQ(types->itemText(1), QStringLiteral("Int-16  (signed)"));
    EXPECT_EQ(types->itemText(3), QStringLiteral("Float-32"));
    EXPECT_EQ(types->itemText(4), QStringLiteral("UInt-16 (unsigned)"));
    EXPECT_EQ(types->itemText(5), QStringLiteral("Int-8 (signed)"));
    EXPECT_EQ(types->itemText(6), QStringLiteral("UInt-32 (unsigned)"));
    EXPECT_EQ(types->itemText(7), QStringLiteral("Float-64"));
    EXPECT_EQ(label("Label21")->text(), QStringLiteral("Header Bytes"));
    EXPECT_EQ(label("Label22")->text(), QStringLiteral("(skipped)"));
    EXPECT_EQ(child<QLineEdit>("ed_HeaderBytes")->geometry(), QRect(664, 44, 97, 21));
    EXPECT_EQ(child<QLineEdit>("ed_HeaderBytes")->text(), QStringLiteral("0"));
    EXPECT_EQ(child<QComboBox>("cb_ByteOrder")->itemText(1), QStringLiteral("Big-Endian "));

    const auto* caption = child<TZebRotateLabel>("ZebRotateLabel3");
    EXPECT_EQ(caption->angle(), TZebRotateLabel::ag90);
    EXPECT_EQ(caption->caption(), QStringLiteral("<-- Index 2"));

    EXPECT_EQ(panel(0), QStringLiteral("[1234, 1234, 1234,  1234]"));
    EXPECT_EQ(panel(1), QStringLiteral("Intens: 12345678"));
    EXPECT_EQ(panel(2), QStringLiteral("Offset: 123456789  =  0x12345678"));
    EXPECT_EQ(widget("StatusBar1")->height(), 19);
    EXPECT_EQ(widget("StatusBar1Panel0")->width(), 200);
    EXPECT_EQ(widget("StatusBar1Panel1")->width(), 160);

    QStringList fileMenu;
    for (const QAction* item : child<QMenu>("mh_File")->actions()) {
        fileMenu << (item->isSeparator() ? QStringLiteral("-") : item->text());
    }
    EXPECT_EQ(fileMenu,
              (QStringList{"&Open File", "&Close File", "&Guess Layout...", "Save &Layout As...", "-", "&Quit"}));
    QStringList presets;
    for (const QAction* item : child<QMenu>("pop_IntensityRange")->actions()) {
        presets << item->text();
    }
    EXPECT_EQ(presets, (QStringList{"From Selected Slice", "Full Range of Data Type",
                                    "Positive Range Only", "0 to 1", "-1 to 1", "0 to 255",
                                    "0 to 10000"}));

    const auto* timer = child<QTimer>("Timer1");
    EXPECT_TRUE(timer->isActive());
    EXPECT_TRUE(timer->isSingleShot());
    EXPECT_EQ(timer->interval(), 300);
}

TEST_F(MainWindow, StartsWithTheDefaultGuessAfterFirstActivation)
{
    start();
    EXPECT_EQ(window->windowTitle(), QStringLiteral("Kelvox Test"));
    for (const char* name : {"ed_VoxelsPerRow", "ed_RowsPerSlice", "ed_SlicesPerVolume"}) {
        EXPECT_EQ(edit(name)->text(), QStringLiteral("256")) << name;
    }
    EXPECT_EQ(child<QComboBox>("cb_DataType")->currentText(), QStringLiteral("Byte (unsigned)"));
    EXPECT_EQ(child<QComboBox>("cb_ByteOrder")->currentText(), QStringLiteral("Lil-Endian (Intel)"));
    EXPECT_EQ(edit("ed_IntensityMin")->text(), QStringLiteral("0"));
    EXPECT_EQ(edit("ed_IntensityMax")->text(), QStringLiteral("256"));
    EXPECT_EQ(edit("ed_SliceNumber")->text(), QStringLiteral("0"));
    EXPECT_EQ(edit("ed_CrossSliceViewY")->text(), QStringLiteral("0"));
    EXPECT_EQ(edit("ed_VolumeNumber")->text(), QStringLiteral("1"));
    EXPECT_EQ(dataMgr->IntensityMax, 256);
    EXPECT_EQ(label("lb_NextSlice")->text(), QStringLiteral("Next Slice: 1"));
}

TEST_F(MainWindow, LaterActivationKeepsWhatTheUserSet)
{
    start();
    paste(edit("ed_VoxelsPerRow"), QStringLiteral("64"));
    choose(child<QComboBox>("cb_ByteOrder"), 1);
    QWidget other;
    other.show();
    other.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&other));
    window->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
    EXPECT_EQ(edit("ed_VoxelsPerRow")->text(), QStringLiteral("64"));
    EXPECT_EQ(child<QComboBox>("cb_ByteOrder")->currentIndex(), 1);
}

TEST_F(MainWindow, LaysOutTheWorkedExample)
{
    start();
    const std::array<const char*, 4> panels{"pa_Slice", "pa_NextSlice", "pa_CrossSliceView",
                                            "pa_OtherVolume"};
    for (std::size_t k = 0; k < panels.size(); ++k) {
        EXPECT_EQ(widget(panels[k])->geometry(), QRect(static_cast<int>(291 * k), 0, 291, 339))
            << panels[k];
    }
    EXPECT_EQ(widget("img_Slice")->geometry(), QRect(23, 57, 256, 256));
    EXPECT_EQ(widget("border_CrossSliceView")->geometry(), QRect(21, 55, 260, 260));
    // Anchored controls keep their distance to the bottom and right edges.
    EXPECT_EQ(widget("lb_Intensity")->y(), 339 - 17);
    EXPECT_EQ(widget("bt_UseIntensity")->pos(), QPoint(291 - 49, 339 - 21));
    EXPECT_EQ(widget("ck_CrossSliceDisable")->pos(), QPoint(8, 339 - 20));
}

TEST_F(MainWindow, FileStripFollowsTheWindowWidth)
{
    start();
    window->resize(900, window->height());
    QTest::qWait(10);
    EXPECT_EQ(widget("pa_FileName")->width(), widget("pa_Top")->width() - 2);
}

struct ZeroDimensionCase
{
    int d0, d1, d2;
    std::array<QSize, 4> panels;
};

class MainWindowZeroDimension : public MainWindow,
                                public ::testing::WithParamInterface<ZeroDimensionCase>
{
};

TEST_P(MainWindowZeroDimension, SizesPanelsAndShowsTheStartRange)
{
    const ZeroDimensionCase& c = GetParam();
    start();
    setGeometry(c.d0, c.d1, c.d2);
    waitForRefresh();
    const std::array<const char*, 4> panels{"pa_Slice", "pa_NextSlice", "pa_CrossSliceView",
                                            "pa_OtherVolume"};
    for (std::size_t k = 0; k < panels.size(); ++k) {
        EXPECT_EQ(widget(panels[k])->size(), c.panels[k]) << panels[k];
    }
    EXPECT_EQ(label("lb_Intensity")->text(),
              QStringLiteral("Intens: 2147483648.00 to -2147483648.00"));
    // "Apply" takes the start pair as the widest window.
    child<QPushButton>("bt_UseIntensity")->click();
    EXPECT_EQ(edit("ed_IntensityMin")->text(), QStringLiteral("2147483647"));
    EXPECT_EQ(edit("ed_IntensityMax")->text(), QStringLiteral("-2147483648"));
}

INSTANTIATE_TEST_SUITE_P(
    Dimensions, MainWindowZeroDimension,
    ::testing::Values(
        ZeroDimensionCase{0, 256, 256, {QSize(220, 339), QSize(220, 339), QSize(220, 339), QSize(220, 339)}},
        ZeroDimensionCase{256, 0, 256, {QSize(291, 239), QSize(291, 239), QSize(291, 339), QSize(291, 239)}}));

TEST_F(MainWindow, WideRowsMakeTheAreaScroll)
{
    start();
    paste(edit("ed_VoxelsPerRow"), QStringLiteral("1000"));
    paste(edit("ed_RowsPerSlice"), QStringLiteral("4"));
    waitForRefresh();
    EXPECT_EQ(widget("pa_Slice")->width(), 1035);
    EXPECT_EQ(widget("img_OtherVolume")->width(), 1000);
    EXPECT_GT(child<QScrollArea>("ScrollBox_Bottom")->horizontalScrollBar()->maximum(), 0);
}

// ---- Number edits and the refresh cycle --------------------------------

struct NumberEditCase
{
    const char* description;
    bool wholePaste;  // one change of the whole text, else keystrokes at the caret
    int caretBefore;  // caret before the keystrokes (ignored for a paste)
    const char* input;
    const char* expected;
    int expectedCaret;
};

class MainWindowNumberEdit : public MainWindow, public ::testing::WithParamInterface<NumberEditCase>
{
};

TEST_P(MainWindowNumberEdit, ClampsOrRestoresTheNumber)
{
    const NumberEditCase& c = GetParam();
    start();
    QLineEdit* target = edit("ed_RowsPerSlice");
    if (c.wholePaste) {
        paste(target, QString::fromLatin1(c.input));
    } else {
        target->setFocus();
        target->setCursorPosition(c.caretBefore);
        QTest::keyClicks(target, QString::fromLatin1(c.input));
    }
    EXPECT_EQ(target->text(), QString::fromLatin1(c.expected));
    EXPECT_EQ(target->cursorPosition(), c.expectedCaret);
    EXPECT_EQ(dataMgr->DimSize(1), QString::fromLatin1(c.expected).toInt());
}

INSTANTIATE_TEST_SUITE_P(
    Texts, MainWindowNumberEdit,
    ::testing::Values(NumberEditCase{"TooLarge", true, 0, "20000", "10000", 5},
                      NumberEditCase{"TypedTooLarge", false, 3, "00", "10000", 5},
                      NumberEditCase{"PastedNegative", true, 0, "-5", "0", 1},
                      NumberEditCase{"LoneMinus", true, 0, "-", "256", 1},
                      NumberEditCase{"Letter", false, 1, "a", "256", 2},
                      NumberEditCase{"MinusOne", true, 0, "-1", "256", 2},
                      NumberEditCase{"Accepted", true, 0, "128", "128", 3}),
    [](const auto& info) { return std::string(info.param.description); });

TEST_F(MainWindow, EmptyGeometryEditKeepsTheLastDimension)
{
    start();
    paste(edit("ed_VoxelsPerRow"), QStringLiteral("100"));
    edit("ed_VoxelsPerRow")->clear();
    EXPECT_EQ(edit("ed_VoxelsPerRow")->text(), QString());
    EXPECT_EQ(dataMgr->DimSize(0), 100);
    waitForRefresh();
    EXPECT_EQ(widget("img_Slice")->width(), 100);
}

TEST_F(MainWindow, EmptySliceEditRendersSliceZero)
{
    start();
    paste(edit("ed_SliceNumber"), QStringLiteral("5"));
    waitForRefresh();
    EXPECT_EQ(label("lb_NextSlice")->text(), QStringLiteral("Next Slice: 6"));
    edit("ed_SliceNumber")->clear();
    waitForRefresh();
    EXPECT_EQ(edit("ed_SliceNumber")->text(), QString());
    EXPECT_EQ(label("lb_NextSlice")->text(), QStringLiteral("Next Slice: 1"));
}

TEST_F(MainWindow, LastSliceNumberShowsTheSliceAfterIt)
{
    start();
    paste(edit("ed_SliceNumber"), QStringLiteral("10000"));
    waitForRefresh();
    EXPECT_EQ(label("lb_NextSlice")->text(), QStringLiteral("Next Slice: 10001"));
    moveOver(image("img_NextSlice"), 0, 0);
    EXPECT_EQ(panel(0), QStringLiteral("[   0,    0, 10001,    0 ]"));
}

TEST_F(MainWindow, BurstOfChangesRendersOnceAfterTheLast)
{
    start();
    QLineEdit* target = edit("ed_SliceNumber");
    target->setFocus();
    target->clear();
    QElapsedTimer clock;
    clock.start();
    qint64 lastKey = 0;
    for (const QChar c : QStringLiteral("1234")) {
        QTest::keyClick(target, c.toLatin1());
        lastKey = clock.elapsed();
        QTest::qWait(100);
        EXPECT_EQ(refreshed->count(), 0) << "refreshed while typing";
    }
    ASSERT_TRUE(refreshed->wait(RefreshWaitMs));
    // The timer is a coarse one: it may fire up to 5 % early.
    EXPECT_GE(clock.elapsed() - lastKey, 280);
    QTest::qWait(400);
    EXPECT_EQ(refreshed->count(), 1);
    EXPECT_EQ(label("lb_NextSlice")->text(), QStringLiteral("Next Slice: 1235"));
}

TEST_F(MainWindow, HeldSpinnerArrowRendersOnce)
{
    start();
    auto* spinner = child<UpDownSpinner>("ud_SliceNumber");
    auto* up = spinner->findChild<QAbstractButton*>(QStringLiteral("upArrow"));
    ASSERT_NE(up, nullptr);
    QTest::mousePress(up, Qt::LeftButton);
    QTest::qWait(1500);
    EXPECT_EQ(refreshed->count(), 0);
    QTest::mouseRelease(up, Qt::LeftButton);
    const int steps = edit("ed_SliceNumber")->text().toInt();
    EXPECT_GT(steps, 5);
    waitForRefresh();
    QTest::qWait(400);
    EXPECT_EQ(refreshed->count(), 0);
    EXPECT_EQ(label("lb_NextSlice")->text(), QStringLiteral("Next Slice: %1").arg(steps + 1));
}

TEST_F(MainWindow, DisabledCrossSliceIsNotRendered)
{
    start();
    auto* box = child<QCheckBox>("ck_CrossSliceDisable");
    QTest::mouseClick(box, Qt::LeftButton, {}, QPoint(5, box->height() / 2));
    ASSERT_TRUE(box->isChecked());
    EXPECT_EQ(box->pos(), QPoint(27, 77));
    EXPECT_FALSE(image("img_CrossSliceView")->isVisible());
    EXPECT_TRUE(widget("border_CrossSliceView")->isVisible());
    EXPECT_EQ(refreshed->count(), 0);

    const qint64 before = image("img_CrossSliceView")->image().cacheKey();
    const qint64 sliceBefore = image("img_Slice")->image().cacheKey();
    paste(edit("ed_CrossSliceViewY"), QStringLiteral("40"));
    waitForRefresh();
    EXPECT_EQ(image("img_CrossSliceView")->image().cacheKey(), before);
    EXPECT_NE(image("img_Slice")->image().cacheKey(), sliceBefore);

    // The panel grows while the box sits at the top; unchecking puts it back
    // 20 pixels above the bottom edge.
    paste(edit("ed_SlicesPerVolume"), QStringLiteral("300"));
    waitForRefresh();
    EXPECT_EQ(box->pos(), QPoint(27, 77));
    QTest::mouseClick(box, Qt::LeftButton, {}, QPoint(5, box->height() / 2));
    EXPECT_FALSE(box->isChecked());
    EXPECT_TRUE(image("img_CrossSliceView")->isVisible());
    EXPECT_EQ(box->pos(), QPoint(8, widget("pa_CrossSliceView")->height() - 20));
}

// ---- Files -------------------------------------------------------------

TEST_F(MainWindow, OpensAFileAndShowsItAfterTheTimer)
{
    start();
    setGeometry(4, 4, 1);
    waitForRefresh();
    QByteArray bytes(16, '\0');
    for (int i = 0; i < 16; ++i) {
        bytes[i] = static_cast<char>(i * 16);
    }
    const QString path = writeFile(QStringLiteral("ramp.raw"), bytes);
    openThroughMenu(path);
    EXPECT_EQ(openTitles, QStringList{QStringLiteral("Open an image file")});
    EXPECT_EQ(label("lb_FilePath")->text(), path);
    EXPECT_EQ(refreshed->count(), 0);
    waitForRefresh();
    const QImage& shown = image("img_Slice")->image();
    ASSERT_EQ(shown.size(), QSize(4, 4));
    // Window 0..256: value 240 at the last voxel scales to 239.06 -> 239.
    EXPECT_EQ(shown.pixelColor(3, 3), QColor(239, 239, 239));
    EXPECT_EQ(shown.pixelColor(0, 0), QColor(0, 0, 0));
    // The busy cursor of the refresh is gone again.
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
}

TEST_F(MainWindow, OpenDialogRemembersTheLastPathChosenInIt)
{
    start();
    const QString chosen = writeFile(QStringLiteral("chosen.raw"), QByteArray(4, '\1'));
    openThroughMenu(chosen);
    window->DropFileTarget1Drop({writeFile(QStringLiteral("dropped.raw"), QByteArray(4, '\2'))});
    openThroughMenu(QString()); // cancelled: keeps the last choice too
    openThroughMenu(QString());
    EXPECT_EQ(openInitialPaths, (QStringList{QString(), chosen, chosen}));
}

TEST_F(MainWindow, CancelledOpenChangesNothing)
{
    start();
    openThroughMenu(QString());
    EXPECT_EQ(label("lb_FilePath")->text(), QStringLiteral("Drag an MRI file onto this area"));
    EXPECT_FALSE(child<QTimer>("Timer1")->isActive());
}

TEST_F(MainWindow, FailedOpenShowsTheReason)
{
    start();
    openThroughMenu(tempDir.filePath(QStringLiteral("missing.raw")));
    EXPECT_EQ(label("lb_FilePath")->text(), QStringLiteral("File does not exist"));
    EXPECT_TRUE(child<QTimer>("Timer1")->isActive());
    waitForRefresh();
}

TEST_F(MainWindow, CloseRendersAtOnceAndShowsTheHint)
{
    start();
    setGeometry(2, 2, 1);
    waitForRefresh();
    openThroughMenu(writeFile(QStringLiteral("four.raw"), QByteArray(4, '\x80')));
    waitForRefresh();
    EXPECT_EQ(image("img_Slice")->image().pixelColor(0, 0), QColor(128, 128, 128));
    trigger("mi_Close");
    EXPECT_EQ(refreshed->count(), 1);
    EXPECT_EQ(label("lb_FilePath")->text(), QStringLiteral("Drag an MRI file onto this area"));
    EXPECT_EQ(image("img_Slice")->image().pixelColor(0, 0), QColor(0, 255, 255));
    EXPECT_TRUE(dataMgr->FileName.empty());
}

TEST_F(MainWindow, CloseWithoutAFileStillRenders)
{
    start();
    trigger("mi_Close");
    EXPECT_EQ(refreshed->count(), 1);
    EXPECT_EQ(label("lb_FilePath")->text(), QStringLiteral("Drag an MRI file onto this area"));
}

TEST_F(MainWindow, SecondFileKeepsEveryParameter)
{
    start();
    setGeometry(8, 6, 3, 1);
    choose(child<QComboBox>("cb_ByteOrder"), 1);
    paste(edit("ed_IntensityMin"), QStringLiteral("-7"));
    paste(edit("ed_SliceNumber"), QStringLiteral("2"));
    paste(edit("ed_CrossSliceViewY"), QStringLiteral("5"));
    paste(edit("ed_VolumeNumber"), QStringLiteral("3"));
    openThroughMenu(writeFile(QStringLiteral("a.raw"), QByteArray(100, '\1')));
    const QString second = writeFile(QStringLiteral("b.raw"), QByteArray(100, '\2'));
    openThroughMenu(second);
    waitForRefresh();
    EXPECT_EQ(label("lb_FilePath")->text(), second);
    EXPECT_EQ(dataMgr->DimSize(0), 8);
    EXPECT_EQ(dataMgr->DimSize(1), 6);
    EXPECT_EQ(dataMgr->DimSize(2), 3);
    EXPECT_EQ(dataMgr->DataType, vdtInt16);
    EXPECT_EQ(dataMgr->ByteOrder, boBigEndian);
    EXPECT_EQ(dataMgr->IntensityMin, -7);
    EXPECT_EQ(edit("ed_SliceNumber")->text(), QStringLiteral("2"));
    EXPECT_EQ(edit("ed_CrossSliceViewY")->text(), QStringLiteral("5"));
    EXPECT_EQ(edit("ed_VolumeNumber")->text(), QStringLiteral("3"));
    EXPECT_EQ(label("lb_NextSlice")->text(), QStringLiteral("Next Slice: 3"));
}

TEST_F(MainWindow, DropOpensOnlyTheFirstName)
{
    start();
    const QString first = writeFile(QStringLiteral("first.raw"), QByteArray(10, '\1'));
    const QString second = writeFile(QStringLiteral("second.raw"), QByteArray(10, '\2'));
    window->DropFileTarget1Drop({first, second, second});
    EXPECT_EQ(label("lb_FilePath")->text(), first);
    EXPECT_EQ(QString::fromStdString(dataMgr->FileName), first);
    waitForRefresh();

    window->DropFileTarget1Drop({});
    EXPECT_EQ(label("lb_FilePath")->text(), first);
    EXPECT_FALSE(child<QTimer>("Timer1")->isActive());
    EXPECT_TRUE(openTitles.isEmpty());
}

TEST_F(MainWindow, FileStripAcceptsDroppedFiles)
{
    start();
    TDropFileTarget* target = window->dropFileTarget();
    ASSERT_NE(target, nullptr);
    QWidget* strip = widget("pa_FileName");
    EXPECT_EQ(target->Target(), HwndFromWidget(strip));
    EXPECT_EQ(target->Dragtypes, TDragTypes{TDragType::dtCopy});
    EXPECT_FALSE(target->GetDataOnEnter);
    EXPECT_TRUE(target->ShowImage());

    const QString first = writeFile(QStringLiteral("first.raw"), QByteArray(10, '\1'));
    const QString second = writeFile(QStringLiteral("second.raw"), QByteArray(10, '\2'));
    QMimeData mime;
    mime.setUrls({QUrl::fromLocalFile(first), QUrl::fromLocalFile(second)});
    const QPoint pos = strip->rect().center();
    QDragEnterEvent enter(pos, Qt::CopyAction | Qt::MoveAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(strip, &enter);
    QDragMoveEvent move(pos, Qt::CopyAction | Qt::MoveAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(strip, &move);
    QDropEvent drop(QPointF(pos), Qt::CopyAction | Qt::MoveAction, &mime, Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(strip, &drop);

    EXPECT_TRUE(drop.isAccepted());
    EXPECT_EQ(drop.dropAction(), Qt::CopyAction);
    EXPECT_EQ(label("lb_FilePath")->text(), first);
    EXPECT_EQ(QString::fromStdString(dataMgr->FileName), first);
    waitForRefresh();
}

TEST_F(MainWindow, FileStripOpensTheFirstFileOfAnItemIdListDrop)
{
    start();
    const QString first = writeFile(QStringLiteral("first.raw"), QByteArray(10, '\1'));
    const QString second = writeFile(QStringLiteral("second.raw"), QByteArray(10, '\2'));
    // A source that offers nothing but "Shell IDList Array": the desktop
    // folder as parent, then one item list per file.
    const std::string block = MakeCidaBlock({ItemIdListFromPath("/"), ItemIdListFromPath(first.toStdString()),
                                             ItemIdListFromPath(second.toStdString())});
    QMimeData mime;
    mime.setData(QString::fromStdString(WindowsMimeType("Shell IDList Array")),
                 QByteArray(block.data(), static_cast<qsizetype>(block.size())));
    ASSERT_FALSE(mime.hasUrls());

    QWidget* strip = widget("pa_FileName");
    const QPoint pos = strip->rect().center();
    QDragEnterEvent enter(pos, Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(strip, &enter);
    QDragMoveEvent move(pos, Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(strip, &move);
    QDropEvent drop(QPointF(pos), Qt::CopyAction, &mime, Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(strip, &drop);

    EXPECT_TRUE(drop.isAccepted());
    EXPECT_EQ(drop.dropAction(), Qt::CopyAction);
    EXPECT_EQ(label("lb_FilePath")->text(), first);
    EXPECT_EQ(QString::fromStdString(dataMgr->FileName), first);
    waitForRefresh();
}

TEST_F(MainWindow, ClosingTheWindowClosesTheFile)
{
    start();
    window->DropFileTarget1Drop({writeFile(QStringLiteral("x.raw"), QByteArray(10, '\1'))});
    ASSERT_FALSE(dataMgr->FileName.empty());
    trigger("mi_Quit");
    EXPECT_FALSE(window->isVisible());
    EXPECT_TRUE(dataMgr->FileName.empty());
}

TEST_F(MainWindow, MenuAboutAndHelpAreRaised)
{
    QSignalSpy about(window.get(), &Tfm_Main::aboutRequested);
    QSignalSpy help(window.get(), &Tfm_Main::helpRequested);
    trigger("mi_About");
    trigger("mi_Help");
    EXPECT_EQ(about.count(), 1);
    EXPECT_EQ(help.count(), 1);
}

// ---- Intensity range ---------------------------------------------------

TEST_F(MainWindow, LetterAfterTheDesignZeroEmptiesTheMinimum)
{
    start();
    QLineEdit* low = edit("ed_IntensityMin");
    low->setFocus();
    low->end(false);
    QTest::keyClicks(low, QStringLiteral("a"));
    // Nothing was accepted in this edit yet: the refused text falls back
    // to the empty text, which counts as 0.
    EXPECT_EQ(low->text(), QString());
    EXPECT_FALSE(child<QTimer>("Timer1")->isActive());

    QLineEdit* high = edit("ed_IntensityMax");
    high->setFocus();
    high->end(false);
    QTest::keyClicks(high, QStringLiteral("a"));
    EXPECT_EQ(high->text(), QStringLiteral("256"));
}

struct IntensityTypingCase
{
    const char* description;
    const char* before; // accepted text first (pasted)
    int caret;          // caret before typing
    const char* keys;
    const char* expected;
    int expectedCaret;
    bool refreshes;
};

class MainWindowIntensityTyping : public MainWindow,
                                  public ::testing::WithParamInterface<IntensityTypingCase>
{
};

TEST_P(MainWindowIntensityTyping, AcceptsIntegersOnly)
{
    const IntensityTypingCase& c = GetParam();
    start();
    QLineEdit* high = edit("ed_IntensityMax");
    paste(high, QString::fromLatin1(c.before));
    high->setCursorPosition(c.caret);
    waitForRefresh();
    high->setFocus();
    QTest::keyClicks(high, QString::fromLatin1(c.keys));
    EXPECT_EQ(high->text(), QString::fromLatin1(c.expected));
    EXPECT_EQ(high->cursorPosition(), c.expectedCaret);
    EXPECT_EQ(child<QTimer>("Timer1")->isActive(), c.refreshes);
    EXPECT_EQ(dataMgr->IntensityMax, QString::fromLatin1(c.expected).toInt());
}

INSTANTIATE_TEST_SUITE_P(
    Keys, MainWindowIntensityTyping,
    ::testing::Values(IntensityTypingCase{"LetterAfterTwelve", "12", 2, "x", "12", 2, false},
                      IntensityTypingCase{"LoneMinusIntoEmpty", "", 0, "-", "", 0, false},
                      IntensityTypingCase{"MinusInFrontOfFive", "5", 0, "-", "-5", 1, true},
                      IntensityTypingCase{"TrailingBlank", "7", 1, " ", "7", 1, false},
                      IntensityTypingCase{"BeyondInt32", "214748364", 9, "8", "214748364", 9, false},
                      IntensityTypingCase{"Digit", "3", 1, "0", "30", 2, true}),
    [](const auto& info) { return std::string(info.param.description); });

TEST_F(MainWindow, PastedNegativeAndClearedIntensityAreAccepted)
{
    start();
    QLineEdit* low = edit("ed_IntensityMin");
    paste(low, QStringLiteral("-5"));
    EXPECT_EQ(low->text(), QStringLiteral("-5"));
    EXPECT_EQ(dataMgr->IntensityMin, -5);
    low->clear();
    EXPECT_EQ(low->text(), QString());
    EXPECT_EQ(dataMgr->IntensityMin, 0);
}

TEST_F(MainWindow, HeaderBytesTakeSixtyFourBitCountsOnly)
{
    start();
    QLineEdit* header = edit("ed_HeaderBytes");
    EXPECT_EQ(header->text(), QStringLiteral("0"));
    paste(header, QStringLiteral("9223372036854775807"));
    EXPECT_EQ(dataMgr->HeaderBytes, std::numeric_limits<std::int64_t>::max());
    EXPECT_TRUE(child<QTimer>("Timer1")->isActive());
    waitForRefresh();

    // Refused: beyond 2^63 - 1, negative, letters; the previous text and
    // caret come back and nothing refreshes.
    paste(header, QStringLiteral("352")); // accepted with the caret at 3
    waitForRefresh();
    header->setFocus();
    for (const char* keys : {"-", "x", " "}) {
        QTest::keyClicks(header, QString::fromLatin1(keys));
        EXPECT_EQ(header->text(), QStringLiteral("352")) << keys;
        EXPECT_EQ(header->cursorPosition(), 3) << keys;
        EXPECT_FALSE(child<QTimer>("Timer1")->isActive()) << keys;
    }
    paste(header, QStringLiteral("9223372036854775808"));
    EXPECT_EQ(header->text(), QStringLiteral("352"));
    EXPECT_EQ(dataMgr->HeaderBytes, 352);

    // Empty reads as 0; a hexadecimal count is a count.
    header->clear();
    EXPECT_EQ(dataMgr->HeaderBytes, 0);
    paste(header, QStringLiteral("0x200"));
    EXPECT_EQ(dataMgr->HeaderBytes, 512);
}

TEST_F(MainWindow, HeaderSkipsBytesAndSurvivesOpeningAndClosing)
{
    start();
    setGeometry(2, 1, 1);
    paste(edit("ed_HeaderBytes"), QStringLiteral("3"));
    openThroughMenu(writeFile(QStringLiteral("header.raw"), QByteArray("\x01\x02\x03\x40\x80", 5)));
    waitForRefresh();
    moveOver(image("img_Slice"), 1, 0);
    EXPECT_EQ(panel(1), QStringLiteral("Intens:        128"));
    EXPECT_EQ(panel(2), QStringLiteral("Voxel:          1  Byte Offset:          4 = 0x0000.0004"));
    trigger("mi_Close");
    openThroughMenu(writeFile(QStringLiteral("other.raw"), QByteArray(8, 7)));
    EXPECT_EQ(edit("ed_HeaderBytes")->text(), QStringLiteral("3"));
    EXPECT_EQ(dataMgr->HeaderBytes, 3);
}

TEST_F(MainWindow, AppliedLayoutGoesThroughTheControlsWithOneRefresh)
{
    start();
    // 2 x 2 x 2 UInt-16 big-endian behind 4 header bytes; slice 1 holds 100..400.
    QByteArray bytes("HDR!", 4);
    for (const int v : {1, 2, 3, 4, 100, 200, 300, 400}) {
        bytes.append(static_cast<char>(v >> 8));
        bytes.append(static_cast<char>(v & 0xFF));
    }
    openThroughMenu(writeFile(QStringLiteral("layout.raw"), bytes));
    waitForRefresh();
    refreshed->clear();

    VolumeLayout layout;
    layout.dims = {2, 2, 2};
    layout.dataType = vdtUInt16;
    layout.byteOrder = boBigEndian;
    layout.headerBytes = 4;
    window->applyLayout(layout, 1);
    EXPECT_EQ(edit("ed_VoxelsPerRow")->text(), QStringLiteral("2"));
    EXPECT_EQ(edit("ed_SlicesPerVolume")->text(), QStringLiteral("2"));
    EXPECT_EQ(edit("ed_SliceNumber")->text(), QStringLiteral("1"));
    EXPECT_EQ(edit("ed_HeaderBytes")->text(), QStringLiteral("4"));
    EXPECT_EQ(child<QComboBox>("cb_DataType")->currentIndex(), static_cast<int>(vdtUInt16));
    EXPECT_EQ(child<QComboBox>("cb_ByteOrder")->currentIndex(), static_cast<int>(boBigEndian));
    EXPECT_EQ(edit("ed_IntensityMin")->text(), QStringLiteral("100"));
    EXPECT_EQ(edit("ed_IntensityMax")->text(), QStringLiteral("400"));
    EXPECT_EQ(refreshed->count(), 0) << "nothing renders before the timer";
    waitForRefresh(); // exactly one
    QTest::qWait(400);
    EXPECT_EQ(refreshed->count(), 0) << "and no second one";
    EXPECT_EQ(dataMgr->ObservedMin, 100.0f);
    EXPECT_EQ(dataMgr->ObservedMax, 400.0f);
}

struct PresetCase
{
    const char* action;
    int dataType;
    const char* low;
    const char* high;
};

class MainWindowPreset : public MainWindow, public ::testing::WithParamInterface<PresetCase>
{
};

TEST_P(MainWindowPreset, WritesThePairForTheDataType)
{
    const PresetCase& c = GetParam();
    start();
    choose(child<QComboBox>("cb_DataType"), c.dataType);
    trigger(c.action);
    EXPECT_EQ(edit("ed_IntensityMin")->text(), QString::fromLatin1(c.low));
    EXPECT_EQ(edit("ed_IntensityMax")->text(), QString::fromLatin1(c.high));
    EXPECT_EQ(dataMgr->IntensityMin, QString::fromLatin1(c.low).toInt());
    EXPECT_EQ(dataMgr->IntensityMax, QString::fromLatin1(c.high).toInt());
}

INSTANTIATE_TEST_SUITE_P(
    Items, MainWindowPreset,
    ::testing::Values(PresetCase{"pi_IR_Full", 1, "-32768", "32767"},
                      PresetCase{"pi_IR_Full", 3, "-10000", "10000"},
                      PresetCase{"pi_IR_Full", 2, "-2147483648", "2147483647"},
                      PresetCase{"pi_IR_Pos", 0, "0", "255"},
                      PresetCase{"pi_IR_m1to1", 0, "0", "1"},
                      PresetCase{"pi_IR_m1to1", 2, "-1", "1"},
                      PresetCase{"pi_IR_0to1", 3, "0", "1"},
                      PresetCase{"pi_IR_0to10000", 0, "0", "255"},
                      PresetCase{"pi_IR_0to10000", 1, "0", "10000"}),
    [](const auto& info) {
        std::string name = info.param.action;
        std::erase(name, '_');
        return name + "Type" + std::to_string(info.param.dataType);
    });

TEST_F(MainWindow, PresetChosenTwiceRefreshesOnce)
{
    start();
    trigger("pi_IR_0to255");
    waitForRefresh();
    trigger("pi_IR_0to255");
    EXPECT_FALSE(child<QTimer>("Timer1")->isActive());
    QTest::qWait(400);
    EXPECT_EQ(refreshed->count(), 0);
}

TEST_F(MainWindow, GroupBoxRightClickOffersThePresets)
{
    start();
    auto* group = child<QGroupBox>("GroupBox1");
    EXPECT_EQ(group->contextMenuPolicy(), Qt::CustomContextMenu);
    auto* menu = child<QMenu>("pop_IntensityRange");
    emit group->customContextMenuRequested(QPoint(5, 5));
    EXPECT_TRUE(menu->isVisible());
    menu->hide();
}

struct ApplyCase
{
    const char* description;
    float lowest;
    float highest;
    const char* low;
    const char* high;
};

class MainWindowApply : public MainWindow, public ::testing::WithParamInterface<ApplyCase>
{
};

TEST_P(MainWindowApply, TakesTheRangeOfTheRenderedSlice)
{
    const ApplyCase& c = GetParam();
    start();
    setGeometry(2, 2, 1, 3);
    openThroughMenu(writeFile(QStringLiteral("range.raw"), bytesOf({c.lowest, 1.0f, 2.0f, c.highest})));
    waitForRefresh();
    child<QPushButton>("bt_UseIntensity")->click();
    EXPECT_EQ(edit("ed_IntensityMin")->text(), QString::fromLatin1(c.low));
    EXPECT_EQ(edit("ed_IntensityMax")->text(), QString::fromLatin1(c.high));
    EXPECT_TRUE(child<QTimer>("Timer1")->isActive());
}

INSTANTIATE_TEST_SUITE_P(
    Ranges, MainWindowApply,
    // Float data: the exact range, with the label's decimals where they hold it.
    ::testing::Values(ApplyCase{"Halves", -12.5f, 300.5f, "-12.50", "300.50"},
                      ApplyCase{"HugeMaximum", -1.0f, 3.0e38f, "-1", "3.000000E+38"},
                      ApplyCase{"HugeMinimum", -3.0e38f, 2.5f, "-3.000000E+38", "2.50"},
                      ApplyCase{"Thousandths", 0.001f, 2.0f, "0.001", "2"}),
    [](const auto& info) { return std::string(info.param.description); });

TEST_F(MainWindow, FromSelectedSliceActsAsApply)
{
    start();
    setGeometry(2, 2, 1, 3);
    openThroughMenu(writeFile(QStringLiteral("range.raw"), bytesOf({-3.5f, 1.0f, 2.0f, 9.5f})));
    waitForRefresh();
    trigger("pi_IR_Selected");
    EXPECT_EQ(edit("ed_IntensityMin")->text(), QStringLiteral("-3.50"));
    EXPECT_EQ(edit("ed_IntensityMax")->text(), QStringLiteral("9.50"));
}

// Windows whole 32-bit numbers cannot frame: Float-32 values in
// [0.001, 0.009] and UInt-32 values near 3e9 get a full grey ramp from
// "Apply"; the edits take decimals and, for UInt-32, integers to 4294967295.
TEST_F(MainWindow, ApplyFramesSmallFloatsAndLargeUnsignedValues)
{
    const auto greysOfSlice = [&] {
        std::set<int> greys;
        const QImage& shown = image("img_Slice")->image();
        for (int y = 0; y < shown.height(); ++y)
            for (int x = 0; x < shown.width(); ++x)
                greys.insert(qRed(shown.pixel(x, y)));
        return greys;
    };
    start();
    std::vector<float> small;
    for (int i = 0; i < 16; ++i)
        small.push_back(i == 15 ? 0.009f : 0.001f + 0.008f * static_cast<float>(i) / 15.0f);
    setGeometry(4, 4, 1, vdtFloat32);
    openThroughMenu(writeFile(QStringLiteral("small.raw"), bytesOf(small)));
    waitForRefresh();
    EXPECT_LE(greysOfSlice().size(), 2u); // the start-up window 0..256
    child<QPushButton>("bt_UseIntensity")->click();
    waitForRefresh();
    EXPECT_EQ(edit("ed_IntensityMin")->text(), QStringLiteral("0.001"));
    EXPECT_EQ(edit("ed_IntensityMax")->text(), QStringLiteral("0.009"));
    std::set<int> greys = greysOfSlice();
    EXPECT_EQ(greys.size(), 16u);
    EXPECT_EQ(*greys.begin(), 0);
    EXPECT_EQ(*greys.rbegin(), 255);

    QByteArray large;
    for (std::uint32_t i = 0; i < 16; ++i) {
        const std::uint32_t v = 3000000000u + i * 1000u;
        for (int b = 0; b < 4; ++b)
            large.append(static_cast<char>(v >> (8 * b)));
    }
    setGeometry(4, 4, 1, vdtUInt32);
    openThroughMenu(writeFile(QStringLiteral("large.raw"), large));
    waitForRefresh();
    child<QPushButton>("bt_UseIntensity")->click();
    waitForRefresh();
    // The observed range is that of the values' nearest floats.
    EXPECT_EQ(edit("ed_IntensityMin")->text(), QStringLiteral("3000000000"));
    EXPECT_EQ(edit("ed_IntensityMax")->text(), QStringLiteral("3000015104"));
    greys = greysOfSlice();
    EXPECT_EQ(greys.size(), 16u);
    EXPECT_EQ(*greys.rbegin(), 255);
    // Typed: a decimal end, and beyond 2^31 for UInt-32 only.
    typeInto(edit("ed_IntensityMax"), QStringLiteral("3.0000075e9"));
    EXPECT_EQ(edit("ed_IntensityMax")->text(), QStringLiteral("3.0000075e9"));
    waitForRefresh();
    EXPECT_EQ(dataMgr->IntensityMax, 3000007500.0);
    choose(child<QComboBox>("cb_DataType"), vdtInt32);
    paste(edit("ed_IntensityMax"), QStringLiteral("4294967295"));
    EXPECT_EQ(edit("ed_IntensityMax")->text(), QStringLiteral("3.0000075e9")); // refused: not a 32-bit integer
}

// ---- Voxel readout -----------------------------------------------------

struct ReadoutCase
{
    const char* image;
    int x, y;
    const char* panel0;
};

class MainWindowReadout : public MainWindow, public ::testing::WithParamInterface<ReadoutCase>
{
};

TEST_P(MainWindowReadout, ShowsTheIndicesOfTheView)
{
    const ReadoutCase& c = GetParam();
    start();
    paste(edit("ed_SliceNumber"), QStringLiteral("3"));
    paste(edit("ed_CrossSliceViewY"), QStringLiteral("40"));
    paste(edit("ed_VolumeNumber"), QStringLiteral("2"));
    waitForRefresh();
    moveOver(image(c.image), c.x, c.y);
    EXPECT_EQ(panel(0), QString::fromLatin1(c.panel0));
    EXPECT_TRUE(panel(1).startsWith(QStringLiteral("Intens: ")));
    EXPECT_TRUE(panel(2).startsWith(QStringLiteral("Voxel: ")));
}

INSTANTIATE_TEST_SUITE_P(
    Views, MainWindowReadout,
    ::testing::Values(ReadoutCase{"img_Slice", 12, 34, "[  12,   34,    3,    0 ]"},
                      ReadoutCase{"img_NextSlice", 1, 2, "[   1,    2,    4,    0 ]"},
                      ReadoutCase{"img_CrossSliceView", 5, 9, "[   5,   40,    9,    0 ]"},
                      ReadoutCase{"img_OtherVolume", 0, 255, "[   0,  255,    3,    2 ]"}),
    [](const auto& info) {
        std::string name = info.param.image;
        std::erase(name, '_');
        return name;
    });

TEST_F(MainWindow, ReadoutShowsValueAndOffsets)
{
    start();
    setGeometry(2, 2, 1, 3);
    openThroughMenu(writeFile(QStringLiteral("values.raw"), bytesOf({0.0f, 1.5f, 2.0f, 3.0f})));
    waitForRefresh();
    moveOver(image("img_Slice"), 0, 0);
    EXPECT_EQ(panel(2), QStringLiteral("Voxel:          0  Byte Offset:          0 = 0x0000.0000"));
    moveOver(image("img_Slice"), 1, 0);
    EXPECT_EQ(panel(1), QStringLiteral("Intens:     1.5000"));
    EXPECT_EQ(panel(2), QStringLiteral("Voxel:          1  Byte Offset:          4 = 0x0000.0004"));

    choose(child<QComboBox>("cb_DataType"), 1);
    waitForRefresh();
    // The bytes 0x00 0x00 0xC0 0x3F read as int16 little-endian: 0 and 16320.
    moveOver(image("img_Slice"), 1, 1);
    EXPECT_EQ(panel(1), QStringLiteral("Intens:      16320"));
}

TEST_F(MainWindow, NumbersFollowTheLocale)
{
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    start();
    paste(edit("ed_SliceNumber"), QStringLiteral("3"));
    waitForRefresh();
    moveOver(image("img_Slice"), 12, 34);
    const QString intensityLabel = label("lb_Intensity")->text();
    const QString offsets = panel(2);
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
    EXPECT_EQ(intensityLabel, QStringLiteral("Intens:       0,00 to       0,00"));
    EXPECT_EQ(offsets, QStringLiteral("Voxel:    205.324  Byte Offset:    205.324 = 0x0003.220C"));
}

TEST_F(MainWindow, ReadoutFollowsTheRenderedViewsNotTheEdits)
{
    start();
    paste(edit("ed_SliceNumber"), QStringLiteral("7"));
    waitForRefresh();
    paste(edit("ed_SliceNumber"), QStringLiteral("9"));
    ASSERT_TRUE(child<QTimer>("Timer1")->isActive());
    moveOver(image("img_Slice"), 12, 34);
    EXPECT_EQ(panel(0), QStringLiteral("[  12,   34,    7,    0 ]"));
    waitForRefresh();
    moveOver(image("img_Slice"), 12, 34);
    EXPECT_EQ(panel(0), QStringLiteral("[  12,   34,    9,    0 ]"));
}

// ---- End to end --------------------------------------------------------

TEST_F(MainWindow, ViewsEqualTheCommandLineRenderer)
{
    const QString sample = QStringLiteral(KELVOX_SAMPLES_DIR "/head_128x128x64x2_i16be.raw");
    const QString renderer = QStringLiteral(KELVOX_BINARY_DIR "/tools/kelvox-render");
    ASSERT_TRUE(QFile::exists(sample)) << sample.toStdString();
    ASSERT_TRUE(QFile::exists(renderer)) << renderer.toStdString();

    showInt16Sample(sample);

    const std::array<std::pair<const char*, const char*>, 4> views{{{"slice", "img_Slice"},
                                                                    {"next", "img_NextSlice"},
                                                                    {"cross", "img_CrossSliceView"},
                                                                    {"other", "img_OtherVolume"}}};
    for (const auto& [view, imageName] : views) {
        const QString png = tempDir.filePath(QString::fromLatin1(view) + QStringLiteral(".png"));
        QProcess process;
        process.start(renderer, {sample, QStringLiteral("--dims"), QStringLiteral("128x128x64"),
                                 QStringLiteral("--type"), QStringLiteral("i16"),
                                 QStringLiteral("--order"), QStringLiteral("big"),
                                 QStringLiteral("--window"), QStringLiteral("-100:1500"),
                                 QStringLiteral("--view"), QString::fromLatin1(view),
                                 QStringLiteral("--slice"), QStringLiteral("30"),
                                 QStringLiteral("--row"), QStringLiteral("70"),
                                 QStringLiteral("--volume"), QStringLiteral("1"),
                                 QStringLiteral("--out"), png});
        ASSERT_TRUE(process.waitForFinished(30000));
        ASSERT_EQ(process.exitCode(), 0) << process.readAllStandardError().toStdString();
        const QImage expected = QImage(png).convertToFormat(QImage::Format_RGB888);
        const QImage& shown = image(imageName)->image();
        ASSERT_EQ(shown.size(), expected.size()) << view;
        EXPECT_TRUE(shown == expected) << view;
        // The picture is not trivially uniform: the phantom shows.
        EXPECT_NE(shown.pixelColor(0, 0), shown.pixelColor(shown.width() / 2, shown.height() / 2)) << view;
    }
}

// ---- Zoom ----------------------------------------------------------------

TEST_F(MainWindow, ZoomedViewsEqualTheCommandLineRendererAndReadTheVoxelUnderThePointer)
{
    const QString sample = QStringLiteral(KELVOX_SAMPLES_DIR "/head_128x128x64x2_i16be.raw");
    const QString renderer = QStringLiteral(KELVOX_BINARY_DIR "/tools/kelvox-render");
    showInt16Sample(sample);

    // Zoom Out twice from 1:1, then Actual Size and Zoom In twice.
    const std::vector<std::tuple<std::vector<const char*>, const char*, QString>> steps{
        {{"mi_ZoomOut", "mi_ZoomOut"}, "1:4", QStringLiteral("[  20,   36,   30,    0 ]")},
        {{"mi_ActualSize", "mi_ZoomIn", "mi_ZoomIn"}, "3:1", QStringLiteral("[   1,    3,   30,    0 ]")},
    };
    for (const auto& [actions, zoom, readout] : steps) {
        for (const char* action : actions) {
            trigger(action);
            waitForZoomRefresh();
        }
        EXPECT_EQ(label("StatusBar1Zoom")->text(), QStringLiteral("Zoom ") + QString::fromLatin1(zoom));
        for (const auto& [view, imageName] : std::array<std::pair<const char*, const char*>, 2>{
                 {{"slice", "img_Slice"}, {"cross", "img_CrossSliceView"}}}) {
            const QString png = tempDir.filePath(QString::fromLatin1(view) + QStringLiteral(".png"));
            QProcess process;
            process.start(renderer, {sample, QStringLiteral("--dims=128x128x64"), QStringLiteral("--type=i16"),
                                     QStringLiteral("--order=big"), QStringLiteral("--window=-100:1500"),
                                     QStringLiteral("--view"), QString::fromLatin1(view),
                                     QStringLiteral("--slice=30"), QStringLiteral("--row=70"),
                                     QStringLiteral("--zoom"), QString::fromLatin1(zoom),
                                     QStringLiteral("--out"), png});
            ASSERT_TRUE(process.waitForFinished(30000));
            ASSERT_EQ(process.exitCode(), 0) << process.readAllStandardError().toStdString();
            const QImage expected = QImage(png).convertToFormat(QImage::Format_RGB888);
            ViewImageWidget* shown = image(imageName);
            ASSERT_EQ(shown->size(), expected.size()) << view << " " << zoom;
            EXPECT_TRUE(shown->grab().toImage().convertToFormat(QImage::Format_RGB888) == expected)
                << view << " " << zoom;
        }
        // A fractional position names the voxel whose pixel it lies in.
        const QPointF local(5.5, 9.75);
        QWidget* target = image("img_Slice");
        QMouseEvent move(QEvent::MouseMove, local, target->mapToGlobal(local), Qt::NoButton, Qt::NoButton,
                         Qt::NoModifier);
        QApplication::sendEvent(target, &move);
        EXPECT_EQ(panel(0), readout) << zoom;
    }
}

TEST_F(MainWindow, FitShowsTheFourViewsWithoutScrollingAndFollowsTheAreaSize)
{
    start();
    setGeometry(1000, 800, 300);
    waitForRefresh();
    trigger("mi_ZoomFit");
    waitForZoomRefresh();
    auto* area = child<QScrollArea>("ScrollBox_Bottom");
    const auto expectFit = [&] {
        const QSize size = area->maximumViewportSize();
        const TViewZoom expected = fitZoom({1000, 800, 300}, size.width(), size.height(), ViewPanelTop);
        EXPECT_TRUE(window->zoomFollowsFit());
        EXPECT_EQ(window->zoom(), expected) << zoomText(window->zoom());
        EXPECT_EQ(label("StatusBar1Zoom")->text(), QStringLiteral("Fit ") + QString::fromStdString(zoomText(expected)));
        EXPECT_LE(widget("ScrollBox_BottomContents")->width(), size.width());
        EXPECT_LE(widget("ScrollBox_BottomContents")->height(), size.height());
        EXPECT_EQ(image("img_Slice")->width(), expected.pixelsFor(1000));
    };
    expectFit();
    const TViewZoom small = window->zoom();
    window->resize(window->width() + 900, window->height() + 600);
    waitForRefresh();
    expectFit();
    EXPECT_NE(window->zoom(), small);
    // A tiny volume is magnified.
    setGeometry(33, 41, 25);
    waitForRefresh();
    EXPECT_GT(window->zoom().in, 1);
    // Ctrl + wheel over a view leaves Fit for the next step.
    const TViewZoom fitted = window->zoom();
    QWidget* target = image("img_Slice");
    QWheelEvent wheel(QPointF(2, 2), target->mapToGlobal(QPointF(2, 2)), QPoint(), QPoint(0, -120), Qt::NoButton,
                      Qt::ControlModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(target, &wheel);
    waitForZoomRefresh();
    EXPECT_FALSE(window->zoomFollowsFit());
    EXPECT_EQ(window->zoom(), zoomedOut(fitted));
}

// ---- Renders off the window's thread -------------------------------------

// Slows every read of the renders down (or fails it) while installed.
class SlowReads final : public InstalledReadObserver
{
public:
    void beforeRead(std::int64_t, std::size_t) override
    {
        ++reads;
        if (fail) {
            throw std::runtime_error("The disk has gone away");
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(delayMs.load()));
    }
    std::atomic<int> reads{0};
    std::atomic<int> delayMs{0};
    std::atomic<bool> fail{false};
};

// Processes events until done() holds or ms pass; whether it held.
template <typename Done> bool spinUntil(Done done, int ms = RefreshWaitMs)
{
    QElapsedTimer timer;
    timer.start();
    while (!done() && timer.elapsed() < ms) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    }
    return done();
}

class MainWindowRenders : public MainWindow
{
protected:
    // 16 x 16 x 64 bytes, every voxel of slice s holding s.
    void openSlices()
    {
        QByteArray bytes;
        for (int s = 0; s < 64; ++s) {
            bytes.append(QByteArray(256, static_cast<char>(s)));
        }
        start();
        setGeometry(16, 16, 64);
        window->DropFileTarget1Drop({writeFile(QStringLiteral("slices.raw"), bytes)});
        waitForRefresh();
        slow.reads = 0;
    }
    int sliceGrey() const { return image("img_Slice")->image().pixelColor(0, 0).red(); }

    SlowReads slow;
};

TEST_F(MainWindowRenders, AKeyPressDuringASlowRefreshIsHandledAtOnce)
{
    openSlices();
    slow.delayMs = 20; // the cross-slice view alone now takes 64 reads
    QElapsedTimer timer;
    timer.start();
    window->RefreshViews();
    ASSERT_TRUE(spinUntil([&] { return slow.reads > 0; }));
    EXPECT_TRUE(window->viewsLoading());
    EXPECT_TRUE(image("img_CrossSliceView")->loading());
    timer.restart();
    QLineEdit* slice = edit("ed_SliceNumber");
    QCoreApplication::postEvent(slice, new QKeyEvent(QEvent::KeyPress, Qt::Key_Up, Qt::NoModifier));
    ASSERT_TRUE(spinUntil([&] { return slice->text() == QStringLiteral("1"); }));
    EXPECT_LT(timer.elapsed(), 50);
    // The change superseded the render: it reads no further.
    const int readsThen = slow.reads;
    QTest::qWait(100);
    EXPECT_LE(slow.reads, readsThen + 1);
    slow.delayMs = 0;
    waitForRefresh();
    EXPECT_FALSE(window->viewsLoading());
    EXPECT_FALSE(image("img_CrossSliceView")->loading());
    EXPECT_EQ(label("lb_NextSlice")->text(), QStringLiteral("Next Slice: 2"));
}

TEST_F(MainWindowRenders, ARenderOfAnOlderGuessNeverLands)
{
    openSlices();
    ASSERT_EQ(sliceGrey(), 0);
    // The refresh for slice 5 is held up in its first read...
    slow.delayMs = 200;
    paste(edit("ed_SliceNumber"), QStringLiteral("5"));
    ASSERT_TRUE(spinUntil([&] { return slow.reads > 0; }));
    // ... when slice 9 is asked for: the read ends, but its picture never
    // lands and nothing more is read for it.
    paste(edit("ed_SliceNumber"), QStringLiteral("9"));
    slow.delayMs = 0;
    child<QTimer>("Timer1")->stop(); // the new refresh comes when the test asks
    QTest::qWait(400);
    EXPECT_EQ(sliceGrey(), 0);
    EXPECT_EQ(slow.reads, 1);
    EXPECT_EQ(refreshed->count(), 0);
    window->RefreshViews();
    waitForRefresh();
    EXPECT_EQ(sliceGrey(), 9); // 9 under the window 0..256
    moveOver(image("img_Slice"), 1, 2);
    EXPECT_EQ(panel(0), QStringLiteral("[   1,    2,    9,    0 ]"));
}

TEST_F(MainWindowRenders, ClosingTheFileOrTheWindowDuringARenderIsSafe)
{
    openSlices();
    slow.delayMs = 50;
    window->RefreshViews();
    ASSERT_TRUE(spinUntil([&] { return slow.reads > 0; }));
    trigger("mi_Close"); // renders the views at once, with nothing to read
    EXPECT_EQ(image("img_Slice")->image().pixelColor(0, 0), QColor(0, 255, 255));
    QTest::qWait(150);
    EXPECT_EQ(image("img_Slice")->image().pixelColor(0, 0), QColor(0, 255, 255));
    EXPECT_FALSE(window->viewsLoading());

    window->DropFileTarget1Drop({tempDir.filePath(QStringLiteral("slices.raw"))});
    ASSERT_TRUE(spinUntil([&] { return window->viewsLoading(); }));
    ASSERT_TRUE(spinUntil([&] { return slow.reads > 1; }));
    QElapsedTimer timer;
    timer.start();
    window.reset();
    EXPECT_LT(timer.elapsed(), 1000);
}

TEST_F(MainWindowRenders, AFailedRenderReachesTheErrorMessage)
{
    openSlices();
    slow.fail = true;
    window->RefreshViews();
    waitForRefresh();
    EXPECT_EQ(errors, QStringList{QStringLiteral("The disk has gone away")});
    EXPECT_FALSE(image("img_Slice")->loading());
    errors.clear();
}

// ---- Start-up file, file names, faces ------------------------------------

TEST_F(MainWindow, StartFileOpensRightAfterTheFirstActivationDefaults)
{
    const QString path = writeFile(QStringLiteral("start.raw"), QByteArray(16, '\7'));
    window->openFileAtStart(path);
    // Nothing happens before the window's first activation.
    EXPECT_TRUE(dataMgr->FileName.empty());
    EXPECT_EQ(label("lb_FilePath")->text(), QStringLiteral("Drag an MRI file onto this area"));

    start();
    EXPECT_EQ(label("lb_FilePath")->text(), path);
    EXPECT_EQ(QString::fromStdString(dataMgr->FileName), path);
    EXPECT_EQ(edit("ed_VoxelsPerRow")->text(), QStringLiteral("256"));
    EXPECT_EQ(dataMgr->DimSize(0), 256);
    // As after File > Open, the open dialog starts at that file.
    openThroughMenu(QString());
    EXPECT_EQ(openInitialPaths, QStringList{path});

    // After the activation it opens at once.
    window->openFileAtStart(tempDir.filePath(QStringLiteral("missing.raw")));
    EXPECT_EQ(label("lb_FilePath")->text(), QStringLiteral("File does not exist"));
    EXPECT_TRUE(dataMgr->FileName.empty());
}

TEST_F(MainWindow, StartLayoutFileKeepsItsLayoutOverTheDefaults)
{
    // A MetaImage header naming 4 x 3 x 2 UInt-16 big-endian voxels behind
    // 6 bytes of its data file.
    QByteArray data(6, 'H');
    for (int v = 0; v < 24; ++v) {
        data.append(static_cast<char>(v >> 8));
        data.append(static_cast<char>(v & 0xFF));
    }
    writeFile(QStringLiteral("start.raw"), data);
    const QString header = writeFile(
        QStringLiteral("start.mhd"),
        "ObjectType = Image\nNDims = 3\nDimSize = 4 3 2\nElementType = MET_USHORT\n"
        "ElementByteOrderMSB = True\nHeaderSize = 6\nElementDataFile = start.raw\n");
    window->openFileAtStart(header);
    start();
    EXPECT_EQ(edit("ed_VoxelsPerRow")->text(), QStringLiteral("4"));
    EXPECT_EQ(edit("ed_RowsPerSlice")->text(), QStringLiteral("3"));
    EXPECT_EQ(edit("ed_SlicesPerVolume")->text(), QStringLiteral("2"));
    EXPECT_EQ(edit("ed_HeaderBytes")->text(), QStringLiteral("6"));
    EXPECT_EQ(child<QComboBox>("cb_DataType")->currentIndex(), static_cast<int>(vdtUInt16));
    EXPECT_EQ(child<QComboBox>("cb_ByteOrder")->currentIndex(), static_cast<int>(boBigEndian));
    // The middle slice, 1, holds 12..23: its last voxel is 23.
    EXPECT_EQ(edit("ed_SliceNumber")->text(), QStringLiteral("1"));
    moveOver(image("img_Slice"), 3, 2);
    EXPECT_EQ(panel(1), QStringLiteral("Intens:         23"));
}

TEST_F(MainWindow, DroppedLocalhostUrlOfALatin1NameOpensThatFile)
{
    start();
    // A name that is not UTF-8: "caf" and Latin-1 e-acute.
    const QByteArray folder = QFile::encodeName(tempDir.path());
    const QByteArray name = folder + "/caf\xE9.raw";
    {
        // Written through the bytes: QFile would take the name as UTF-8.
        FILE* f = std::fopen(name.constData(), "wb");
        ASSERT_NE(f, nullptr);
        std::fputs("abcd", f);
        std::fclose(f);
    }
    QMimeData mime;
    mime.setUrls({QUrl::fromEncoded("file://localhost" + folder.toPercentEncoding("/") + "/caf%E9.raw")});
    QWidget* strip = widget("pa_FileName");
    const QPoint pos = strip->rect().center();
    QDragEnterEvent enter(pos, Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(strip, &enter);
    QDropEvent drop(QPointF(pos), Qt::CopyAction, &mime, Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(strip, &drop);
    EXPECT_TRUE(drop.isAccepted());
    EXPECT_EQ(dataMgr->FileName, name.toStdString());
    EXPECT_TRUE(dataMgr->ErrorText.empty()) << dataMgr->ErrorText;
    waitForRefresh();
}

TEST_F(MainWindow, CaptionsAndStatusBarKeepTheirFacesAtNormalWidth)
{
    start();
    const QFont windowFace = window->font();
    for (const char* name : {"StatusBar1Panel0", "StatusBar1Panel1", "StatusBar1Panel2", "ZebRotateLabel1",
                             "ZebRotateLabel4"}) {
        const QFont face = widget(name)->font();
        EXPECT_EQ(face.stretch(), QFont::Unstretched) << name;
        EXPECT_NE(face.family(), windowFace.family()) << name;
        EXPECT_EQ(face.pixelSize(), 11) << name;
    }
    // The window's own stand-in face stays narrowed where it stands in.
    if (QFontInfo(windowFace).family() != windowFace.family()) {
        EXPECT_LT(windowFace.stretch(), QFont::Unstretched);
    }
}

} // namespace

// The "Guess Layout" dialog and File > Guess Layout... in the main window.

#include "ui/Kelvox_fm_Guess.h"

#include "platform/Ole.h"
#include "ui/Kelvox_Dialogs.h"
#include "ui/Kelvox_fm_Main.h"
#include "volume/Kelvox_DataMgr.h"

#include "support/LayoutBuilders.h"
#include "support/MainWindowFixture.h"
#include "support/ReadObservers.h"

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QFile>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <functional>
#include <memory>

namespace
{

const QString Samples = QStringLiteral(KELVOX_SAMPLES_DIR);
const std::string ByteSample = std::string(KELVOX_SAMPLES_DIR) + "/head_256x256x64_u8.raw";

TEST(LayoutInWords, NamesTheLayoutAsTheWindowDoes)
{
    EXPECT_EQ(layoutInWords(layoutOf({256, 256, 108}, vdtInt16, boLittleEndian, 0)),
              QStringLiteral("256 × 256 × 108, Int-16 (signed), Lil-Endian (Intel), header 0"));
    EXPECT_EQ(layoutInWords(layoutOf({64, 64, 32}, vdtFloat64, boBigEndian, 348, 2)),
              QStringLiteral("64 × 64 × 32, Float-64, Big-Endian, header 348, 2 volumes"));
    // One byte per voxel has no byte order.
    EXPECT_EQ(layoutInWords(layoutOf({320, 200, 16}, vdtByte, boBigEndian, 1001)),
              QStringLiteral("320 × 200 × 16, Byte (unsigned), header 1001"));
}

QString writeFile(const QTemporaryDir& dir, const QString& name, const QByteArray& bytes)
{
    const QString path = dir.filePath(name);
    QFile file(path);
    EXPECT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(bytes);
    return path;
}

// The thumbnail spans the middle slice's own range: its darkest voxel black,
// its brightest white, whatever the other slices hold.
TEST(MiddleSliceThumbnail, UsesTheSlicesOwnRangeScaledTo96)
{
    QTemporaryDir dir;
    QByteArray bytes("HDR!", 4); // 2 x 2 x 3 UInt-16 big-endian; slice 1 holds 100..400
    for (const int v : {1, 2, 3, 4, 100, 200, 300, 400, 9000, 9000, 9000, 9000}) {
        bytes.append(static_cast<char>(v >> 8));
        bytes.append(static_cast<char>(v & 0xFF));
    }
    TKelvoxDataMgr mgr;
    mgr.OpenFile(writeFile(dir, QStringLiteral("t.raw"), bytes).toStdString());
    const QImage t = middleSliceThumbnail(mgr, layoutOf({2, 2, 3}, vdtUInt16, boBigEndian, 4));
    ASSERT_EQ(t.size(), QSize(96, 96));
    int darkest = 255, brightest = 0;
    for (int y = 0; y < t.height(); ++y)
        for (int x = 0; x < t.width(); ++x) {
            darkest = std::min(darkest, qGray(t.pixel(x, y)));
            brightest = std::max(brightest, qGray(t.pixel(x, y)));
        }
    EXPECT_LE(darkest, 8);
    EXPECT_GE(brightest, 247);
    // An oblong slice keeps its shape; a slice the window cannot show has none.
    EXPECT_EQ(middleSliceThumbnail(mgr, layoutOf({4, 1, 3}, vdtUInt16, boBigEndian, 0)).size(), QSize(96, 24));
    EXPECT_TRUE(middleSliceThumbnail(mgr, layoutOf({20000, 1, 1}, vdtByte, boLittleEndian, 0)).isNull());
}

// A thumbnail of a large slice reads only the rows it can show.
TEST(MiddleSliceThumbnail, ReadsOnlyTheRowsItShows)
{
    QTemporaryDir dir;
    QByteArray bytes(2000 * 2000, '\0');
    for (int i = 0; i < bytes.size(); ++i)
        bytes[i] = static_cast<char>(i % 2000 < 1000 ? 10 : 200);
    TKelvoxDataMgr mgr;
    mgr.OpenFile(writeFile(dir, QStringLiteral("big.raw"), bytes).toStdString());
    CountingReads counter;
    const QImage t = middleSliceThumbnail(mgr, layoutOf({2000, 2000, 1}, vdtByte, boLittleEndian, 0));
    EXPECT_EQ(t.size(), QSize(96, 96));
    // Two renders (range, then pixels) of every 20th row: 100 rows each.
    EXPECT_EQ(counter.reads, 200);
    EXPECT_LE(counter.bytes, 200 * 2000);
    EXPECT_LT(qGray(t.pixel(10, 50)), 20);
    EXPECT_GT(qGray(t.pixel(85, 50)), 235);
}

QTableWidget* table(const Tfm_Guess& d)
{
    return d.findChild<QTableWidget*>(QStringLiteral("tw_Candidates"));
}

QPushButton* button(const QWidget& d, const char* name)
{
    return d.findChild<QPushButton*>(QString::fromLatin1(name));
}

TEST(GuessDialog, ListsTheCandidatesBestFirst)
{
    const Tfm_Guess dialog(ByteSample);
    EXPECT_EQ(dialog.windowTitle(), QStringLiteral("Guess Layout"));
    QTableWidget* rows = table(dialog);
    ASSERT_NE(rows, nullptr);
    const auto& candidates = dialog.candidates();
    ASSERT_FALSE(candidates.empty());
    EXPECT_LE(candidates.size(), 8u);
    ASSERT_EQ(rows->rowCount(), static_cast<int>(candidates.size()));
    EXPECT_EQ(rows->item(0, 1)->text(), QStringLiteral("256 × 256 × 64, Byte (unsigned), header 0"));
    int previous = 1001;
    for (int row = 0; row < rows->rowCount(); ++row) {
        const auto& c = candidates[static_cast<std::size_t>(row)];
        EXPECT_EQ(rows->item(row, 1)->text(), layoutInWords(c.layout));
        EXPECT_EQ(rows->item(row, 3)->text().toStdString(), c.reason);
        const auto* bar = qobject_cast<QProgressBar*>(rows->cellWidget(row, 2));
        ASSERT_NE(bar, nullptr);
        EXPECT_LE(bar->value(), previous);
        previous = bar->value();
    }
    const QPixmap first = rows->item(0, 0)->data(Qt::DecorationRole).value<QPixmap>();
    EXPECT_EQ(first.size(), QSize(96, 96));
    EXPECT_EQ(rows->currentRow(), 0);
    EXPECT_TRUE(button(dialog, "bt_Use")->isEnabled());
}

TEST(GuessDialog, UseAcceptsTheSelectedRowAndCancelNothing)
{
    {
        Tfm_Guess dialog(ByteSample);
        ASSERT_GE(dialog.candidates().size(), 2u);
        table(dialog)->selectRow(1);
        QTest::mouseClick(button(dialog, "bt_Use"), Qt::LeftButton);
        EXPECT_EQ(dialog.result(), QDialog::Accepted);
        ASSERT_TRUE(dialog.chosen().has_value());
        EXPECT_EQ(dialog.chosen()->layout, dialog.candidates()[1].layout);
    }
    {
        Tfm_Guess dialog(ByteSample);
        dialog.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&dialog));
        QTableWidget* rows = table(dialog);
        const QRect cell = rows->visualRect(rows->model()->index(0, 1));
        // A double-click as a mouse gives it: a click, then the second press.
        QTest::mouseClick(rows->viewport(), Qt::LeftButton, Qt::NoModifier, cell.center());
        QTest::mouseDClick(rows->viewport(), Qt::LeftButton, Qt::NoModifier, cell.center());
        EXPECT_EQ(dialog.result(), QDialog::Accepted);
        ASSERT_TRUE(dialog.chosen().has_value());
        EXPECT_EQ(dialog.chosen()->layout, dialog.candidates()[0].layout);
    }
    {
        Tfm_Guess dialog(ByteSample);
        QTest::mouseClick(button(dialog, "bt_Cancel"), Qt::LeftButton);
        EXPECT_EQ(dialog.result(), QDialog::Rejected);
        EXPECT_FALSE(dialog.chosen().has_value());
    }
}

TEST(GuessDialog, UnreadableFileListsNothingToUse)
{
    const Tfm_Guess dialog("/nonexistent/kelvox/volume.raw");
    EXPECT_EQ(table(dialog)->rowCount(), 0);
    EXPECT_FALSE(button(dialog, "bt_Use")->isEnabled());
    EXPECT_FALSE(dialog.chosen().has_value());
}

// The main window's menu item, with the dialog answered from a timer (it is
// modal).
class GuessInMainWindow : public MainWindowFixture
{
protected:
    void SetUp() override
    {
        MainWindowFixture::SetUp();
        if (!HasFatalFailure())
            start();
    }

    QAction* guessAction() const { return window->findChild<QAction*>(QStringLiteral("mi_GuessLayout")); }
    QString text(const char* edit) const
    {
        return window->findChild<QLineEdit*>(QString::fromLatin1(edit))->text();
    }

    void open(const QString& path)
    {
        openThroughMenu(path);
        waitForRefresh();
    }

    // Triggers the menu item; answer runs on the dialog once it is shown.
    void guessAndAnswer(const std::function<void(Tfm_Guess&)>& answer)
    {
        bool answered = false;
        QTimer::singleShot(0, window.get(), [&] {
            auto* dialog = qobject_cast<Tfm_Guess*>(QApplication::activeModalWidget());
            ASSERT_NE(dialog, nullptr);
            answer(*dialog);
            answered = true;
        });
        guessAction()->trigger();
        EXPECT_TRUE(answered);
    }

};

TEST_F(GuessInMainWindow, MenuItemWaitsForAFile)
{
    QAction* action = guessAction();
    ASSERT_NE(action, nullptr);
    EXPECT_EQ(action->text(), QStringLiteral("&Guess Layout..."));
    EXPECT_EQ(action->shortcut(), QKeySequence(QStringLiteral("Ctrl+G")));
    EXPECT_FALSE(action->isEnabled());
    open(QString::fromStdString(ByteSample));
    EXPECT_TRUE(action->isEnabled());
    window->findChild<QAction*>(QStringLiteral("mi_Close"))->trigger();
    EXPECT_FALSE(action->isEnabled());
    refreshed->clear();
    open(Samples + QStringLiteral("/missing.raw"));
    EXPECT_FALSE(action->isEnabled());
}

TEST_F(GuessInMainWindow, UseAppliesTheCandidateWithOneRefresh)
{
    open(Samples + QStringLiteral("/head_128x128x64x2_i16be.raw"));
    LayoutCandidate picked;
    guessAndAnswer([&](Tfm_Guess& dialog) {
        ASSERT_FALSE(dialog.candidates().empty());
        picked = dialog.candidates().front();
        QTest::mouseClick(button(dialog, "bt_Use"), Qt::LeftButton);
    });
    const VolumeLayout& l = picked.layout;
    EXPECT_EQ(l.dims, (std::array<std::int64_t, 3>{128, 128, 64}));
    EXPECT_EQ(text("ed_VoxelsPerRow"), QString::number(l.dims[0]));
    EXPECT_EQ(text("ed_RowsPerSlice"), QString::number(l.dims[1]));
    EXPECT_EQ(text("ed_SlicesPerVolume"), QString::number(l.dims[2]));
    EXPECT_EQ(text("ed_SliceNumber"), QString::number(l.dims[2] / 2));
    EXPECT_EQ(text("ed_HeaderBytes"), QString::number(l.headerBytes));
    EXPECT_EQ(window->findChild<QComboBox*>(QStringLiteral("cb_DataType"))->currentIndex(), l.dataType);
    EXPECT_EQ(window->findChild<QComboBox*>(QStringLiteral("cb_ByteOrder"))->currentIndex(), l.byteOrder);
    EXPECT_EQ(refreshed->count(), 0) << "nothing renders before the timer";
    waitForRefresh(); // exactly one
    QTest::qWait(400);
    EXPECT_EQ(refreshed->count(), 0) << "and no second one";
    EXPECT_EQ(text("ed_IntensityMin"), QString::number(static_cast<int>(dataMgr->ObservedMin)));
    EXPECT_EQ(text("ed_IntensityMax"), QString::number(static_cast<int>(dataMgr->ObservedMax)));
}

TEST_F(GuessInMainWindow, CancelChangesNothing)
{
    open(QString::fromStdString(ByteSample));
    const QStringList names{"ed_VoxelsPerRow", "ed_RowsPerSlice", "ed_SlicesPerVolume", "ed_SliceNumber",
                            "ed_HeaderBytes",  "ed_IntensityMin", "ed_IntensityMax"};
    QStringList before;
    for (const QString& n : names)
        before << text(n.toLatin1().constData());
    const int type = window->findChild<QComboBox*>(QStringLiteral("cb_DataType"))->currentIndex();
    guessAndAnswer([&](Tfm_Guess& dialog) { QTest::mouseClick(button(dialog, "bt_Cancel"), Qt::LeftButton); });
    QStringList after;
    for (const QString& n : names)
        after << text(n.toLatin1().constData());
    EXPECT_EQ(after, before);
    EXPECT_EQ(window->findChild<QComboBox*>(QStringLiteral("cb_DataType"))->currentIndex(), type);
    QTest::qWait(400);
    EXPECT_EQ(refreshed->count(), 0);
}

} // namespace

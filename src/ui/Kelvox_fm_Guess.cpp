#include "ui/Kelvox_fm_Guess.h"
#include "ui_Kelvox_fm_Guess.h"

#include "layout/DataMgrLayout.h"
#include "layout/VolumeFileSource.h"
#include "ui/BusyCursor.h"
#include "ui/NumberFormat.h"
#include "ui/QImageViewImage.h"
#include "ui/SliceWindow.h"
#include "ui/VoxelTypeCaptions.h"
#include "volume/Kelvox_DataMgr.h"

#include <QApplication>
#include <QHeaderView>
#include <QPixmap>
#include <QProgressBar>
#include <QPushButton>
#include <QTableWidget>

#include <algorithm>
#include <array>
#include <limits>

namespace
{

constexpr int ThumbnailSize = 96;
constexpr int ShownCandidates = 8;

// The data-type list's caption of type in running text (single blanks):
// "Int-16 (signed)".
QString typeWords(TVoxelDataType type)
{
    const std::string_view caption = VoxelTypeCaptions[type].text;
    return QString::fromUtf8(caption.data(), static_cast<qsizetype>(caption.size())).simplified();
}

} // namespace

QString layoutInWords(const VolumeLayout& layout)
{
    const VoxelTypeInfo* info = voxelTypeInfo(layout.dataType);
    QString words = QStringLiteral("%1 × %2 × %3, %4")
                        .arg(layout.dims[0])
                        .arg(layout.dims[1])
                        .arg(layout.dims[2])
                        .arg(info ? typeWords(layout.dataType) : QStringLiteral("?"));
    if (info && info->bytes > 1)
        words += layout.byteOrder == boBigEndian ? QStringLiteral(", Big-Endian") : QStringLiteral(", Lil-Endian (Intel)");
    words += QStringLiteral(", header %1").arg(layout.headerBytes);
    if (layout.volumes > 1)
        words += QStringLiteral(", %1 volumes").arg(layout.volumes);
    return words;
}

QImage middleSliceThumbnail(TKelvoxDataMgr& dataMgr, const VolumeLayout& layout)
{
    const std::int64_t d0 = layout.dims[0], d1 = layout.dims[1], d2 = layout.dims[2];
    if (d0 < 1 || d1 < 1 || d2 < 1 || d0 > MaxShownDim || d1 > MaxShownDim ||
        d2 > std::numeric_limits<std::int32_t>::max())
        return {};
    const auto slice = static_cast<std::int32_t>(d2 / 2);
    // A first render finds the slice's own range, the second paints with it
    // as the window (as "Apply" does in the main window). Both read only the
    // rows the thumbnail can show: the zoom 1:k that leaves it at least 96
    // pixels along its longer side.
    const auto step = static_cast<std::int32_t>(std::max<std::int64_t>(1, std::max(d0, d1) / ThumbnailSize));
    setLayout(dataMgr, layout, 0, 0);
    const auto [low, high] = sliceOwnWindow(dataMgr, slice, step);
    setLayout(dataMgr, layout, low, high);
    QImageViewImage view;
    dataMgr.RenderView(0, slice, vkSlice, view, step);
    return view.image().scaled(ThumbnailSize, ThumbnailSize, Qt::KeepAspectRatio, Qt::SmoothTransformation);
}

Tfm_Guess::Tfm_Guess(const std::string& filePath, QWidget* parent)
    : QDialog(parent), ui(std::make_unique<Ui::Tfm_Guess>())
{
    setUp();
    fillRows(filePath);
}

Tfm_Guess::Tfm_Guess(const TKelvoxDataMgr& dataMgr, QWidget* parent)
    : QDialog(parent), ui(std::make_unique<Ui::Tfm_Guess>())
{
    setUp();
    const BusyCursor busy;
    TKelvoxDataMgr thumbnails;
    thumbnails.OpenShared(dataMgr);
    try {
        if (thumbnails.Stream)
            m_candidates = guessLayoutOfVolume(*thumbnails.Stream, thumbnails.FileName, ShownCandidates);
    } catch (const std::runtime_error&) {
        m_candidates.clear(); // a file that cannot be read has no layout to propose
    }
    fillRows(thumbnails);
}

void Tfm_Guess::setUp()
{
    ui->setupUi(this);
    ui->tw_Candidates->verticalHeader()->setDefaultSectionSize(ThumbnailSize + 8);
    ui->tw_Candidates->setColumnWidth(0, ThumbnailSize + 16);
    ui->tw_Candidates->setColumnWidth(1, 300);
    ui->tw_Candidates->setColumnWidth(2, 110);
    wireEvents();
}

Tfm_Guess::~Tfm_Guess() = default;

std::optional<LayoutCandidate> Tfm_Guess::chosen() const
{
    if (!m_chosen || *m_chosen >= m_candidates.size())
        return std::nullopt;
    return m_candidates[*m_chosen];
}

void Tfm_Guess::wireEvents()
{
    connect(ui->bt_Use, &QPushButton::clicked, this, [this] { bt_UseClick(); });
    connect(ui->bt_Cancel, &QPushButton::clicked, this, &QDialog::reject);
    connect(ui->tw_Candidates, &QTableWidget::cellDoubleClicked, this, [this](int row, int) { useRow(row); });
}

void Tfm_Guess::fillRows(const std::string& filePath)
{
    const BusyCursor busy;
    try {
        m_candidates = guessLayoutOfFile(filePath, ShownCandidates);
    } catch (const std::runtime_error&) {
        m_candidates.clear(); // a file that cannot be read has no layout to propose
    }
    TKelvoxDataMgr thumbnails;
    thumbnails.OpenFile(filePath);
    fillRows(thumbnails);
}

void Tfm_Guess::fillRows(TKelvoxDataMgr& thumbnails)
{
    QTableWidget* table = ui->tw_Candidates;
    table->setRowCount(static_cast<int>(m_candidates.size()));
    for (std::size_t i = 0; i < m_candidates.size(); ++i) {
        const LayoutCandidate& c = m_candidates[i];
        const int row = static_cast<int>(i);
        auto* picture = new QTableWidgetItem;
        const QImage thumbnail = middleSliceThumbnail(thumbnails, c.layout);
        if (!thumbnail.isNull())
            picture->setData(Qt::DecorationRole, QPixmap::fromImage(thumbnail));
        table->setItem(row, 0, picture);
        table->setItem(row, 1, new QTableWidgetItem(layoutInWords(c.layout)));
        auto* bar = new QProgressBar;
        bar->setRange(0, 1000);
        bar->setValue(static_cast<int>(c.score * 1000.0 + 0.5));
        bar->setFormat(QString::number(c.score, 'f', 3));
        table->setCellWidget(row, 2, bar);
        table->setItem(row, 3, new QTableWidgetItem(QString::fromStdString(c.reason)));
    }
    ui->lb_Status->setText(m_candidates.empty() ? QStringLiteral("No layout fits this file.")
                                                : QStringLiteral("Best first; the views show what you pick."));
    ui->bt_Use->setEnabled(!m_candidates.empty());
    if (!m_candidates.empty())
        table->selectRow(0);
}

void Tfm_Guess::bt_UseClick()
{
    const QList<QTableWidgetItem*> selected = ui->tw_Candidates->selectedItems();
    if (!selected.isEmpty())
        useRow(selected.front()->row());
}

void Tfm_Guess::useRow(int row)
{
    if (row < 0 || static_cast<std::size_t>(row) >= m_candidates.size())
        return;
    m_chosen = static_cast<std::size_t>(row);
    accept();
}

#include "ui/Kelvox_fm_Main.h"
#include "ui_Kelvox_fm_Main.h"

#include "dragdrop/DragDropFile.h"
#include "platform/qt/QtBridge.h"
#include "platform/qt/QtFileNames.h"
#include "ui/BusyCursor.h"
#include "ui/CompressedFiles.h"
#include "ui/EdgeAnchors.h"
#include "ui/IntText.h"
#include "ui/Kelvox_Dialogs.h"
#include "ui/Kelvox_fm_Guess.h"
#include "ui/NumberFormat.h"
#include "ui/SliceWindow.h"
#include "ui/UpDownSpinner.h"
#include "ui/ViewBorder.h"
#include "ui/ViewImageWidget.h"
#include "ui/ViewZoomFit.h"
#include "ui/VoxelTypeCaptions.h"
#include "ui/ZebRotateLabel.h"
#include "layout/VolumeLayout.h"
#include "volume/Kelvox_DataMgr.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QFile>
#include <QFont>
#include <QFontInfo>
#include <QLocale>
#include <QTimer>
#include <QWheelEvent>

#include <algorithm>
#include <utility>
#include <vector>

namespace {

constexpr int RefreshDelayMs = 300;
constexpr int SpinnerMin = 0;
constexpr int SpinnerMax = static_cast<int>(MaxShownDim);

const QString DropHint = QStringLiteral("Drag an MRI file onto this area");

// The caret of an edit as the program understands it: the start of the
// selection, or the cursor when nothing is selected.
int caretOf(const QLineEdit* edit)
{
    return edit->hasSelectedText() ? edit->selectionStart() : edit->cursorPosition();
}

// Runs a handler reached by a signal; an error leaving it is reported, never
// passed on into the toolkit's event loop.
template <typename Handler>
void guarded(QWidget* window, Handler&& handler)
{
    try {
        std::forward<Handler>(handler)();
    } catch (...) {
        Dialogs::reportCurrentException(window);
    }
}

// Sets a flag for the lifetime of the scope and clears it on the way out,
// also when the scope is left by an error.
class FlagScope
{
public:
    explicit FlagScope(bool& flag)
        : m_flag(flag)
    {
        m_flag = true;
    }
    ~FlagScope() { m_flag = false; }
    FlagScope(const FlagScope&) = delete;
    FlagScope& operator=(const FlagScope&) = delete;

private:
    bool& m_flag;
};

// Width of a stand-in face, in percent. The window's texts were placed for a
// narrow bitmap face; the usual stand-ins (DejaVu Sans and the like) are a
// fifth wider at the same pixel size and would run into the next control.
constexpr int StandInStretch = 80;

QFont fontWithFallback(const QString& family, QFont::StyleHint hint, int pixelSize)
{
    QFont font(family);
    font.setStyleHint(hint);
    font.setPixelSize(pixelSize);
    // Set, not inherited: a child with a face of its own keeps its normal
    // width under the window's narrowed stand-in.
    font.setStretch(QFont::Unstretched);
    return font;
}

// The window's own face, or its sans-serif stand-in narrowed to the width of
// the original, at the same pixel size.
QFont windowFont()
{
    QFont font = fontWithFallback(QStringLiteral("MS Sans Serif"), QFont::SansSerif, 11);
    if (QFontInfo(font).family() != font.family()) {
        font.setStretch(StandInStretch);
    }
    return font;
}

// Lossless for names that are not UTF-8 (QFile::encodeName is not).
std::string toFileSystemName(const QString& path)
{
    return FileNameFromQString(path);
}

QString fromFileSystemName(const std::string& name)
{
    return QStringFromFileName(name);
}

} // namespace

Tfm_Main::Tfm_Main(TKelvoxDataMgr& dataMgr, QString fileDescription, QWidget* parent)
    : QMainWindow(parent)
    , ui(std::make_unique<Ui::Tfm_Main>())
    , DataMgr(dataMgr)
    , m_fileDescription(std::move(fileDescription))
{
    ui->setupUi(this);
    // The data-type list's items, one per voxel type, from the caption table
    // the guess dialog shares.
    for (const VoxelTypeCaption& caption : VoxelTypeCaptions) {
        ui->cb_DataType->addItem(
            QString::fromUtf8(caption.text.data(), static_cast<qsizetype>(caption.text.size())));
    }
    applyFonts();

    // Labels size themselves to their text, as the layout marks them.
    for (QLabel* label : findChildren<QLabel*>()) {
        if (label->property("autoSize").toBool()) {
            label->adjustSize();
        }
    }
    m_anchors = new EdgeAnchors(this);
    m_anchors->addFromProperties(this);

    // The separator of the File menu keeps its designer name.
    const auto fileItems = ui->mh_File->actions();
    for (QAction* item : fileItems) {
        if (item->isSeparator()) {
            item->setObjectName(QStringLiteral("N1"));
        }
    }

    const std::array<std::pair<UpDownSpinner*, QLineEdit*>, 6> spinners{{
        {ui->ud_VoxelsPerRow, ui->ed_VoxelsPerRow},
        {ui->ud_RowsPerSlice, ui->ed_RowsPerSlice},
        {ui->ud_SlicesPerVolume, ui->ed_SlicesPerVolume},
        {ui->ud_SliceNumber, ui->ed_SliceNumber},
        {ui->ud_CrossSliceViewY, ui->ed_CrossSliceViewY},
        {ui->ud_VolumeNumber, ui->ed_VolumeNumber},
    }};
    for (const auto& [spinner, edit] : spinners) {
        spinner->setRange(SpinnerMin, SpinnerMax);
        spinner->setAssociate(edit);
        spinner->setPosition(0);
    }

    Timer1 = new QTimer(this);
    Timer1->setObjectName(QStringLiteral("Timer1"));
    Timer1->setSingleShot(true);
    Timer1->setInterval(RefreshDelayMs);

    // Ctrl+= zooms in as well, for keyboards whose "+" needs Shift.
    ui->mi_ZoomIn->setShortcuts({QKeySequence(Qt::CTRL | Qt::Key_Plus), QKeySequence(Qt::CTRL | Qt::Key_Equal)});
    addActions({ui->mi_ZoomIn, ui->mi_ZoomOut, ui->mi_ZoomFit, ui->mi_ActualSize});

    m_renderer = std::make_unique<ViewRenderer>(
        [this](ViewRenderer::Result& result) { guarded(this, [&] { viewLanded(result); }); });

    createDropFileTarget1();
    wireEvents();
    FormCreate();
}

// The target goes before the window's controls, revoking its registration
// while pa_FileName still exists.
Tfm_Main::~Tfm_Main() = default;

void Tfm_Main::createDropFileTarget1()
{
    DropFileTarget1 = std::make_unique<TDropFileTarget>(nullptr);
    // Copy only; the data is fetched at the drop, not when the drag enters;
    // the shell's drag image shows; optimized move; no asynchronous transfer.
    DropFileTarget1->Dragtypes = TDragTypes{TDragType::dtCopy};
    DropFileTarget1->GetDataOnEnter = false;
    DropFileTarget1->SetShowImage(true);
    DropFileTarget1->OptimizedMove = true;
    DropFileTarget1->AllowAsyncTransfer = false;
    DropFileTarget1->SetTarget(HwndFromWidget(ui->pa_FileName));
    // The key state, point and effect play no part: a drop raised with the
    // effect none opens the file all the same.
    DropFileTarget1->OnDrop = [this](TComponent*, TShiftState, POINT, DWORD&) {
        QStringList names;
        for (const std::string& name : DropFileTarget1->DroppedFiles()) {
            names.push_back(fromFileSystemName(name));
        }
        DropFileTarget1Drop(names);
    };
}

void Tfm_Main::applyFonts()
{
    // The designed fonts are Windows faces; where they are missing the style
    // hint picks the platform's sans-serif or fixed-pitch face at the same
    // pixel size.
    setFont(windowFont());
    ui->StatusBar1->setFont(fontWithFallback(QStringLiteral("Courier New"), QFont::Monospace, 11));
    const QFont captionFont = fontWithFallback(QStringLiteral("Arial"), QFont::SansSerif, 11);
    for (TZebRotateLabel* caption : findChildren<TZebRotateLabel*>()) {
        caption->setFont(captionFont);
    }
}

void Tfm_Main::wireEvents()
{
    for (QLineEdit* edit : {ui->ed_VoxelsPerRow, ui->ed_RowsPerSlice, ui->ed_SlicesPerVolume,
                            ui->ed_SliceNumber, ui->ed_CrossSliceViewY, ui->ed_VolumeNumber}) {
        connect(edit, &QLineEdit::textChanged, this,
                [this, edit] { guarded(this, [&] { ed_NumberChange(edit); }); });
    }
    for (QLineEdit* edit : {ui->ed_IntensityMin, ui->ed_IntensityMax, ui->ed_HeaderBytes}) {
        connect(edit, &QLineEdit::textChanged, this,
                [this, edit] { guarded(this, [&] { EditIntChange(edit); }); });
    }
    // activated is raised by the user's choice only, not by selecting from code.
    for (QComboBox* combo : {ui->cb_DataType, ui->cb_ByteOrder}) {
        connect(combo, &QComboBox::activated, this,
                [this] { guarded(this, [&] { ComboChanges(); }); });
    }
    connect(Timer1, &QTimer::timeout, this, [this] { guarded(this, [&] { Timer1Timer(); }); });
    connect(ui->ck_CrossSliceDisable, &QCheckBox::clicked, this,
            [this] { guarded(this, [&] { ck_CrossSliceDisableClick(); }); });
    connect(ui->bt_UseIntensity, &QPushButton::clicked, this,
            [this] { guarded(this, [&] { bt_UseIntensityClick(); }); });
    connect(ui->GroupBox1, &QWidget::customContextMenuRequested, this,
            [this](const QPoint& pos) { guarded(this, [&] { showIntensityMenu(pos); }); });
    connect(ui->pop_IntensityRange, &QMenu::triggered, this,
            [this](QAction* item) { guarded(this, [&] { pi_IR_Click(item); }); });

    for (ViewImageWidget* image : {ui->img_Slice, ui->img_NextSlice, ui->img_CrossSliceView,
                                   ui->img_OtherVolume}) {
        connect(image, &ViewImageWidget::mouseMoved, this, [this, image](int x, int y) {
            guarded(this, [&] { ImageMouseMove(image, x, y); });
        });
    }

    connect(ui->mi_Open, &QAction::triggered, this, [this] { guarded(this, [&] { mi_OpenClick(); }); });
    connect(ui->mi_Close, &QAction::triggered, this, [this] { guarded(this, [&] { mi_CloseClick(); }); });
    connect(ui->mi_GuessLayout, &QAction::triggered, this, [this] { guarded(this, [&] { mi_GuessLayoutClick(); }); });
    connect(ui->mi_SaveLayoutAs, &QAction::triggered, this,
            [this] { guarded(this, [&] { mi_SaveLayoutAsClick(); }); });
    connect(ui->mi_Quit, &QAction::triggered, this, [this] { guarded(this, [&] { mi_QuitClick(); }); });
    connect(ui->mi_ZoomIn, &QAction::triggered, this, [this] { guarded(this, [&] { mi_ZoomInClick(); }); });
    connect(ui->mi_ZoomOut, &QAction::triggered, this, [this] { guarded(this, [&] { mi_ZoomOutClick(); }); });
    connect(ui->mi_ZoomFit, &QAction::triggered, this, [this] { guarded(this, [&] { mi_ZoomFitClick(); }); });
    connect(ui->mi_ActualSize, &QAction::triggered, this,
            [this] { guarded(this, [&] { mi_ActualSizeClick(); }); });
    // Ctrl + wheel over a view zooms; Fit follows the scrolling area's size.
    for (ViewImageWidget* image : {ui->img_Slice, ui->img_NextSlice, ui->img_CrossSliceView,
                                   ui->img_OtherVolume}) {
        image->installEventFilter(this);
    }
    ui->ScrollBox_Bottom->installEventFilter(this);
    connect(ui->mi_About, &QAction::triggered, this, &Tfm_Main::aboutRequested);
    connect(ui->mi_Help, &QAction::triggered, this, &Tfm_Main::helpRequested);
}

// ---- Form events -------------------------------------------------------

void Tfm_Main::FormCreate()
{
    InChange = false;
    PrevHeaderBytes = {ui->ed_HeaderBytes->text(), caretOf(ui->ed_HeaderBytes)};
    CollectViewControls();
    move(100, 100);
    Activated = false;
    // The timer runs from creation: without any change a first refresh
    // comes 300 ms after start-up.
    Timer1->start();
}

bool Tfm_Main::event(QEvent* event)
{
    if (event->type() == QEvent::WindowActivate) {
        guarded(this, [&] { FormActivate(); });
    }
    return QMainWindow::event(event);
}

bool Tfm_Main::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::Wheel && watched != ui->ScrollBox_Bottom) {
        auto* wheel = static_cast<QWheelEvent*>(event);
        const int delta = wheel->angleDelta().y();
        if ((wheel->modifiers() & Qt::ControlModifier) && delta != 0) {
            guarded(this, [&] { delta > 0 ? mi_ZoomInClick() : mi_ZoomOutClick(); });
            return true;
        }
    } else if (event->type() == QEvent::Resize && watched == ui->ScrollBox_Bottom && m_zoomFit) {
        // The views follow the new size once the resizing pauses.
        Timer1->start();
    }
    return QMainWindow::eventFilter(watched, event);
}

void Tfm_Main::FormActivate()
{
    if (Activated) {
        return;
    }
    ui->ed_VoxelsPerRow->setText(QStringLiteral("256"));
    ui->ed_RowsPerSlice->setText(QStringLiteral("256"));
    ui->ed_SlicesPerVolume->setText(QStringLiteral("256"));
    ui->cb_DataType->setCurrentIndex(0);
    ui->cb_ByteOrder->setCurrentIndex(0);
    ui->ed_IntensityMin->setText(QStringLiteral("0"));
    ui->ed_IntensityMax->setText(QStringLiteral("256"));
    ui->ed_SliceNumber->setText(QStringLiteral("0"));
    ui->ed_CrossSliceViewY->setText(QStringLiteral("0"));
    ui->ed_VolumeNumber->setText(QStringLiteral("1"));
    setWindowTitle(m_fileDescription);
    Activated = true;
    if (m_startFile) {
        openFileAtStart(*std::exchange(m_startFile, std::nullopt));
    }
}

void Tfm_Main::openFileAtStart(const QString& path)
{
    if (!Activated) {
        m_startFile = path; // after the defaults, so a layout file's layout holds
        return;
    }
    m_lastOpenPath = path;
    openFile(path);
}

void Tfm_Main::closeEvent(QCloseEvent* event)
{
    guarded(this, [&] { FormClose(); });
    QMainWindow::closeEvent(event);
}

void Tfm_Main::FormClose()
{
    m_renderer->supersede();
    DataMgr.CloseFile();
}

void Tfm_Main::CollectViewControls()
{
    ViewPanels = {ui->pa_Slice, ui->pa_NextSlice, ui->pa_CrossSliceView, ui->pa_OtherVolume};
    ViewImages = {ui->img_Slice, ui->img_NextSlice, ui->img_CrossSliceView, ui->img_OtherVolume};
    ViewBorders = {ui->border_Slice, ui->border_NextSlice, ui->border_CrossSliceView,
                   ui->border_OtherVolume};
}

// ---- Menus and files ---------------------------------------------------

void Tfm_Main::mi_OpenClick()
{
    const QString path =
        Dialogs::askOpenFileName(this, QStringLiteral("Open an image file"), m_lastOpenPath);
    if (path.isEmpty()) {
        return;
    }
    m_lastOpenPath = path;
    openFile(path);
}

void Tfm_Main::DropFileTarget1Drop(const QStringList& names)
{
    guarded(this, [&] {
        if (names.isEmpty()) {
            return;
        }
        openFile(names.constFirst());
    });
}

void Tfm_Main::openFile(const QString& path)
{
    if (openLayoutFile(path)) {
        return;
    }
    IndexProgressDialog indexing(this, path);
    if (!DataMgr.OpenFile(toFileSystemName(path), VolumeEncoding::Detect, 0, indexing.callback())) {
        return; // the index pass was cancelled: nothing changes
    }
    ui->lb_FilePath->setText(fileStripText(DataMgr));
    ui->lb_FilePath->adjustSize();
    ui->mi_GuessLayout->setEnabled(!DataMgr.FileName.empty());
    ui->mi_SaveLayoutAs->setEnabled(!DataMgr.FileName.empty());
    ParamsChanged();
}

void Tfm_Main::mi_CloseClick()
{
    DataMgr.CloseFile();
    ui->mi_SaveLayoutAs->setEnabled(false);
    RefreshViews();
    ui->lb_FilePath->setText(DropHint);
    ui->lb_FilePath->adjustSize();
    ui->mi_GuessLayout->setEnabled(false);
}

void Tfm_Main::mi_GuessLayoutClick()
{
    if (DataMgr.FileName.empty())
        return;
    Tfm_Guess dialog(DataMgr, this);
    if (dialog.exec() != QDialog::Accepted)
        return;
    if (const std::optional<LayoutCandidate> picked = dialog.chosen())
        applyLayout(picked->layout, picked->layout.dims[2] / 2);
}

void Tfm_Main::mi_QuitClick()
{
    close();
}

// ---- View parameters and the refresh cycle -----------------------------

UpDownSpinner* Tfm_Main::spinnerOf(const QLineEdit* edit) const
{
    if (edit == ui->ed_VoxelsPerRow) {
        return ui->ud_VoxelsPerRow;
    }
    if (edit == ui->ed_RowsPerSlice) {
        return ui->ud_RowsPerSlice;
    }
    if (edit == ui->ed_SlicesPerVolume) {
        return ui->ud_SlicesPerVolume;
    }
    if (edit == ui->ed_SliceNumber) {
        return ui->ud_SliceNumber;
    }
    if (edit == ui->ed_CrossSliceViewY) {
        return ui->ud_CrossSliceViewY;
    }
    return ui->ud_VolumeNumber;
}

void Tfm_Main::ed_NumberChange(QLineEdit* edit)
{
    if (InChange) {
        return; // the rewrite below raised this event
    }
    UpDownSpinner* spinner = spinnerOf(edit);
    const int caret = caretOf(edit);
    const QString text = edit->text();
    const std::int32_t converted = strToIntDef(text, -1);
    // "-1" is taken like a text that does not convert: the spinner's number.
    std::int32_t value = converted == -1 ? spinner->position() : converted;
    value = std::clamp<std::int32_t>(value, SpinnerMin, SpinnerMax);

    const FlagScope changing(InChange);
    if (value != converted && !text.isEmpty()) {
        const QString rewritten = QString::number(value);
        edit->setText(rewritten);
        edit->setCursorPosition(std::min<int>(caret, static_cast<int>(rewritten.size())));
    }
    ParamsChanged();
}

void Tfm_Main::ComboChanges()
{
    ParamsChanged();
}

void Tfm_Main::ParamsChanged()
{
    // A render of the old guess reads no further; the views keep their
    // pictures until the refresh.
    m_renderer->supersede();
    ApplyParams();
    Timer1->stop();
    Timer1->start();
}

void Tfm_Main::Timer1Timer()
{
    Timer1->stop();
    RefreshViews();
}

void Tfm_Main::ApplyParams()
{
    DataMgr.SetParams(ui->ud_VoxelsPerRow->position(), ui->ud_RowsPerSlice->position(),
                      ui->ud_SlicesPerVolume->position(),
                      static_cast<TVoxelDataType>(ui->cb_DataType->currentIndex()),
                      static_cast<TByteOrder>(ui->cb_ByteOrder->currentIndex()),
                      intensityOf(ui->ed_IntensityMin), intensityOf(ui->ed_IntensityMax),
                      parseByteCountText(ui->ed_HeaderBytes->text()).value_or(0));
}

void Tfm_Main::RefreshViews()
{
    // Raised when the views are rendered, also after a refresh that failed
    // part-way, before the error is reported.
    struct RefreshedSignal
    {
        Tfm_Main* window;
        bool armed = true;
        ~RefreshedSignal()
        {
            if (armed) {
                emit window->viewsRefreshed();
            }
        }
    } refreshed{this};

    m_renderer->supersede();
    ApplyParams();
    LayoutViews();

    const ShownPosition at{strToIntDef(ui->ed_SliceNumber->text(), 0), strToIntDef(ui->ed_CrossSliceViewY->text(), 0),
                           strToIntDef(ui->ed_VolumeNumber->text(), 0)};
    std::vector<ViewRenderer::Task> tasks{{vkSlice, at}, {vkNextSlice, at}};
    if (!ui->ck_CrossSliceDisable->isChecked()) {
        tasks.push_back({vkCrossSlice, at});
    }
    tasks.push_back({vkOtherVolume, at});

    if (DataMgr.FileName.empty()) {
        // Nothing to read: the views are painted at once.
        const BusyCursor busy;
        for (const ViewRenderer::Task& task : tasks) {
            ViewImageWidget* image = ViewImages[task.view];
            image->setLoading(false);
            image->setMagnification(m_zoom.in);
            DataMgr.RenderView(task.view, task.at, *image, m_zoom.out);
            viewShown(task.view, task.at);
        }
        return;
    }
    for (const ViewRenderer::Task& task : tasks) {
        ViewImages[task.view]->setLoading(true);
    }
    refreshed.armed = false;
    m_renderer->render(DataMgr.Source(), std::move(tasks), m_zoom.out);
}

bool Tfm_Main::viewsLoading() const
{
    return m_renderer->busy();
}

void Tfm_Main::viewLanded(ViewRenderer::Result& result)
{
    if (result.last) {
        for (ViewImageWidget* image : ViewImages) {
            image->setLoading(false);
        }
    }
    if (result.error) {
        emit viewsRefreshed();
        std::rethrow_exception(result.error);
    }
    const TViewKind view = result.task.view;
    DataMgr.ExchangeView(view, result.render);
    ViewImageWidget* image = ViewImages[view];
    image->setLoading(false);
    image->setMagnification(m_zoom.in);
    image->setImage(result.image);
    viewShown(view, result.task.at);
    if (result.last) {
        emit viewsRefreshed();
    }
}

void Tfm_Main::viewShown(TViewKind view, const ShownPosition& at)
{
    m_shown[view] = at;
    if (view == vkSlice) {
        ui->lb_Intensity->setText(intensityLabelText(DataMgr.ObservedMin, DataMgr.ObservedMax, QLocale()));
        ui->lb_Intensity->adjustSize();
    } else if (view == vkNextSlice) {
        ui->lb_NextSlice->setText(QStringLiteral("Next Slice: ") + QString::number(viewSource(view, at).sliceOrRow));
        ui->lb_NextSlice->adjustSize();
    }
}

void Tfm_Main::LayoutViews()
{
    if (m_zoomFit) {
        const QSize area = ui->ScrollBox_Bottom->maximumViewportSize();
        m_zoom = fitZoom({DataMgr.DimSize(0), DataMgr.DimSize(1), DataMgr.DimSize(2)}, area.width(), area.height(),
                         ViewPanels[vkSlice]->y());
        showZoom();
    }
    // The images at the zoom (the spinners keep every size within int).
    std::array<QSize, 4> imageSizes;
    for (int k = vkSlice; k <= vkOtherVolume; ++k) {
        const auto [columns, rows] = viewVoxels(static_cast<TViewKind>(k), DataMgr.Dims);
        imageSizes[k] = QSize(static_cast<int>(m_zoom.pixelsFor(columns)), static_cast<int>(m_zoom.pixelsFor(rows)));
    }

    // Panel width: kept while it lies within the band g + 31 .. g + 39.
    const int g = std::max(imageSizes[vkSlice].width(), MinImageWidthForPanel);
    int panelWidth = ViewPanels[vkSlice]->width();
    if (panelWidth < g + PanelWidthBandLow || panelWidth > g + PanelWidthBandHigh) {
        panelWidth = g + PanelWidthFresh;
    }

    int left = 0;
    int contentHeight = 0;
    for (int k = vkSlice; k <= vkOtherVolume; ++k) {
        ViewImageWidget* image = ViewImages[k];
        ViewBorder* border = ViewBorders[k];
        QWidget* panel = ViewPanels[k];

        image->setGeometry(ImageLeft, ImageTop, imageSizes[k].width(), imageSizes[k].height());
        // The 2-pixel outline lies just outside the image.
        border->setGeometry(ImageLeft - 2, ImageTop - 2, image->width() + 4, image->height() + 4);
        const int panelHeight =
            std::max(border->height(), MinBorderHeightForPanel) + border->y() + PanelBottomMargin;
        panel->setGeometry(left, panel->y(), panelWidth, panelHeight);
        m_anchors->apply(panel);

        left += panelWidth; // the panels touch
        contentHeight = std::max(contentHeight, panel->y() + panelHeight);
    }
    ui->ScrollBox_BottomContents->resize(left, contentHeight);
}

void Tfm_Main::ck_CrossSliceDisableClick()
{
    QCheckBox* box = ui->ck_CrossSliceDisable;
    ViewImageWidget* image = ui->img_CrossSliceView;
    if (box->isChecked()) {
        // Sits inside the empty image area, where it can be unchecked.
        box->move(image->x() + 4, image->y() + 20);
        m_anchors->setAnchors(box, Qt::LeftEdge | Qt::TopEdge);
        image->hide();
    } else {
        box->move(8, ui->pa_CrossSliceView->height() - 20);
        m_anchors->setAnchors(box, Qt::LeftEdge | Qt::BottomEdge);
        image->show();
    }
}

// ---- Intensity range ---------------------------------------------------

void Tfm_Main::EditIntChange(QLineEdit* edit)
{
    if (InChange) {
        return; // the restore below raised this event
    }
    // The header edit takes a 64-bit byte count, the intensity edits 32-bit
    // integers or decimals; both bring back the previous text when a change
    // is refused.
    const bool header = edit == ui->ed_HeaderBytes;
    TEdPrevState& prev = header ? PrevHeaderBytes
                                : edit == ui->ed_IntensityMin ? PrevIntensityMin : PrevIntensityMax;
    const bool converts = header ? parseByteCountText(edit->text()).has_value()
                                 : parseIntensityText(edit->text(), selectedDataType(), QLocale()).has_value();

    const FlagScope changing(InChange);
    bool refused = false;
    if (!edit->text().isEmpty() && !converts) {
        refused = true;
        edit->setText(prev.Text);
        edit->setCursorPosition(prev.CaretPos);
    }
    prev.Text = edit->text();
    prev.CaretPos = caretOf(edit);
    if (!refused) {
        ParamsChanged();
    }
}

void Tfm_Main::bt_UseIntensityClick()
{
    // The range as the last slice render met it.
    showIntensityWindow(observedWindow(DataMgr));
}

void Tfm_Main::showIntensityWindow(const std::pair<double, double>& window)
{
    // In the words of the last slice render's type, whose range it is.
    const TVoxelDataType type = DataMgr.LastRenderGuess(vkSlice).dataType;
    ui->ed_IntensityMin->setText(intensityEditText(window.first, type, QLocale()));
    ui->ed_IntensityMax->setText(intensityEditText(window.second, type, QLocale()));
}

TVoxelDataType Tfm_Main::selectedDataType() const
{
    return static_cast<TVoxelDataType>(ui->cb_DataType->currentIndex());
}

double Tfm_Main::intensityOf(const QLineEdit* edit) const
{
    return parseIntensityText(edit->text(), selectedDataType(), QLocale()).value_or(0.0);
}

void Tfm_Main::applyLayout(const VolumeLayout& layout, std::int64_t slice)
{
    const auto editText = [](std::int64_t value) {
        return QString::number(std::clamp<std::int64_t>(value, SpinnerMin, SpinnerMax));
    };
    ui->ed_VoxelsPerRow->setText(editText(layout.dims[0]));
    ui->ed_RowsPerSlice->setText(editText(layout.dims[1]));
    ui->ed_SlicesPerVolume->setText(editText(layout.dims[2]));
    ui->ed_SliceNumber->setText(editText(slice));
    ui->ed_HeaderBytes->setText(QString::number(std::max<std::int64_t>(layout.headerBytes, 0)));
    ui->cb_DataType->setCurrentIndex(layout.dataType);
    ui->cb_ByteOrder->setCurrentIndex(layout.byteOrder);
    ComboChanges();

    // The slice's own range, from a render that is not shown, taken as Apply
    // takes it; the views themselves render once, with the new window, when
    // the timer runs out. At the zoom the views will show, so that the range
    // is that of the voxels they show and a huge slice is not read whole.
    const QSize area = ui->ScrollBox_Bottom->maximumViewportSize();
    const std::int32_t step =
        m_zoomFit ? fitZoom(DataMgr.Dims, area.width(), area.height(), ViewPanels[vkSlice]->y()).out : m_zoom.out;
    showIntensityWindow(sliceOwnWindow(DataMgr, strToIntDef(ui->ed_SliceNumber->text(), 0), step));
    ParamsChanged();
}

void Tfm_Main::showIntensityMenu(const QPoint& pos)
{
    ui->pop_IntensityRange->popup(ui->GroupBox1->mapToGlobal(pos));
}

void Tfm_Main::pi_IR_Click(const QAction* item)
{
    const std::array<std::pair<const QAction*, IntensityPreset>, 7> presets{{
        {ui->pi_IR_Selected, IntensityPreset::FromSelectedSlice},
        {ui->pi_IR_Full, IntensityPreset::FullRange},
        {ui->pi_IR_Pos, IntensityPreset::PositiveRange},
        {ui->pi_IR_0to1, IntensityPreset::ZeroToOne},
        {ui->pi_IR_m1to1, IntensityPreset::MinusOneToOne},
        {ui->pi_IR_0to255, IntensityPreset::ZeroTo255},
        {ui->pi_IR_0to10000, IntensityPreset::ZeroTo10000},
    }};
    const auto found = std::find_if(presets.begin(), presets.end(),
                                    [item](const auto& entry) { return entry.first == item; });
    if (found == presets.end()) {
        return;
    }
    if (found->second == IntensityPreset::FromSelectedSlice) {
        bt_UseIntensityClick();
        return;
    }
    const auto [low, high] = intensityPresetRange(found->second, DataMgr.DataType);
    ui->ed_IntensityMin->setText(QString::number(low));
    ui->ed_IntensityMax->setText(QString::number(high));
}

// ---- Zoom ----------------------------------------------------------------

void Tfm_Main::setStartZoom(TViewZoom zoom, bool fit)
{
    m_zoom = zoom;
    m_zoomFit = fit;
    showZoom();
}

void Tfm_Main::applyZoom(TViewZoom zoom, bool fit)
{
    setStartZoom(zoom, fit);
    RefreshViews();
}

void Tfm_Main::showZoom()
{
    ui->StatusBar1Zoom->setText((m_zoomFit ? QStringLiteral("Fit ") : QStringLiteral("Zoom "))
                                + QString::fromStdString(zoomText(m_zoom)));
}

void Tfm_Main::mi_ZoomInClick()
{
    applyZoom(zoomedIn(m_zoom), false);
}

void Tfm_Main::mi_ZoomOutClick()
{
    applyZoom(zoomedOut(m_zoom), false);
}

void Tfm_Main::mi_ZoomFitClick()
{
    applyZoom(m_zoom, true);
}

void Tfm_Main::mi_ActualSizeClick()
{
    applyZoom(TViewZoom{}, false);
}

// ---- Voxel readout -----------------------------------------------------

void Tfm_Main::ImageMouseMove(const QObject* sender, int x, int y)
{
    const auto found = std::find(ViewImages.begin(), ViewImages.end(), sender);
    if (found == ViewImages.end()) {
        return; // the status bar's own moves
    }
    const auto view = static_cast<TViewKind>(found - ViewImages.begin());
    // The voxel whose pixel is under the pointer in the picture on screen:
    // floor(position x k / n) for the zoom it was rendered at.
    const TViewZoom shownZoom{(*found)->magnification(), DataMgr.LastRenderStep(view)};
    const auto voxelX = static_cast<std::int32_t>(shownZoom.voxelAt(x));
    const auto voxelY = static_cast<std::int32_t>(shownZoom.voxelAt(y));
    const ReadoutTexts texts = voxelReadout(DataMgr, view, voxelX, voxelY, m_shown[view], QLocale());
    ui->StatusBar1Panel0->setText(texts.panel0);
    ui->StatusBar1Panel2->setText(texts.panel2);
    ui->StatusBar1Panel1->setText(texts.panel1);
}

#include "app/Kelvox_fm_About.h"

#include "ui_Kelvox_fm_About.h"

#include "app/WindowPlacement.h"
#include "app/ZebExeVerInfo.h"
#include "ui/Kelvox_Dialogs.h"

#include <QFont>
#include <QKeyEvent>

// The picture lives in the app library's resources; a static library needs
// its resource initialiser referenced explicitly, from the global namespace.
static void initResources()
{
    Q_INIT_RESOURCE(Kelvox_app);
}

Tfm_AboutBox::Tfm_AboutBox(const TExeVerInfo& verInfo, QWidget* mainWindow)
    : QDialog(mainWindow)
    , ui(std::make_unique<Ui::Tfm_AboutBox>())
    , m_mainWindow(mainWindow)
{
    initResources();
    ui->setupUi(this);
    // A fixed dialog frame: no resizing, no minimise or maximise button.
    setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::CustomizeWindowHint | Qt::WindowTitleHint
                   | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
    setFixedSize(298, 151);
    QFont dialogFont(QStringLiteral("MS Sans Serif"));
    dialogFont.setStyleHint(QFont::SansSerif);
    dialogFont.setPixelSize(11);
    setFont(dialogFont);
    wireEvents();
    FormCreate(verInfo);
}

Tfm_AboutBox::~Tfm_AboutBox() = default;

void Tfm_AboutBox::wireEvents()
{
    connect(ui->OKButton, &QPushButton::clicked, this, [this] {
        try {
            OKButtonClick();
        } catch (...) {
            Dialogs::reportCurrentException(this);
        }
    });
}

void Tfm_AboutBox::FormCreate(const TExeVerInfo& verInfo)
{
    ui->lb_ProductName->setText(verInfo.FileDescription);
    ui->lb_Version->setText(QStringLiteral("Version: ") + verInfo.FileVersion);
    // The labels size themselves to their texts.
    ui->lb_ProductName->adjustSize();
    ui->lb_Version->adjustSize();
    ui->Copyright->adjustSize();
}

void Tfm_AboutBox::OKButtonClick()
{
    accept();
}

void Tfm_AboutBox::showModeless()
{
    if (!m_placed) {
        centreOver(*this, m_mainWindow);
        m_placed = true;
    }
    show();
    raise();
    activateWindow();
}

void Tfm_AboutBox::keyPressEvent(QKeyEvent* event)
{
    // The box has no cancel button, so Escape does nothing.
    if (event->matches(QKeySequence::Cancel)) {
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}

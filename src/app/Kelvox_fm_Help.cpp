#include "app/Kelvox_fm_Help.h"

#include "ui_Kelvox_fm_Help.h"

#include "app/WindowPlacement.h"

#include <QFont>
#include <QKeyEvent>

namespace {

// Outer size of the window as designed; the client area is what remains
// inside the window manager's frame.
constexpr int DesignedOuterWidth = 560;
constexpr int DesignedOuterHeight = 523;

} // namespace

Tfm_Help::Tfm_Help(QWidget* mainWindow)
    : QDialog(mainWindow)
    , ui(std::make_unique<Ui::Tfm_Help>())
    , m_mainWindow(mainWindow)
{
    ui->setupUi(this);
    // A normal sizeable window rather than a dialog frame.
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowMinMaxButtonsHint
                   | Qt::WindowCloseButtonHint);
    QFont windowFont(QStringLiteral("MS Sans Serif"));
    windowFont.setStyleHint(QFont::SansSerif);
    windowFont.setPixelSize(11);
    setFont(windowFont);
}

Tfm_Help::~Tfm_Help() = default;

void Tfm_Help::showModal()
{
    if (!m_placed) {
        // The frame is the window manager's: take the main window's as the
        // measure, so that the outer size comes out as designed.
        const QSize decoration = expectedOuterSize(*this, m_mainWindow) - size();
        resize(DesignedOuterWidth - decoration.width(), DesignedOuterHeight - decoration.height());
        centreOver(*this, m_mainWindow);
        m_placed = true;
    }
    exec();
}

void Tfm_Help::keyPressEvent(QKeyEvent* event)
{
    // Closed from the title bar only; Escape does not close the window.
    if (event->matches(QKeySequence::Cancel)) {
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}

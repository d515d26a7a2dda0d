#include "DropHarnessWindow.h"

#include "platform/qt/QtBridge.h"

#include <QFile>
#include <QFileInfo>

DropHarnessWindow::DropHarnessWindow()
{
    setObjectName(QStringLiteral("DropHarness"));
    setWindowTitle(QStringLiteral("Kelvox drop harness"));
    resize(480, 160);
    pa_FileName = new QLabel(QStringLiteral("(no file)"), this);
    pa_FileName->setObjectName(QStringLiteral("pa_FileName"));
    pa_FileName->setFrameShape(QFrame::Panel);
    pa_FileName->setGeometry(8, 8, 464, 40);

    // The program's settings for its one drop target.
    DropFileTarget1 = std::make_unique<TDropFileTarget>(nullptr);
    DropFileTarget1->Dragtypes = TDragTypes{TDragType::dtCopy};
    DropFileTarget1->GetDataOnEnter = false;
    DropFileTarget1->SetShowImage(true);
    DropFileTarget1->OptimizedMove = true;
    DropFileTarget1->AllowAsyncTransfer = false;
    DropFileTarget1->SetTarget(HwndFromWidget(pa_FileName));
    DropFileTarget1->OnDrop = [this](TComponent*, TShiftState, POINT, DWORD&) {
        QStringList names;
        for (const std::string& name : DropFileTarget1->DroppedFiles()) {
            names.push_back(QFile::decodeName(QByteArray::fromStdString(name)));
        }
        DropFileTarget1Drop(names);
    };
}

DropHarnessWindow::~DropHarnessWindow() = default;

void DropHarnessWindow::DropFileTarget1Drop(const QStringList& names)
{
    if (names.isEmpty()) {
        return;
    }
    const QFileInfo info(names.front());
    pa_FileName->setText(info.isFile() && info.isReadable() ? names.front() : QStringLiteral("File does not exist"));
    if (onOpened) {
        onOpened(names);
    }
}

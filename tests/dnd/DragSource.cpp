// A drag source for the real-drag test: a window that starts a drag of the
// files named on the command line as soon as the mouse is pressed on it,
// then prints the action the target accepted ("ACTION copy", "move", "link"
// or "none") and quits.
//
//   drag_source [--idlist] FILE...
//     --idlist  offer only a "Shell IDList Array" of the files (no URLs)

#include "dragdrop/DragDropPIDL.h"
#include "platform/Shell.h"
#include "platform/qt/QtDataObject.h"

#include <QApplication>
#include <QDrag>
#include <QFileInfo>
#include <QMimeData>
#include <QMouseEvent>
#include <QUrl>
#include <QWidget>

#include <cstdio>

namespace {

class DragSourceWindow : public QWidget
{
public:
    DragSourceWindow(QStringList files, bool idListOnly) : m_files(std::move(files)), m_idListOnly(idListOnly)
    {
        setWindowTitle(QStringLiteral("Kelvox drag source"));
        resize(160, 120);
    }

protected:
    void mousePressEvent(QMouseEvent*) override
    {
        auto* mime = new QMimeData;
        if (m_idListOnly) {
            std::vector<TItemIdList> lists{ItemIdListFromPath("/")};
            for (const QString& file : m_files) {
                lists.push_back(ItemIdListFromPath(QFile::encodeName(file).toStdString()));
            }
            const std::string block = MakeCidaBlock(lists);
            mime->setData(QString::fromStdString(WindowsMimeType("Shell IDList Array")),
                          QByteArray(block.data(), static_cast<qsizetype>(block.size())));
        } else {
            QList<QUrl> urls;
            for (const QString& file : m_files) {
                urls.push_back(QUrl::fromLocalFile(file));
            }
            mime->setUrls(urls);
        }
        auto* drag = new QDrag(this);
        drag->setMimeData(mime);
        const Qt::DropAction action = drag->exec(Qt::CopyAction | Qt::MoveAction | Qt::LinkAction, Qt::CopyAction);
        const char* name = action == Qt::CopyAction ? "copy"
            : action == Qt::MoveAction             ? "move"
            : action == Qt::LinkAction             ? "link"
                                                   : "none";
        std::printf("ACTION %s\n", name);
        std::fflush(stdout);
        QApplication::quit();
    }

private:
    QStringList m_files;
    bool m_idListOnly;
};

} // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    QStringList args = QApplication::arguments().mid(1);
    const bool idListOnly = args.removeAll(QStringLiteral("--idlist")) > 0;
    QStringList files;
    for (const QString& arg : args) {
        files.push_back(QFileInfo(arg).absoluteFilePath());
    }
    DragSourceWindow window(files, idListOnly);
    window.move(600, 300);
    window.show();
    return QApplication::exec();
}

#include "platform/qt/QtFileNames.h"

#include "platform/TextConversion.h"

#include <QByteArray>
#include <QUrl>

#include <unistd.h>

#include <array>

namespace {

// This machine's name, as gethostname gives it (empty when it cannot).
QString thisHostName()
{
    std::array<char, 256> buffer{};
    if (::gethostname(buffer.data(), buffer.size() - 1) != 0) {
        return {};
    }
    return QString::fromUtf8(buffer.data());
}

} // namespace

QString QStringFromFileName(std::string_view name)
{
    const std::u16string wide = FileNameToWide(name);
    return QString(reinterpret_cast<const QChar*>(wide.data()), static_cast<qsizetype>(wide.size()));
}

std::string FileNameFromQString(const QString& name)
{
    return WideToSystem(std::u16string_view(reinterpret_cast<const char16_t*>(name.utf16()),
                                            static_cast<std::size_t>(name.size())));
}

bool LocalFileNameOfUrl(const QUrl& url, std::string& name)
{
    if (!url.isValid() || url.scheme().compare(QLatin1String("file"), Qt::CaseInsensitive) != 0) {
        return false;
    }
    const QString host = url.host();
    if (!host.isEmpty() && host.compare(QLatin1String("localhost"), Qt::CaseInsensitive) != 0) {
        const QString self = thisHostName();
        if (self.isEmpty() || host.compare(self, Qt::CaseInsensitive) != 0) {
            return false;
        }
    }
    // The fully encoded path keeps every byte that was percent-encoded
    // (and encodes every other character as UTF-8), so decoding it gives
    // the name's own bytes.
    const QByteArray bytes = QByteArray::fromPercentEncoding(url.path(QUrl::FullyEncoded).toLatin1());
    // A name cannot hold a zero byte; cut there it would name another file.
    if (bytes.isEmpty() || bytes.contains('\0')) {
        return false;
    }
    name.assign(bytes.constData(), static_cast<std::size_t>(bytes.size()));
    return true;
}

#include "app/CommandLine.h"

#include "platform/qt/QtFileNames.h"

#include <QCommandLineOption>
#include <QCommandLineParser>

namespace {

const QString ProgramName = QStringLiteral("kelvox");

// One parser for both reading and the usage text, so they always agree.
struct Parser
{
    Parser()
    {
        parser.setApplicationDescription(
            QStringLiteral("Shows the bytes of a headerless voxel file under a guess of its layout.\n"
                           "FILE, when given, is opened as File > Open would open it."));
        parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
        parser.addOption(help);
        parser.addOption(version);
        parser.addOption(zoom);
        parser.addPositionalArgument(QStringLiteral("FILE"), QStringLiteral("The file to open."),
                                     QStringLiteral("[FILE]"));
    }

    QCommandLineParser parser;
    // Not QCommandLineParser's own help option: that one also offers
    // --help-all with the toolkit's options, which are not accepted here.
    QCommandLineOption help{{QStringLiteral("h"), QStringLiteral("help")},
                            QStringLiteral("Displays this help and exits.")};
    QCommandLineOption version{{QStringLiteral("v"), QStringLiteral("version")},
                               QStringLiteral("Displays the program's version and exits.")};
    QCommandLineOption zoom{QStringLiteral("zoom"),
                            QStringLiteral("Starts the views at ZOOM: 1:k shows every k-th voxel, n:1 each voxel "
                                           "as n x n pixels, fit as large as the window shows all four."),
                            QStringLiteral("ZOOM")};
};

} // namespace

KelvoxCommandLine parseCommandLine(const QStringList& arguments)
{
    KelvoxCommandLine result;
    Parser p;
    // An empty list still needs a program name for the parser to skip.
    const QStringList withProgram = arguments.isEmpty() ? QStringList{ProgramName} : arguments;
    if (!p.parser.parse(withProgram)) {
        result.action = KelvoxCommandLine::Action::Fail;
        result.Error = p.parser.errorText();
        return result;
    }
    if (p.parser.isSet(p.help)) {
        result.action = KelvoxCommandLine::Action::ShowHelp;
        return result;
    }
    if (p.parser.isSet(p.version)) {
        result.action = KelvoxCommandLine::Action::ShowVersion;
        return result;
    }
    if (p.parser.isSet(p.zoom)) {
        const QString text = p.parser.value(p.zoom);
        const std::optional<TViewZoom> zoom = parseZoom(text.toStdString());
        if (text == QStringLiteral("fit")) {
            result.ZoomFit = true;
        } else if (zoom) {
            result.Zoom = *zoom;
        } else {
            result.action = KelvoxCommandLine::Action::Fail;
            result.Error = QStringLiteral("Unknown zoom \"%1\": expected 1:k, n:1 or fit.").arg(text);
            return result;
        }
    }
    const QStringList files = p.parser.positionalArguments();
    if (files.size() > 1) {
        result.action = KelvoxCommandLine::Action::Fail;
        result.Error = QStringLiteral("Only one FILE can be opened.");
        return result;
    }
    if (!files.isEmpty()) {
        // Also an empty name: the window then says the file does not exist.
        result.HasFile = true;
        result.File = files.constFirst();
    }
    return result;
}

QString commandLineUsage()
{
    Parser p;
    // The parser names the program by the path it was started as (or
    // "<executable_name>" before there is an application object); the usage
    // names the installed command instead.
    const QString text = p.parser.helpText();
    const qsizetype endOfUsage = text.indexOf(QLatin1Char('\n'));
    return QStringLiteral("Usage: ") + ProgramName + QStringLiteral(" [options] [FILE]")
        + (endOfUsage < 0 ? QStringLiteral("\n") : text.mid(endOfUsage));
}

QString commandLineVersion(const QString& fileVersion)
{
    return ProgramName + QLatin1Char(' ') + fileVersion + QLatin1Char('\n');
}

QString absoluteFileArgument(const QString& file, const std::string& currentDir)
{
    if (file.isEmpty() || file.startsWith(QLatin1Char('/')) || currentDir.empty()) {
        return file;
    }
    std::string name = currentDir;
    if (name.back() != '/') {
        name.push_back('/');
    }
    name += FileNameFromQString(file);
    return QStringFromFileName(name);
}

// The command line: what each form asks for, and the built program answering
// --help, --version and unknown options without any display.

#include "app/CommandLine.h"
#include "app/ZebExeVerInfo.h"

#include <QProcess>
#include <QProcessEnvironment>

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using Action = KelvoxCommandLine::Action;

struct ParseCase
{
    std::vector<const char*> args; // after the program name
    Action action;
    const char* file;              // expected File (Run only)
    bool hasFile;
};

class CommandLineParse : public ::testing::TestWithParam<ParseCase>
{
};

TEST_P(CommandLineParse, TellsWhatIsAskedFor)
{
    const ParseCase& c = GetParam();
    QStringList arguments{QStringLiteral("/usr/bin/kelvox")};
    for (const char* arg : c.args) {
        arguments << QString::fromUtf8(arg);
    }
    const KelvoxCommandLine line = parseCommandLine(arguments);
    const std::string shown = arguments.join(QLatin1Char(' ')).toStdString();
    EXPECT_EQ(line.action, c.action) << shown;
    EXPECT_EQ(line.HasFile, c.hasFile) << shown;
    EXPECT_EQ(line.File, QString::fromUtf8(c.file)) << shown;
    EXPECT_EQ(line.Error.isEmpty(), c.action != Action::Fail) << shown;
}

INSTANTIATE_TEST_SUITE_P(
    Forms, CommandLineParse,
    ::testing::Values(ParseCase{{}, Action::Run, "", false},
                      ParseCase{{"head.raw"}, Action::Run, "head.raw", true},
                      ParseCase{{"/d/caf\u00e9 x.raw"}, Action::Run, "/d/caf\u00e9 x.raw", true},
                      ParseCase{{""}, Action::Run, "", true},
                      ParseCase{{"--", "-style"}, Action::Run, "-style", true},
                      ParseCase{{"--help"}, Action::ShowHelp, "", false},
                      ParseCase{{"-h"}, Action::ShowHelp, "", false},
                      ParseCase{{"head.raw", "--help"}, Action::ShowHelp, "", false},
                      ParseCase{{"--version"}, Action::ShowVersion, "", false},
                      ParseCase{{"-v"}, Action::ShowVersion, "", false},
                      ParseCase{{"--bogus"}, Action::Fail, "", false},
                      ParseCase{{"-platform", "xcb"}, Action::Fail, "", false},
                      ParseCase{{"--help-all"}, Action::Fail, "", false},
                      ParseCase{{"a.raw", "b.raw"}, Action::Fail, "", false},
                      ParseCase{{"--zoom", "1:4", "h.raw"}, Action::Run, "h.raw", true},
                      ParseCase{{"--zoom=fit"}, Action::Run, "", false},
                      ParseCase{{"--zoom", "2:2", "h.raw"}, Action::Fail, "", false},
                      ParseCase{{"--zoom", "Fit"}, Action::Fail, "", false}));

TEST(CommandLine, ZoomIsTakenAsGiven)
{
    const KelvoxCommandLine out = parseCommandLine({QStringLiteral("kelvox"), QStringLiteral("--zoom=1:16")});
    EXPECT_EQ(out.Zoom, (TViewZoom{1, 16}));
    EXPECT_FALSE(out.ZoomFit);
    const KelvoxCommandLine in = parseCommandLine({QStringLiteral("kelvox"), QStringLiteral("--zoom"), QStringLiteral("3:1")});
    EXPECT_EQ(in.Zoom, (TViewZoom{3, 1}));
    const KelvoxCommandLine fit = parseCommandLine({QStringLiteral("kelvox"), QStringLiteral("--zoom=fit")});
    EXPECT_TRUE(fit.ZoomFit);
    EXPECT_EQ(parseCommandLine({QStringLiteral("kelvox")}).Zoom, TViewZoom{});
}

TEST(CommandLine, FileArgumentBecomesAbsoluteWithoutCleaning)
{
    EXPECT_EQ(absoluteFileArgument(QStringLiteral("h.raw"), "/home/u"), QStringLiteral("/home/u/h.raw"));
    EXPECT_EQ(absoluteFileArgument(QStringLiteral("a/../h.raw"), "/w/"), QStringLiteral("/w/a/../h.raw"));
    EXPECT_EQ(absoluteFileArgument(QStringLiteral("/abs/h.raw"), "/w"), QStringLiteral("/abs/h.raw"));
    EXPECT_EQ(absoluteFileArgument(QString(), "/w"), QString());
    EXPECT_EQ(absoluteFileArgument(QStringLiteral("h.raw"), ""), QStringLiteral("h.raw"));
    // Bytes that are not UTF-8, in the folder or the name, stay as they are.
    const QString escaped = QString(QChar(0xDCE9));
    EXPECT_EQ(absoluteFileArgument(QStringLiteral("caf") + escaped, "/d\xE9"),
              QStringLiteral("/d") + escaped + QStringLiteral("/caf") + escaped);
}

TEST(CommandLine, UsageNamesTheProgramAndItsOptions)
{
    const QString usage = commandLineUsage();
    EXPECT_TRUE(usage.startsWith(QStringLiteral("Usage: kelvox [options] [FILE]"))) << usage.toStdString();
    EXPECT_TRUE(usage.contains(QStringLiteral("--help")));
    EXPECT_TRUE(usage.contains(QStringLiteral("--version")));
    EXPECT_FALSE(usage.contains(QStringLiteral("--help-all")));
    EXPECT_EQ(commandLineVersion(QStringLiteral("1.2.3.4")), QStringLiteral("kelvox 1.2.3.4\n"));
}

struct ProgramRun
{
    int exitCode = -1;
    QString out;
    QString err;
};

// The built program with no display of any kind.
ProgramRun runProgram(const QStringList& arguments)
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) {
        environment.remove(QString::fromLatin1(name));
    }
    QProcess process;
    process.setProcessEnvironment(environment);
    process.start(QStringLiteral(KELVOX_EXECUTABLE), arguments);
    ProgramRun run;
    if (!process.waitForFinished(20000) || process.exitStatus() != QProcess::NormalExit) {
        process.kill();
        process.waitForFinished();
        return run;
    }
    run.exitCode = process.exitCode();
    run.out = QString::fromLocal8Bit(process.readAllStandardOutput());
    run.err = QString::fromLocal8Bit(process.readAllStandardError());
    return run;
}

TEST(CommandLineProgram, HelpAndVersionPrintAndSucceedWithoutADisplay)
{
    const ProgramRun help = runProgram({QStringLiteral("--help")});
    EXPECT_EQ(help.exitCode, 0) << help.err.toStdString();
    EXPECT_EQ(help.out, commandLineUsage());
    EXPECT_TRUE(help.err.isEmpty()) << help.err.toStdString();

    TExeVerInfo record(QStringLiteral(KELVOX_EXECUTABLE));
    ASSERT_FALSE(record.FileVersion.isEmpty());
    const ProgramRun version = runProgram({QStringLiteral("--version")});
    EXPECT_EQ(version.exitCode, 0) << version.err.toStdString();
    EXPECT_EQ(version.out, QStringLiteral("kelvox ") + record.FileVersion + QLatin1Char('\n'));
}

TEST(CommandLineProgram, UnknownOptionPrintsUsageToStandardErrorAndExitsTwo)
{
    for (const QStringList& arguments : {QStringList{QStringLiteral("--bogus")},
                                         QStringList{QStringLiteral("a.raw"), QStringLiteral("b.raw")}}) {
        const ProgramRun run = runProgram(arguments);
        EXPECT_EQ(run.exitCode, CommandLineUsageExitCode);
        EXPECT_TRUE(run.out.isEmpty()) << run.out.toStdString();
        EXPECT_TRUE(run.err.startsWith(QStringLiteral("kelvox: "))) << run.err.toStdString();
        EXPECT_TRUE(run.err.contains(commandLineUsage())) << run.err.toStdString();
    }
}

} // namespace

// The programs as a user starts them: --help and --version, and sorvell without a display.
#include <gtest/gtest.h>

#include <QProcess>
#include <QProcessEnvironment>
#include <QStringList>

namespace {

struct ProgramRun {
    int status = -1;
    bool crashed = false;
    QString out;
    QString err;
};

ProgramRun RunProgram(const char* path, const QStringList& arguments,
                      const QProcessEnvironment& env) {
    QProcess process;
    process.setProcessEnvironment(env);
    process.start(QString::fromUtf8(path), arguments);
    ProgramRun run;
    if (!process.waitForFinished(30000)) {
        process.kill();
        process.waitForFinished(5000);
        ADD_FAILURE() << path << " did not end within 30 s";
        return run;
    }
    run.status = process.exitCode();
    run.crashed = process.exitStatus() == QProcess::CrashExit;
    run.out = QString::fromUtf8(process.readAllStandardOutput());
    run.err = QString::fromUtf8(process.readAllStandardError());
    return run;
}

}  // namespace

TEST(CommandLine, HelpAndVersionPrintAndEndWithoutAWindow) {
    // No display either: were a window attempted, the run would fail.
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove(QStringLiteral("DISPLAY"));
    env.remove(QStringLiteral("WAYLAND_DISPLAY"));
    env.remove(QStringLiteral("QT_QPA_PLATFORM"));
    const struct {
        const char* path;
        const char* name;
        const char* helpStart;
    } programs[] = {{SORVELL_PATH, "sorvell", "Usage: sorvell"},
                    {SNAPSHOT_PATH, "sorvell-snapshot", "Usage: sorvell-snapshot"},
                    {TAVREK_SIM_PATH, "tavrek-sim", "Usage: tavrek-sim"}};
    for (const auto& program : programs) {
        const ProgramRun help = RunProgram(program.path, {QStringLiteral("--help")}, env);
        EXPECT_EQ(help.status, 0) << program.name;
        EXPECT_FALSE(help.crashed) << program.name;
        EXPECT_TRUE(help.out.startsWith(QString::fromUtf8(program.helpStart)))
            << program.name << ": " << help.out.toStdString();
        EXPECT_TRUE(help.out.contains(QStringLiteral("--version"))) << program.name;
        EXPECT_TRUE(help.err.isEmpty()) << program.name << ": " << help.err.toStdString();

        const ProgramRun version = RunProgram(program.path, {QStringLiteral("--version")}, env);
        EXPECT_EQ(version.status, 0) << program.name;
        EXPECT_EQ(version.out, QString::fromUtf8(program.name) + QStringLiteral(" 1.0\n"));
    }
}

TEST(CommandLine, WithoutADisplaySorvellSaysWhatToDoAndExitsWithStatusOne) {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove(QStringLiteral("DISPLAY"));
    env.remove(QStringLiteral("WAYLAND_DISPLAY"));
    env.remove(QStringLiteral("QT_QPA_PLATFORM"));
    // Other arguments are ignored, as before: this one changes nothing.
    const ProgramRun run = RunProgram(SORVELL_PATH, {QStringLiteral("--verbose")}, env);
    EXPECT_FALSE(run.crashed);
    EXPECT_EQ(run.status, 1);
    EXPECT_TRUE(run.out.isEmpty());
    EXPECT_EQ(run.err.count(QLatin1Char('\n')), 1) << run.err.toStdString();
    EXPECT_TRUE(run.err.startsWith(QStringLiteral("sorvell: no usable display")))
        << run.err.toStdString();
    EXPECT_TRUE(run.err.contains(QStringLiteral("DISPLAY"))) << run.err.toStdString();
    EXPECT_TRUE(run.err.contains(QStringLiteral("QT_QPA_PLATFORM=offscreen")))
        << run.err.toStdString();

    // A display named but not there is no better.
    env.insert(QStringLiteral("DISPLAY"), QStringLiteral(":97"));
    const ProgramRun named = RunProgram(SORVELL_PATH, {}, env);
    EXPECT_FALSE(named.crashed);
    EXPECT_EQ(named.status, 1);
    EXPECT_EQ(named.err.count(QLatin1Char('\n')), 1) << named.err.toStdString();
}

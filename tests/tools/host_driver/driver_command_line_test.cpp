// The host driver's command line before any session starts: a model file it cannot read ends it
// with one line on standard error and exit code 2, and nothing of a session is made.
#include <QDir>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

struct DriverRun {
    int exitCode = -1;
    QByteArray output;
    QByteArray errors;
};

DriverRun runDriver(const QStringList& arguments) {
    QProcess driver;
    driver.start(QStringLiteral(ORVANTA_HOST_DRIVER), arguments);
    DriverRun run;
    if (!driver.waitForFinished(60000))
        return run;
    run.exitCode = driver.exitStatus() == QProcess::NormalExit ? driver.exitCode() : -1;
    run.output = driver.readAllStandardOutput();
    run.errors = driver.readAllStandardError();
    return run;
}

TEST(DriverCommandLine, AModelItCannotReadEndsItBeforeTheSessionWithOneLine) {
    QTemporaryDir folder;
    ASSERT_TRUE(folder.isValid());
    const QString work = folder.filePath(QStringLiteral("work"));
    QStringList models = {QStringLiteral("/usr/share/assimp/models/invalid/empty.obj"),
                          QStringLiteral("/usr/share/assimp/models/OBJ/testpoints.obj"),
                          folder.filePath(QStringLiteral("missing.glb"))};
#if !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
    // The model library asks for memory without end on this one: the reader's memory ceiling
    // (which a sanitizer's runtime does not allow) ends it.
    models << QStringLiteral("/usr/share/assimp/models/invalid/OutOfMemory.off");
#endif
    for (const QString& model : models) {
        SCOPED_TRACE(model.toStdString());
        const DriverRun run =
            runDriver({QStringLiteral("--model"), model, QStringLiteral("--work-dir"), work,
                       QStringLiteral("/nonexistent/plugin.so")});
        EXPECT_EQ(run.exitCode, 2);
        const QByteArray start = "orvanta_host_driver: cannot read " + model.toUtf8() + ": ";
        EXPECT_TRUE(run.errors.startsWith(start)) << run.errors.constData();
        EXPECT_GT(run.errors.size(), start.size() + 1);
        EXPECT_EQ(run.errors.count('\n'), 1);
        EXPECT_TRUE(run.errors.endsWith('\n'));
        EXPECT_TRUE(run.output.isEmpty()) << run.output.constData();
        EXPECT_FALSE(QDir(work).exists());
    }
}

TEST(DriverCommandLine, EditsPlayOnTheBuiltInModelOnly) {
    const DriverRun run = runDriver({QStringLiteral("--edits"), QStringLiteral("--model"),
                                     QStringLiteral("/usr/share/assimp/models/OBJ/box.obj")});
    EXPECT_EQ(run.exitCode, 2);
    EXPECT_EQ(run.errors.count('\n'), 1);
    EXPECT_TRUE(run.output.isEmpty());
}

// A command line the driver cannot use ends it before anything else, with its exit code and its
// one line on standard error.
struct RefusedCommandLine {
    QStringList arguments;
    int exitCode;
    const char* line;
};

TEST(DriverCommandLine, EachCommandLineItCannotUseEndsItWithItsCodeAndLine) {
    const RefusedCommandLine cases[] = {
        {{QStringLiteral("--generate"), QStringLiteral("0")},
         2,
         "orvanta_host_driver: --generate takes a positive number of triangles and no --model\n"},
        {{QStringLiteral("--generate"), QStringLiteral("10"), QStringLiteral("--model"),
          QStringLiteral("/nonexistent.obj")},
         2,
         "orvanta_host_driver: --generate takes a positive number of triangles and no --model\n"},
        {{QStringLiteral("--interrupt"), QStringLiteral("pause")},
         2,
         "orvanta_host_driver: --interrupt takes kill or stop\n"},
        {{QStringLiteral("--exports"), QStringLiteral("0")},
         2,
         "orvanta_host_driver: --exports takes a positive count\n"},
        {{QStringLiteral("--edits"), QStringLiteral("--generate"), QStringLiteral("10")},
         2,
         "orvanta_host_driver: --edits plays on the built-in model; leave out --model\n"},
        {{QStringLiteral("--edit-pause"), QStringLiteral("-1")},
         2,
         "orvanta_host_driver: --edit-pause takes milliseconds from 0 to 3600000\n"},
        {{QStringLiteral("--edits"), QStringLiteral("--edit-pause"), QStringLiteral("soon")},
         2,
         "orvanta_host_driver: --edit-pause takes milliseconds from 0 to 3600000\n"},
        {{QStringLiteral("--hold"), QStringLiteral("--edit-pause"), QStringLiteral("3600001")},
         2,
         "orvanta_host_driver: --edit-pause takes milliseconds from 0 to 3600000\n"},
        {{QStringLiteral("--edit-pause")},
         1,
         "orvanta_host_driver: Missing value after '--edit-pause'.\n"},
        {{QStringLiteral("--no-such-option")},
         1,
         "orvanta_host_driver: Unknown option 'no-such-option'.\n"},
        {{QStringLiteral("--model")}, 1, "orvanta_host_driver: Missing value after '--model'.\n"},
    };
    for (const RefusedCommandLine& c : cases) {
        SCOPED_TRACE(c.arguments.join(QLatin1Char(' ')).toStdString());
        const DriverRun run = runDriver(c.arguments);
        EXPECT_EQ(run.exitCode, c.exitCode);
        EXPECT_EQ(run.errors.toStdString(), c.line);
        EXPECT_TRUE(run.output.isEmpty()) << run.output.constData();
    }
}

// A usable pause is taken: the driver goes on to the model, which it then cannot read.
TEST(DriverCommandLine, AnEditPauseInRangeIsTaken) {
    QTemporaryDir folder;
    ASSERT_TRUE(folder.isValid());
    const QString missing = folder.filePath(QStringLiteral("missing.obj"));
    for (const char* pause : {"0", "1000", "3600000"}) {
        SCOPED_TRACE(pause);
        const DriverRun run = runDriver({QStringLiteral("--edit-pause"), QLatin1String(pause),
                                         QStringLiteral("--model"), missing});
        EXPECT_EQ(run.exitCode, 2);
        EXPECT_TRUE(run.errors.startsWith("orvanta_host_driver: cannot read " + missing.toUtf8()))
            << run.errors.constData();
    }
}

TEST(DriverCommandLine, HelpIsPrintedOnStandardOutputAndEndsItWithCodeZero) {
    for (const QString& option :
         {QStringLiteral("--help"), QStringLiteral("-h"), QStringLiteral("--help-all")}) {
        SCOPED_TRACE(option.toStdString());
        const DriverRun run = runDriver({option});
        EXPECT_EQ(run.exitCode, 0);
        EXPECT_TRUE(run.output.startsWith("Usage: ")) << run.output.constData();
        EXPECT_TRUE(run.output.contains("--interrupt <kill|stop>")) << run.output.constData();
        for (const char* shown : {"--edit-pause <ms>", "--verbose", "--log <path>", "--hold"})
            EXPECT_TRUE(run.output.contains(shown)) << shown;
        EXPECT_FALSE(run.output.contains("check-model")) << "the hidden option stays hidden";
        EXPECT_TRUE(run.errors.isEmpty()) << run.errors.constData();
    }
}

}  // namespace

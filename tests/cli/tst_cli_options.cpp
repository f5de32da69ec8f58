// The options each verb takes: an option a verb does not take is refused (exit 2, the option and the
// verb named) before anything is sent, while the verb's own options are taken; and the verbs and their
// options as the help, the bash completion and the manual page list them are those of the verb table.
// In-process against simulated devices on loopback.
#include "CliTestSupport.h"
#include "TesselSim.h"

#include <QFile>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

using namespace Qt::StringLiterals;

namespace {
constexpr std::uint16_t kDevicePort = 52543; // this test's own device port on the loopback profile
constexpr std::uint32_t kFirstAddress = 0x7F000002;

NetworkProfile testProfile()
{
    NetworkProfile p = NetworkProfile::loopbackProfile();
    p.devicePort = kDevicePort;
    return p;
}

QString sourceFile(const char* path)
{
    QFile file(QStringLiteral(CORMAP_SOURCE_DIR "/") + QLatin1String(path));
    if (!file.open(QIODevice::ReadOnly))
        qWarning("cannot read %s", path);
    return QString::fromUtf8(file.readAll());
}

// Every verb takes these; the lists below leave them out.
const QStringList kEveryVerbs = {u"--loopback"_s, u"--device-port"_s, u"--tftp-port"_s, u"--shell-port"_s, u"--help"_s};

QStringList sorted(QStringList list)
{
    list.sort();
    return list;
}

/** The options the table gives `verb`, without those every verb takes. */
QStringList ownOptions(const QString& verb)
{
    QStringList options = CliTool::optionsOf(verb);
    for (const QString& o : kEveryVerbs)
        options.removeAll(o);
    return sorted(options);
}
} // namespace

class TestCliOptions : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void anOptionTheVerbDoesNotTakeIsRefused_data();
    void anOptionTheVerbDoesNotTakeIsRefused();
    void theVerbsOwnOptionsAreTaken_data();
    void theVerbsOwnOptionsAreTaken();
    void helpCompletionAndManualListTheTablesVerbs();
    void completionAndManualListEachVerbsOptions();

private:
    std::unique_ptr<TesselSim> m_sim;
    std::unique_ptr<QTemporaryDir> m_dir;
};

void TestCliOptions::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
    qputenv("XDG_DATA_HOME", QFile::encodeName(m_dir->filePath(u"data"_s)));
    m_sim = std::make_unique<TesselSim>(testProfile());
    m_sim->addDevices(2, kFirstAddress);
    QString error;
    QVERIFY2(m_sim->start(&error), qPrintable(error));
}

void TestCliOptions::cleanup()
{
    m_sim.reset();
    m_dir.reset();
}

void TestCliOptions::anOptionTheVerbDoesNotTakeIsRefused_data()
{
    QTest::addColumn<QString>("line");
    QTest::addColumn<QString>("option");
    QTest::addColumn<QString>("verb");
    const auto row = [](const char* line, const char* option, const char* verb) {
        QTest::newRow(line) << QString::fromLatin1(line) << QString::fromLatin1(option) << QString::fromLatin1(verb);
    };
    row("read 127.0.0.2 --csv", "--csv", "read");
    row("history 127.0.0.2 --jobs 5", "--jobs", "history");
    row("read 127.0.0.2 --dry-run", "--dry-run", "read");
    row("read 127.0.0.2 --all", "--all", "read");
    row("read 127.0.0.2 --interval 5", "--interval", "read");
    row("search --dry-run", "--dry-run", "search");
    row("search --yes", "--yes", "search");
    row("search --all", "--all", "search");
    row("status 127.0.0.2 --csv", "--csv", "status");
    row("status 127.0.0.2 --dry-run", "--dry-run", "status");
    row("status 127.0.0.2 --shell", "--shell", "status");
    row("write 127.0.0.2 comment=x --csv", "--csv", "write");
    row("write 127.0.0.2 comment=x --watch", "--watch", "write");
    row("write 127.0.0.2 comment=x --clear", "--clear", "write");
    row("write --ip 127.0.0.2 arp=no", "--ip", "write");
    row("passwd 127.0.0.2 --json", "--json", "passwd");
    row("passwd 127.0.0.2 --dry-run", "--dry-run", "passwd");
    row("export 127.0.0.2 out.kvx --json", "--json", "export");
    row("export 127.0.0.2 out.kvx --all", "--all", "export");
    row("import in.kvx 127.0.0.2 --dry-run", "--dry-run", "import");
    row("import in.kvx 127.0.0.2 --json", "--json", "import");
    row("show in.kvx --bind 127.0.0.1", "--bind", "show");
    row("show in.kvx --all-adapters", "--all-adapters", "show");
    row("firmware image.bin 127.0.0.2 --json", "--json", "firmware");
    row("firmware image.bin 127.0.0.2 --dry-run", "--dry-run", "firmware");
    row("history 127.0.0.2 --all", "--all", "history");
    row("diff 127.0.0.2 127.0.0.3 --csv", "--csv", "diff");
    row("diff 127.0.0.2 127.0.0.3 --count 2", "--count", "diff");
    row("restore 127.0.0.2 --jobs 2", "--jobs", "restore");
    row("restore 127.0.0.2 --yes", "--yes", "restore");
    row("apply state.json --all", "--all", "apply");
    row("apply state.json --yes", "--yes", "apply");
    row("apply state.json --openmetrics m.prom", "--openmetrics", "apply");
    row("help --json", "--json", "help");
}

void TestCliOptions::anOptionTheVerbDoesNotTakeIsRefused()
{
    QFETCH(QString, line);
    QFETCH(QString, option);
    QFETCH(QString, verb);
    QSignalSpy handled(m_sim.get(), &TesselSim::requestHandled);
    const QStringList args = line.split(u' ');
    // Files a verb would read, so that only the option can be what is wrong.
    for (const QString& name : {u"in.kvx"_s, u"image.bin"_s, u"state.json"_s}) {
        QFile file(m_dir->filePath(name));
        QVERIFY(file.open(QIODevice::WriteOnly));
    }
    QStringList inDir;
    for (const QString& a : args)
        inDir << (a.contains(u'.') && !a.front().isDigit() ? m_dir->filePath(a) : a);
    clitest::FakeConsole console;
    const clitest::CliRun run = clitest::runCli(inDir, console, testProfile());
    QCOMPARE(run.status, 2);
    QVERIFY2(run.err.startsWith(u"cormapmp-cli: %1 is not an option of %2"_s.arg(option, verb)), qPrintable(run.err));
    QCOMPARE(run.out, QString());
    QCOMPARE(handled.count(), 0); // refused before anything was sent
    QVERIFY(console.prompts.isEmpty());
}

void TestCliOptions::theVerbsOwnOptionsAreTaken_data()
{
    QTest::addColumn<QString>("line");
    QTest::newRow("read --json") << u"read 127.0.0.2 --json"_s;
    QTest::newRow("search --csv") << u"search --csv --expect 2"_s;
    QTest::newRow("status --json") << u"status 127.0.0.2 --json"_s;
    QTest::newRow("history --json") << u"history 127.0.0.2 --json"_s;
    QTest::newRow("write --dry-run") << u"write 127.0.0.2 arp=no --dry-run"_s;
    QTest::newRow("write --jobs") << u"write 127.0.0.2 127.0.0.3 arp=no --yes --jobs 2 --dry-run"_s;
    QTest::newRow("diff --json") << u"diff 127.0.0.2 127.0.0.2 --json"_s;
    QTest::newRow("read with the network profile") << u"read 127.0.0.2 --tftp-port 53541 --shell-port 53542"_s;
}

void TestCliOptions::theVerbsOwnOptionsAreTaken()
{
    QFETCH(QString, line);
    const clitest::CliRun run = clitest::runCli(testProfile(), line.split(u' '));
    QVERIFY2(run.status == 0, qPrintable(run.err));
    QVERIFY2(!run.err.contains(u"is not an option of"_s), qPrintable(run.err));
    QVERIFY(!run.out.isEmpty());
}

void TestCliOptions::helpCompletionAndManualListTheTablesVerbs()
{
    const QStringList verbs = CliTool::verbNames();
    QCOMPARE(verbs.size(), 16);
    // The help: the first word of each verb line between "Verbs:" and "Options:", and "help".
    const QString help = CliTool::helpText();
    const QString verbPart = help.section(u"\nVerbs:\n"_s, 1).section(u"\nOptions:\n"_s, 0, 0);
    QStringList helpVerbs;
    static const QRegularExpression verbLine(u"^  ([a-z]+) "_s, QRegularExpression::MultilineOption);
    for (auto it = verbLine.globalMatch(verbPart); it.hasNext();) {
        const QString verb = it.next().captured(1);
        if (!helpVerbs.contains(verb))
            helpVerbs << verb;
    }
    QCOMPARE(sorted(helpVerbs + QStringList{u"help"_s}), sorted(verbs));
    // The completion's list of verbs.
    const QString completion = sourceFile("packaging/cormapmp-cli.bash-completion");
    static const QRegularExpression completionVerbs(u"local verbs=\"([^\"]*)\""_s);
    QCOMPARE(completionVerbs.match(completion).captured(1).split(u' '), verbs);
    // The manual: each verb's paragraph in VERBS starts with its name in bold.
    const QString manual = sourceFile("packaging/man/cormapmp-cli.1.scd");
    const QString manualVerbs = manual.section(u"\n# VERBS\n"_s, 1).section(u"\n# OPTIONS\n"_s, 0, 0);
    QStringList pageVerbs;
    static const QRegularExpression paragraph(u"^\\*([a-z]+)\\*"_s, QRegularExpression::MultilineOption);
    for (auto it = paragraph.globalMatch(manualVerbs); it.hasNext();) {
        const QString verb = it.next().captured(1);
        if (!pageVerbs.contains(verb))
            pageVerbs << verb;
    }
    QCOMPARE(pageVerbs, verbs);
    // The message for an unknown verb lists them too.
    const clitest::CliRun run = clitest::runCli(testProfile(), {u"frobnicate"_s});
    QCOMPARE(run.status, 2);
    for (const QString& verb : verbs.mid(0, verbs.size() - 1))
        QVERIFY2(run.err.contains(QRegularExpression(u"[ ,]%1[ ,)]"_s.arg(verb))), qPrintable(verb));
}

void TestCliOptions::completionAndManualListEachVerbsOptions()
{
    const QString completion = sourceFile("packaging/cormapmp-cli.bash-completion");
    const QString manual = sourceFile("packaging/man/cormapmp-cli.1.scd");
    const QString byVerb = manual.section(u"\n# OPTIONS BY VERB\n"_s, 1).section(u"\n# "_s, 0, 0);
    const QString help = CliTool::helpText();
    const QString helpByVerb = help.section(u"\nOptions by verb"_s, 1).section(u"\n\n"_s, 0, 0);
    for (const QString& verb : CliTool::verbNames()) {
        const QStringList own = ownOptions(verb);
        QVERIFY2(CliTool::optionsOf(verb).size() == own.size() + kEveryVerbs.size(), qPrintable(verb));
        // The completion: "verb) options="..." ;;".
        const QRegularExpression inCompletion(u"^\\s+%1\\) options=\"([^\"]*)\" ;;$"_s.arg(verb),
                                              QRegularExpression::MultilineOption);
        const QRegularExpressionMatch c = inCompletion.match(completion);
        QVERIFY2(c.hasMatch(), qPrintable(verb));
        QCOMPARE(sorted(c.captured(1).split(u' ', Qt::SkipEmptyParts)), own);
        // The manual: "*verb*: *--a* *--b*" (or "none").
        const QRegularExpression inManual(u"^\\*%1\\*: (.*)$"_s.arg(verb), QRegularExpression::MultilineOption);
        const QRegularExpressionMatch m = inManual.match(byVerb);
        QVERIFY2(m.hasMatch(), qPrintable(verb));
        QStringList listed = m.captured(1).remove(u'*').split(u' ', Qt::SkipEmptyParts);
        listed.removeAll(u"none"_s);
        QCOMPARE(sorted(listed), own);
        // The help: "  verb        --a --b", continued on indented lines.
        const QRegularExpression inHelp(u"^  %1 +((?:[^\\n]*)(?:\\n {14}[^\\n]*)*)"_s.arg(verb),
                                        QRegularExpression::MultilineOption);
        const QRegularExpressionMatch h = inHelp.match(helpByVerb);
        QVERIFY2(h.hasMatch(), qPrintable(verb));
        QStringList shown = h.captured(1).simplified().split(u' ', Qt::SkipEmptyParts);
        shown.removeAll(u"(none)"_s);
        QCOMPARE(sorted(shown), own);
    }
}

QTEST_GUILESS_MAIN(TestCliOptions)
#include "tst_cli_options.moc"

// cormap-gallery: pictures of the program's dialogs in every language, for review.
#include "Gallery.h"

#include "SimFirmware.h"
#include "SimSerial.h"
#include "TesselSim.h"
#include "app/CAgreementDlg.h"
#include "app/CBindDlg.h"
#include "app/CQorvDlg.h"
#include "gui/editor/CHistoryDlg.h"
#include "gui/editor/CPppoeDlg.h"
#include "gui/editor/CQorv400Dlg.h"
#include "gui/firmware/CChangeFWDlg.h"
#include "firmware/TftpPacket.h"
#include "gui/AppContext.h"
#include "gui/CMsgDlg.h"
#include "gui/FileService.h"
#include "gui/FirewallLauncher.h"
#include "gui/MessageService.h"
#include "gui/UserProfile.h"
#include "gui/porttest/CPortTestDlg.h"
#include "net/AdapterSource.h"
#include "gui/status/CStatDlg.h"
#include "gui/status/LiveTrafficPanel.h"
#include "text/StringTable.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QCommandLineParser>
#include <QElapsedTimer>
#include <QFile>
#include <QLibraryInfo>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMessageBox>
#include <QNetworkDatagram>
#include <QPlainTextEdit>
#include <QProcess>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QTextStream>
#include <QTimer>
#include <QToolButton>
#include <QTranslator>
#include <QTableWidget>
#include <QUdpSocket>

#include <algorithm>
#include <cstring>
#include <functional>

namespace {
constexpr std::uint16_t kGalleryDevicePort = 52399;
constexpr std::uint16_t kGalleryTftpPort = 52369;
constexpr std::uint16_t kGalleryShellPort = 52323;
constexpr std::uint32_t kPausingDevice = 0x7F000006; // 127.0.0.6: acknowledges a part, then waits

NetworkProfile galleryNetwork()
{
    NetworkProfile network = NetworkProfile::loopbackProfile();
    network.devicePort = kGalleryDevicePort;
    network.tftpPort = kGalleryTftpPort;
    network.shellPort = kGalleryShellPort;
    return network;
}

struct Language
{
    UiLanguage table;
    std::uint8_t system;
    const char* suffix;
    const char* locale; // the system locale the pictures pretend
};
constexpr Language kLanguages[] = {
    {UiLanguage::English, primary_language::kEnglish, "en", "en_US"},
    {UiLanguage::Korean, primary_language::kKorean, "ko", "ko_KR"},
    {UiLanguage::Chinese, primary_language::kChinese, "zh", "zh_CN"},
};

QList<AdapterInfo> galleryAdapters()
{
    return {
        {QStringLiteral("lo"), QStringLiteral("lo — Loopback"), {QStringLiteral("127.0.0.1")}},
        {QStringLiteral("eth0"), QStringLiteral("eth0 — Ethernet 02:fc:00:00:00:01"), {QStringLiteral("192.168.0.10")}},
        {QStringLiteral("wlan0"),
         QStringLiteral("wlan0 — Wi-Fi 02:fc:00:00:00:02"),
         {QStringLiteral("10.0.0.23"), QStringLiteral("10.0.0.24"), QStringLiteral("172.16.5.1")}},
        {QStringLiteral("docker0"), QStringLiteral("docker0 — Virtual 02:42:ac:11:00:01"), {QStringLiteral("0.0.0.0")}},
    };
}

void waitUntil(const std::function<bool()>& done, int timeoutMs)
{
    QElapsedTimer clock;
    clock.start();
    while (!done() && clock.elapsed() < timeoutMs)
        QApplication::processEvents(QEventLoop::AllEvents, 20);
}

void waitFor(int ms)
{
    waitUntil([] { return false; }, ms);
}

/** Everything one language's pictures need. */
class Scene
{
public:
    Scene(const Language& language, const QString& profileDir)
        : m_language(language), m_strings(language.table),
          m_profile(std::make_unique<QSettings>(profileDir + QStringLiteral("/profile-") +
                                                    QString::fromLatin1(language.suffix) + QStringLiteral(".ini"),
                                                QSettings::IniFormat)),
          m_adapters(galleryAdapters()), m_firewall(QList<FirewallLauncher::Tool>{})
    {
        m_messages.setInteractive(false);
        m_profile.settings().clear();
    }

    AppContext context()
    {
        return AppContext{m_strings, m_messages, m_files,          m_adapters,
                          m_profile, m_firewall, galleryNetwork(), m_language.system};
    }
    FileService& files() { return m_files; }
    QString name(const char* what) const
    {
        return QString::fromLatin1(what) + u'-' + QString::fromLatin1(m_language.suffix);
    }
    QString text(int id) const { return m_strings.text(id); }
    const StringTable& strings() const { return m_strings; }
    UserProfile& profile() { return m_profile; }

private:
    Language m_language;
    StringTable m_strings;
    MessageService m_messages;
    FileService m_files;
    UserProfile m_profile;
    FixedAdapterSource m_adapters;
    FirewallLauncher m_firewall;
};

void shootDisclaimer(Gallery& gallery, Scene& scene)
{
    CAgreementDlg dialog(scene.context());
    gallery.shoot(&dialog, scene.name("disclaimer"));
    if (scene.name("").endsWith(QStringLiteral("en"))) {
        dialog.findChild<QComboBox*>(QStringLiteral("languageCombo"))->setCurrentIndex(1);
        gallery.shoot(&dialog, QStringLiteral("disclaimer-french"));
    }
}

void shootBinding(Gallery& gallery, Scene& scene)
{
    CBindDlg dialog(scene.context(), QStringLiteral("wlan0"), 0x0A000018); // 10.0.0.24
    gallery.shoot(&dialog, scene.name("binding"));
}

void shootMessage(Gallery& gallery, const QString& name, QMessageBox::Icon icon, const QString& caption, QString text,
                  QMessageBox::StandardButtons buttons)
{
    // As MessageService shows it.
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    QMessageBox box(icon, caption, text, buttons);
    box.setTextFormat(Qt::PlainText);
    gallery.shoot(&box, name);
}

void shootSearchWindow(Gallery& gallery, Scene& scene)
{
    AdapterBinding binding;
    {
        CQorvDlg empty(scene.context(), binding);
        gallery.shoot(&empty, scene.name("search-empty"));
        auto* button = empty.findChild<QToolButton*>(QStringLiteral("bindingMenuButton"));
        QMenu* menu = button->menu();
        menu->ensurePolished();
        menu->adjustSize();
        const QPoint at = button->mapTo(&empty, QPoint(button->width() - menu->sizeHint().width(), button->height()));
        gallery.shoot(&empty, scene.name("search-menu"), menu, at);
    }
    // With devices, bound to the loopback adapter: the title shows the binding.
    scene.profile().setBinding(QStringLiteral("lo"), 0x7F000001);
    CQorvDlg window(scene.context(), binding);
    window.show();
    window.findChild<QPushButton*>(QStringLiteral("searchButton"))->click();
    waitFor(700); // a few ticks: the running count is shown
    gallery.shoot(&window.messageWindow(), scene.name("progress"));
    waitUntil([&] { return !window.requestInFlight(); }, 5000);
    gallery.shoot(&window, scene.name("search-devices"));

    window.findChild<QRadioButton*>(QStringLiteral("ipRadio"))->click();
    window.findChild<QLineEdit*>(QStringLiteral("ipAddressEdit"))->setText(QStringLiteral("127.0.0.3"));
    window.findChild<QPushButton*>(QStringLiteral("searchButton"))->click();
    waitUntil([&] { return !window.requestInFlight(); }, 5000);
    gallery.shoot(&window, scene.name("search-ip"));

    window.findChild<QListWidget*>(QStringLiteral("resultsList"))->setCurrentRow(0);
    window.findChild<QPushButton*>(QStringLiteral("readButton"))->click();
    gallery.shoot(&window.messageWindow(), scene.name("progress-read"));
    waitUntil([&] { return !window.requestInFlight(); }, 5000);
    scene.profile().setBinding(QString(), 0);
}
/** The status report of a simulated device, as the settings editor opens it after a status reply. */
void shootStatus(Gallery& gallery, Scene& scene, const SimDevice& device)
{
    CStatDlg dialog(scene.context());
    const QByteArray& items = device.statusItems;
    std::copy_n(items.constData(), std::min<qsizetype>(items.size(), status::kBlockSize), dialog.statusData().begin());
    dialog.decodeReport();
    gallery.shoot(&dialog, scene.name("status"));
}

/** Serial traffic of a known shape for device 0's live view: COM1 receives in a square wave and sends
 *  a little, COM2 sends in steps, COM3 trickles, COM4 is idle. */
sim::SerialTraffic galleryTraffic()
{
    sim::SerialTraffic traffic;
    traffic.rates = {
        sim::CounterRate{sim::kStatusComRx, {6000, 2000}, 4000},
        sim::CounterRate{sim::kStatusComTx, {800}, 10000},
        sim::CounterRate{sim::kStatusComTx + 1, {0, 12000, 6000}, 3000},
        sim::CounterRate{sim::kStatusComRx + 2, {150}, 10000},
    };
    return traffic;
}

/** The status dialog with "Live" on, as the settings editor runs it, after some seconds of readings a
 *  second apart: one reading goes unanswered and the device restarts once on the way. */
void shootLiveStatus(Gallery& gallery, Scene& scene, TesselSim& sim)
{
    CQorv400Dlg editor(scene.context(), AdapterBinding{}, sim.device(0).record, CQorv400Dlg::kModeRemote,
                       sim.device(0).address);
    editor.show();
    // The editor opens the dialog with exec() once the status has come: act from a timer then.
    QTimer watch;
    QObject::connect(&watch, &QTimer::timeout, &watch, [&] {
        CStatDlg* dialog = &editor.statusDialog();
        if (!dialog->isVisible())
            return;
        watch.stop();
        dialog->findChild<QComboBox*>(QStringLiteral("liveIntervalCombo"))->setCurrentIndex(0); // 1 s
        dialog->findChild<QCheckBox*>(QStringLiteral("liveCheckBox"))->setChecked(true);
        waitFor(9000);
        SimFaults silent;
        silent.dropShare = 1.0;
        sim.setFaults(silent); // the next reading gets no answer
        waitFor(1100);
        sim.setFaults(SimFaults{});
        waitFor(7000);
        sim.restartDevice(0);
        waitFor(9000);
        gallery.shoot(dialog, scene.name("status-live"));
        dialog->accept();
    });
    watch.start(20);
    editor.findChild<QPushButton*>(QStringLiteral("statusButton"))->click();
    waitUntil([&] { return !editor.requestInFlight() && !editor.statusDialog().isVisible(); }, 60000);
}

/** The language one run renders, from "--language CODE"; nothing when the run renders them all. */
const Language* languageArgument(int argc, char* argv[])
{
    for (int i = 1; i + 1 < argc; ++i) {
        if (std::strcmp(argv[i], "--language") != 0)
            continue;
        for (const Language& language : kLanguages) {
            if (std::strcmp(argv[i + 1], language.suffix) == 0)
                return &language;
        }
    }
    return nullptr;
}

/** Renders each language in a run of its own with the system locale set to it, so that the font set-up
 *  (fontconfig picks the default font by the locale's language when the application starts) is exactly
 *  what the program has for users of that language. */
int renderEveryLanguage(const QString& self, const QStringList& arguments)
{
    for (const Language& language : kLanguages) {
        QProcess run;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        const QString locale = QString::fromLatin1(language.locale) + QStringLiteral(".UTF-8");
        environment.insert(QStringLiteral("LC_ALL"), locale);
        environment.insert(QStringLiteral("LANG"), locale);
        run.setProcessEnvironment(environment);
        run.setProcessChannelMode(QProcess::ForwardedChannels);
        run.start(self, arguments + QStringList{QStringLiteral("--language"), QString::fromLatin1(language.suffix)});
        if (!run.waitForFinished(-1) || run.exitStatus() != QProcess::NormalExit || run.exitCode() != 0)
            return 1;
    }
    return 0;
}

/** A device that acknowledges the write request and the first `blocks` blocks, then waits: the dialog
 *  stays in the middle of its transfer. */
class PausingDevice
{
public:
    explicit PausingDevice(int blocks) : m_blocks(blocks)
    {
        m_socket.bind(QHostAddress(kPausingDevice), kGalleryTftpPort);
        QObject::connect(&m_socket, &QUdpSocket::readyRead, &m_socket, [this] {
            while (m_socket.hasPendingDatagrams()) {
                const QNetworkDatagram d = m_socket.receiveDatagram();
                const std::optional<std::uint16_t> block = tftp::secondField(d.data());
                const bool request = tftp::opcodeOf(d.data()) == tftp::kWriteRequest;
                if (request || (block && *block <= m_blocks && tftp::opcodeOf(d.data()) == tftp::kData))
                    m_socket.writeDatagram(tftp::ackPacket(request ? 0 : *block), d.senderAddress(),
                                           static_cast<quint16>(d.senderPort()));
            }
        });
    }

private:
    QUdpSocket m_socket;
    int m_blocks;
};

void shootFirmware(Gallery& gallery, Scene& scene, const QString& imagePath)
{
    CChangeFWDlg dialog(scene.context());
    dialog.setProductCode(8);
    dialog.setTargetAddress(0x7F000002); // 127.0.0.2, a simulated device
    dialog.show();
    scene.files().setNextFileName(imagePath);
    dialog.findChild<QPushButton*>(QStringLiteral("firmwareButton"))->click();
    gallery.shoot(&dialog, scene.name("firmware-idle"));
    dialog.findChild<QPushButton*>(QStringLiteral("sendButton"))->click();
    waitUntil([&] { return !dialog.transferring(); }, 10000);
    gallery.shoot(&dialog, scene.name("firmware-done"));
    dialog.close();

    PausingDevice device(120);
    dialog.setTargetAddress(kPausingDevice);
    dialog.show();
    dialog.findChild<QPushButton*>(QStringLiteral("sendButton"))->click();
    auto* bar = dialog.findChild<QProgressBar*>(QStringLiteral("progressBar"));
    waitUntil([&] { return bar->value() >= 120 * tftp::kBlockSize; }, 5000);
    gallery.shoot(&dialog, scene.name("firmware-sending"));
    dialog.close(); // abandons the transfer
}

/** The settings editor on a simulated device's record, and its account dialog. */
void shootEditor(Gallery& gallery, Scene& scene, const EnvRecord& record)
{
    CQorv400Dlg editor(scene.context(), AdapterBinding{}, record, CQorv400Dlg::kModeLocal, 0);
    editor.resize(editor.sizeHint());
    gallery.shoot(&editor, scene.name("editor"));
    gallery.shoot(&editor.accountDialog(), scene.name("account"));
    editor.accountDialog().hide();
}

/** The settings history of a device after three writes, the oldest chosen. */
void shootHistory(Gallery& gallery, Scene& scene, const EnvRecord& record, const QString& folder)
{
    settings_history::Store store(folder);
    settings_history::Entry entry;
    entry.before = record;
    entry.after = record;
    const QDateTime start(QDate(2026, 3, 2), QTime(9, 14, 5));
    const auto keep = [&](const char* program, const char* verb, int minutes, auto change) {
        entry.before = entry.after;
        change(entry.after);
        entry.time = start.addSecs(minutes * 60);
        entry.program = QString::fromLatin1(program);
        entry.verb = QString::fromLatin1(verb);
        store.keep(entry);
    };
    keep("cormapmp", "write", 0, [](EnvRecord& r) { r.setComment("Line 3 scanner"); });
    keep("cormapmp-cli", "write", 42, [](EnvRecord& r) {
        EnvPortBlock port = r.port(0);
        port.setBaudRate(115200);
        r.setPort(0, port);
    });
    keep("cormapmp-cli", "import", 95, [](EnvRecord& r) { r.setGateway(r.gateway() + 1); });
    CHistoryDlg dialog(scene.strings(), store, record.mac());
    auto* list = dialog.findChild<QTableWidget*>(QStringLiteral("entriesList"));
    list->setCurrentCell(1, 0);
    gallery.shoot(&dialog, scene.name("history"));
}
/** The port terminal on a simulated device's TCP server port (COM2), after two lines went through. */
void shootPortTest(Gallery& gallery, Scene& scene, const EnvRecord& record, std::uint32_t address)
{
    CPortTestDlg dialog(scene.strings(), scene.context().messages, record, address, 1);
    dialog.resize(820, 420); // room for the hex of each line
    dialog.show();
    dialog.findChild<QPushButton*>(QStringLiteral("connectButton"))->click();
    waitUntil([&] { return dialog.isConnected(); }, 5000);
    auto* input = dialog.findChild<QLineEdit*>(QStringLiteral("sendEdit"));
    auto* traffic = dialog.findChild<QPlainTextEdit*>(QStringLiteral("trafficView"));
    dialog.findChild<QComboBox*>(QStringLiteral("endingCombo"))->setCurrentIndex(3);
    for (const char* line : {"AT+VERSION?", "hello Tessel"}) {
        const int before = traffic->toPlainText().isEmpty() ? 0 : traffic->document()->blockCount();
        input->setText(QString::fromLatin1(line));
        dialog.findChild<QPushButton*>(QStringLiteral("sendButton"))->click();
        // Until the whole echo is back, shown as one line.
        waitUntil([&] { return traffic->document()->blockCount() >= before + 2; }, 5000);
        waitFor(100);
    }
    gallery.shoot(&dialog, scene.name("port-test"));
}
} // namespace

int main(int argc, char* argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    const Language* only = languageArgument(argc, argv);
    QApplication app(argc, argv);
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Renders the CormapMP dialogs to PNG files."));
    parser.addHelpOption();
    const QCommandLineOption outOption(QStringLiteral("out"), QStringLiteral("Output folder."), QStringLiteral("dir"),
                                       QStringLiteral(CORMAP_SOURCE_DIR "/docs/screenshots"));
    const QCommandLineOption languageOption(
        QStringLiteral("language"), QStringLiteral("Render one language (en, ko, zh) only."), QStringLiteral("code"));
    parser.addOption(outOption);
    parser.addOption(languageOption);
    parser.process(app);
    if (!only)
        return renderEveryLanguage(QApplication::applicationFilePath(),
                                   {QStringLiteral("--out"), parser.value(outOption)});

    const NetworkProfile network = galleryNetwork();
    TesselSim sim(network);
    sim.addDevices(4);
    sim.device(0).traffic = galleryTraffic();
    QString error;
    if (!sim.start(&error)) {
        QTextStream(stderr) << "cormap-gallery: the simulator did not start: " << error << '\n';
        return 1;
    }

    SimFirmware firmware(network);
    if (!firmware.start({0x7F000002}, SimFirmwareOptions{}, &error)) {
        QTextStream(stderr) << "cormap-gallery: the simulated firmware side did not start: " << error << '\n';
        return 1;
    }

    // The devices' serial ports, paced as their settings say, for the port terminal.
    SimSerial serial(sim);
    if (!serial.start(&error)) {
        QTextStream(stderr) << "cormap-gallery: the simulated serial side did not start: " << error << '\n';
        return 1;
    }

    QTemporaryDir profileDir;
    const QString imagePath = profileDir.filePath(QStringLiteral("tessel400-v4.2.bin"));
    QFile image(imagePath);
    if (!image.open(QIODevice::WriteOnly) || image.write(QByteArray(200000, '\x5a')) != 200000)
        return 1;
    image.close();
    Gallery gallery{QDir(parser.value(outOption))};
    for (const Language& language : {*only}) {
        // Qt's own texts (Yes, No) in the language, as cormapmp loads them for the system locale.
        QTranslator qtTranslator;
        if (qtTranslator.load(QLocale(QString::fromLatin1(language.locale)), QStringLiteral("qtbase"),
                              QStringLiteral("_"), QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
            QApplication::installTranslator(&qtTranslator);
        Scene scene(language, profileDir.path());
        shootDisclaimer(gallery, scene);
        shootBinding(gallery, scene);
        shootSearchWindow(gallery, scene);
        shootEditor(gallery, scene, sim.device(0).record);
        shootHistory(gallery, scene, sim.device(0).record,
                     profileDir.filePath(QStringLiteral("history-") + QString::fromLatin1(language.suffix)));
        shootPortTest(gallery, scene, sim.device(0).record, sim.device(0).address);
        shootStatus(gallery, scene, sim.device(0));
        shootLiveStatus(gallery, scene, sim);
        shootFirmware(gallery, scene, imagePath);
        const QString title = scene.text(StringTable::kProgramTitle);
        shootMessage(gallery, scene.name("message-no-response"), QMessageBox::Critical, title, scene.text(166),
                     QMessageBox::Ok);
        shootMessage(gallery, scene.name("message-exit"), QMessageBox::Question, title, scene.text(186),
                     QMessageBox::Yes | QMessageBox::No);
        shootMessage(gallery, scene.name("message-select-adapter"), QMessageBox::Critical, title,
                     QStringLiteral("네트워크 어댑터를 선택하세요."), QMessageBox::Ok);
        QApplication::removeTranslator(&qtTranslator);
    }
    QTextStream(stdout) << "cormap-gallery: wrote " << gallery.written().size() << " pictures to "
                        << parser.value(outOption) << '\n';
    return 0;
}

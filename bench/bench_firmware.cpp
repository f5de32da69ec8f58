// bench-firmware: is the transfer engine's direct upload as fast as Debian's own TFTP client? Starts
// Debian's tftpd-hpa on 127.0.14.2 (an unprivileged port of its own, a temporary folder) and uploads an
// 8 MiB image five times with the engine (CQuickBurnWnd, in a thread of this process) and five times with
// tftp-hpa's `tftp` (a process per upload, as a user runs it), alternating. Every upload must arrive intact. Prints
// each time, the median of each and their ratio (engine / tftp-hpa): at most 1 means the engine is not
// slower. Exits 1 when an upload failed or the ratio is above 1, 2 when it cannot run.

#include "FirmwarePeers.h"
#include "TftpdProcess.h"
#include "firmware/CQuickBurnWnd.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTextStream>
#include <QThread>

#include <algorithm>
#include <memory>
#include <vector>

namespace {
constexpr std::uint32_t kServer = 0x7F000E02; // 127.0.14.2
constexpr std::uint16_t kPort = 53169;
constexpr qsizetype kImageSize = 8 * 1024 * 1024;
constexpr int kRuns = 5;
constexpr int kUploadLimitMs = 120000;
const char* const kTftpClient = "/usr/bin/tftp";

QTextStream& out()
{
    static QTextStream stream(stdout);
    return stream;
}

/** One upload by the engine; its time in ms, or a negative number when it failed. */
double engineUploadHere(const QByteArray& image, const QString& name)
{
    NetworkProfile profile = NetworkProfile::loopbackProfile();
    profile.tftpPort = kPort;
    fwtest::Recorder recorder;
    CQuickBurnWnd engine(profile, &recorder);
    recorder.attach(&engine);
    engine.setAddressCacheFlush(&CQuickBurnWnd::flushAddressCache); // as the program runs it
    QElapsedTimer clock;
    clock.start();
    engine.StartTftpUpload(kServer, name, reinterpret_cast<const std::uint8_t*>(image.constData()),
                           static_cast<std::uint32_t>(image.size()));
    if (!recorder.waitForFinal(kUploadLimitMs) || recorder.finalCodes() != QList<int>{CQuickBurnWnd::kComplete})
        return -1;
    return static_cast<double>(clock.nsecsElapsed()) / 1e6;
}

/** One upload by the engine in a thread of its own, as a program runs it: this thread's event loop also
 *  watches the server process (its pipes and its exit), which a program uploading firmware does not. */
double engineUpload(const QByteArray& image, const QString& name)
{
    double ms = -1;
    std::unique_ptr<QThread> uploader(QThread::create([&] { ms = engineUploadHere(image, name); }));
    uploader->start();
    uploader->wait();
    return ms;
}

/** One upload by tftp-hpa's client; its time in ms, or a negative number when it failed. */
double clientUpload(const QString& path, const QString& name)
{
    QProcess tftp;
    QElapsedTimer clock;
    clock.start();
    tftp.start(QString::fromLatin1(kTftpClient),
               {QStringLiteral("-m"), QStringLiteral("binary"), QStringLiteral("127.0.14.2"), QString::number(kPort),
                QStringLiteral("-c"), QStringLiteral("put"), path, name});
    if (!tftp.waitForFinished(kUploadLimitMs) || tftp.exitCode() != 0)
        return -1;
    const double ms = static_cast<double>(clock.nsecsElapsed()) / 1e6;
    // tftp-hpa reports some failures on its output with status 0.
    return tftp.readAll().contains("Error") ? -1 : ms;
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

QString times(const std::vector<double>& values)
{
    QStringList parts;
    for (const double v : values)
        parts << QString::number(v, 'f', 1);
    return parts.join(QStringLiteral(" "));
}
} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    if (!TftpdProcess::available() || !QFile::exists(QString::fromLatin1(kTftpClient))) {
        out() << "bench-firmware: needs tftpd-hpa and tftp-hpa (scripts/deps.sh installs them)" << Qt::endl;
        return 2;
    }
    TftpdProcess server;
    if (!server.start(kServer, kPort)) {
        out() << "bench-firmware: " << server.errorText() << Qt::endl;
        return 2;
    }
    QTemporaryDir dir;
    const QByteArray image = fwtest::pattern(kImageSize, 8);
    const QString path = dir.filePath(QStringLiteral("image.bin"));
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(image) != image.size())
        return 2;
    file.close();

    std::vector<double> engine;
    std::vector<double> client;
    bool intact = true;
    for (int run = 0; run < kRuns; ++run) {
        const QString engineName = QStringLiteral("engine-%1.bin").arg(run);
        const QString clientName = QStringLiteral("client-%1.bin").arg(run);
        engine.push_back(engineUpload(image, engineName));
        client.push_back(clientUpload(path, clientName));
        intact = intact && server.file(engineName) == image && server.file(clientName) == image;
    }
    out() << "8 MiB to tftpd-hpa on loopback, " << kRuns << " uploads each (ms)\n"
          << "  engine:   " << times(engine) << "\n"
          << "  tftp-hpa: " << times(client) << "\n";
    if (!intact || *std::min_element(engine.begin(), engine.end()) < 0 ||
        *std::min_element(client.begin(), client.end()) < 0) {
        out() << "bench-firmware: an upload failed or did not arrive intact" << Qt::endl;
        return 1;
    }
    const double ratio = median(engine) / median(client);
    out() << "median engine " << QString::number(median(engine), 'f', 1) << " ms, tftp-hpa "
          << QString::number(median(client), 'f', 1) << " ms, ratio engine / tftp-hpa "
          << QString::number(ratio, 'f', 3) << Qt::endl;
    return ratio <= 1.0 ? 0 : 1;
}

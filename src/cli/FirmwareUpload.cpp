#include "FirmwareUpload.h"
#include "CliTexts.h"

#include "firmware/CQuickBurnWnd.h"
#include "firmware/FirmwareImage.h"
#include "firmware/PleaseWaitWindow.h"
#include "text/StringTable.h"

#include <QEventLoop>
#include <QLocale>
#include <QTextStream>

namespace {
constexpr int kShellProductCode = 10;
constexpr int kBarWidth = 40;
constexpr int kPlainSteps = 10;

/** Progress on the terminal or as plain lines; the please-wait text as a line of its own. */
class ProgressPrinter final : public PleaseWaitWindow
{
public:
    ProgressPrinter(QTextStream& out, bool terminal, qint64 total) : m_out(out), m_terminal(terminal), m_total(total) {}

    void progress(qint64 done)
    {
        const int percent = m_total == 0 ? 100 : static_cast<int>(done * 100 / m_total);
        if (m_terminal) {
            if (percent == m_lastPercent)
                return;
            const int filled = percent * kBarWidth / 100;
            m_out << '\r' << '[' << QString(filled, QLatin1Char('#')) << QString(kBarWidth - filled, QLatin1Char('.'))
                  << "] " << qSetFieldWidth(3) << percent << qSetFieldWidth(0) << "% " << done << '/' << m_total
                  << " bytes";
            m_open = true;
        } else {
            const int step = percent / kPlainSteps;
            if (m_lastPercent >= 0 && step == m_lastPercent / kPlainSteps)
                return;
            m_out << "progress " << percent << "% (" << done << " of " << m_total << " bytes)\n";
        }
        m_lastPercent = percent;
        m_out.flush();
    }
    /** Ends the bar's line before other text. */
    void endLine()
    {
        if (m_open)
            m_out << '\n';
        m_open = false;
        m_out.flush();
    }
    void ShowProgress(const QString& text) override
    {
        endLine();
        m_out << text << '\n';
        m_out.flush();
    }
    void HideProgress() override {}

private:
    QTextStream& m_out;
    bool m_terminal;
    qint64 m_total;
    int m_lastPercent = -1;
    bool m_open = false;
};

} // namespace

namespace cli {
QString firmwareResultText(const StringTable& strings, int code, qint64 value, const QString& message)
{
    switch (code) {
    case CQuickBurnWnd::kNoResponse:
        return strings.text(texts::kFirmwareTimeout);
    case CQuickBurnWnd::kComplete:
        return strings.text(texts::kCompleted);
    case CQuickBurnWnd::kTftpError:
        return message;
    case CQuickBurnWnd::kSocketError:
        return systemErrorMessage(static_cast<int>(value));
    case CQuickBurnWnd::kSizeRejected:
        return strings.text(texts::kFileSize);
    default:
        return strings.text(texts::kMemoryError);
    }
}

bool usesShell(FirmwareWay way, int productCode)
{
    return way == FirmwareWay::Shell || (way == FirmwareWay::ByProduct && productCode == kShellProductCode);
}

bool runFirmwareUpload(const NetworkProfile& profile, const FirmwareJob& job, QTextStream& out, QTextStream& err,
                       bool terminal)
{
    const StringTable strings(StringTable::languageFor(QLocale::system()));
    ProgressPrinter printer(out, terminal, job.image.size());
    CQuickBurnWnd engine(profile, &printer);
    QEventLoop loop;
    bool failed = false;
    QObject::connect(&engine, &CQuickBurnWnd::transferNotification, &loop,
                     [&](int code, qint64 value, const QString& message) {
                         if (code == CQuickBurnWnd::kProgress) {
                             printer.progress(value);
                             return;
                         }
                         printer.endLine();
                         const QString text = firmwareResultText(strings, code, value, message);
                         failed = failed || code != CQuickBurnWnd::kComplete;
                         QTextStream& stream = code == CQuickBurnWnd::kComplete ? out : err;
                         if (!text.isEmpty())
                             stream << QString(text).replace(QStringLiteral("\r\n"), QStringLiteral("\n")) << Qt::endl;
                         // A close with an error may still add its code in this same call: quit later.
                         loop.quit();
                     });
    const auto* image = reinterpret_cast<const std::uint8_t*>(job.image.constData());
    const auto length = static_cast<std::uint32_t>(job.image.size());
    if (job.shell)
        engine.StartShellUpload(job.target, job.fileName, image, length);
    else
        engine.StartTftpUpload(job.target, job.fileName, image, length);
    if (engine.isBusy())
        loop.exec();
    return !failed;
}
} // namespace cli

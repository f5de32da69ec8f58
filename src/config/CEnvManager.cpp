#include "CEnvManager.h"

#include "gui/FileService.h"
#include "text/StringTable.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QWidget>

#include <cerrno>

namespace {
const QString kFilter = QStringLiteral("*.kvx");
const QString kSuffix = QStringLiteral("kvx");
constexpr qint64 kLongestFileRead = settings_file::kMaxRecordLength + settings_file::kOverhead + 1;

QString& pathMemory()
{
    static QString path = QDir::home().filePath(QStringLiteral("*.kvx"));
    return path;
}
} // namespace

CEnvManager::CEnvManager(FileService& files, const StringTable& strings, QWidget* owner)
    : QObject(owner), m_files(files), m_strings(strings), m_owner(owner)
{
    setObjectName(QStringLiteral("Env Manager"));
}

QString CEnvManager::rememberedPath()
{
    return pathMemory();
}

void CEnvManager::setRememberedPath(const QString& path)
{
    pathMemory() = path;
}

void CEnvManager::SaveEnvFile(const QByteArray& record, const settings_file::Product& product)
{
    // The file's timestamp is the moment of the command, before the chooser opens.
    const QDateTime savedAt = QDateTime::currentDateTime();
    if (record.isEmpty())
        return;
    QString path =
        m_files.saveFileName(m_owner, m_strings.text(settings_file::kStrExport), pathMemory(), kFilter, kSuffix);
    if (path.isEmpty())
        return;
    if (QFileInfo(path).suffix().isEmpty())
        path += u'.' + kSuffix;
    pathMemory() = path;
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        emit outcome(settings_file::kCannotOpen, errno);
        return;
    }
    m_record = record;
    const QByteArray bytes = settings_file::encode(record, product, savedAt);
    if (file.write(bytes) != bytes.size() || !file.flush()) {
        const int error = errno;
        file.close();
        file.remove(); // a half-written file is not left behind as a settings file
        emit outcome(settings_file::kCannotOpen, error);
        return;
    }
    file.close();
    emit outcome(settings_file::kWritten, 0);
}

void CEnvManager::LoadEnvFile()
{
    const QString path =
        m_files.openFileName(m_owner, m_strings.text(settings_file::kStrImport), pathMemory(), kFilter);
    if (path.isEmpty())
        return;
    pathMemory() = path;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        emit outcome(settings_file::kCannotOpen, errno);
        return;
    }
    m_record.clear();
    // A settings file is never longer than its longest record and the 40 bytes around it; reading one
    // byte more is enough to tell a longer file from a good one.
    const QByteArray bytes = file.read(kLongestFileRead);
    file.close();
    const settings_file::Decoded decoded = settings_file::decode(bytes);
    m_trailer = decoded.trailer;
    if (decoded.outcome == settings_file::kRead)
        m_record = decoded.record;
    emit outcome(decoded.outcome, 0);
}

#include "CEnvManager.h"

#include "files/SafeSave.h"
#include "gui/FileService.h"
#include "text/StringTable.h"

#include <QDir>
#include <QFileInfo>
#include <QWidget>

namespace {
const QString kFilter = QStringLiteral("*.kvx");
const QString kSuffix = QStringLiteral("kvx");

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
    m_record = record;
    // Only a complete file replaces one that is there: on a full disk the old file stays as it was.
    const safe_save::Outcome saved = safe_save::save(path, settings_file::encode(record, product, savedAt));
    if (!saved.saved()) {
        emit outcome(settings_file::kCannotOpen, saved.error);
        return;
    }
    emit outcome(settings_file::kWritten, 0);
}

void CEnvManager::LoadEnvFile()
{
    const QString path =
        m_files.openFileName(m_owner, m_strings.text(settings_file::kStrImport), pathMemory(), kFilter);
    if (path.isEmpty())
        return;
    pathMemory() = path;
    m_record.clear();
    // Read once, as a stream if it is one (a pipe, a FIFO), never waiting forever for it.
    const bounded_read::Result read = settings_file::readFile(path);
    if (read.error != 0 || read.stalled) {
        emit outcome(read.error != 0 ? settings_file::kCannotOpen : settings_file::kStalled, read.error);
        return;
    }
    // Longer than any settings file: damaged, as a file one byte too long is.
    const settings_file::Decoded decoded =
        read.tooLarge ? settings_file::Decoded{settings_file::kDamaged, {}, {}} : settings_file::decode(read.bytes);
    m_trailer = decoded.trailer;
    if (decoded.outcome == settings_file::kRead)
        m_record = decoded.record;
    emit outcome(decoded.outcome, 0);
}

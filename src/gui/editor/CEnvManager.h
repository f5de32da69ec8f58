#pragma once

#include "record/SettingsFile.h"

#include <QObject>

class FileService;
class QWidget;
class StringTable;

/**
 * The file side of the settings editor's export and import: it asks for a file name, writes or reads and
 * checks a settings file, keeps what it read, and reports one outcome (settings_file::Outcome with its
 * detail) to the editor before it returns. A cancelled chooser reports nothing. The chooser starts where
 * the last one of this run of the program ended, in the user's home folder at first.
 */
class CEnvManager final : public QObject
{
    Q_OBJECT

public:
    /** `strings` gives the choosers' titles. */
    CEnvManager(FileService& files, const StringTable& strings, QWidget* owner);

    /** Asks for a file name (save chooser) and writes `record` with the product numbers into it. */
    void SaveEnvFile(const QByteArray& record, const settings_file::Product& product);
    /** Asks for a file name (open chooser) and reads and checks it. */
    void LoadEnvFile();

    int recordLength() const { return static_cast<int>(m_record.size()); }
    const QByteArray& record() const { return m_record; }
    const settings_file::Trailer& trailer() const { return m_trailer; }

    /** Where the next chooser starts; the run's memory, shared by every editor. */
    static QString rememberedPath();
    static void setRememberedPath(const QString& path);

signals:
    void outcome(int code, int detail);

private:
    FileService& m_files;
    const StringTable& m_strings;
    QWidget* m_owner;
    QByteArray m_record;
    settings_file::Trailer m_trailer;
};

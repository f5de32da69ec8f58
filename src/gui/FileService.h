#pragma once

#include <QObject>
#include <QString>
#include <QStringList>

#include <deque>

class QWidget;

/**
 * Every file chooser of the program goes through here (KeePassXC's FileDialog): a test queues the
 * next file name and the chooser returns it without showing anything. An empty queued name is a
 * cancelled chooser. The choosers asked for are recorded (caption and filter).
 */
class FileService : public QObject
{
    Q_OBJECT

public:
    struct Request
    {
        QString caption;
        QString filter;
        bool save = false;
        QString defaultSuffix; // save: added to a name typed without one, before the overwrite question
    };

    explicit FileService(QObject* parent = nullptr);

    /** A file-open chooser for an existing file; empty when cancelled. */
    QString openFileName(QWidget* parent, const QString& caption, const QString& directory, const QString& filter);
    /** A file-save chooser that asks before overwriting a file; empty when cancelled. */
    QString saveFileName(QWidget* parent, const QString& caption, const QString& directory, const QString& filter,
                         const QString& defaultSuffix = {});

    void setNextFileName(const QString& fileName);
    const QList<Request>& requests() const { return m_requests; }

protected:
    virtual QString present(QWidget* parent, const Request& request, const QString& directory);

private:
    QString choose(QWidget* parent, const Request& request, const QString& directory);

    std::deque<QString> m_nextNames;
    QList<Request> m_requests;
};

#include "FileService.h"

#include <QFileDialog>

FileService::FileService(QObject* parent) : QObject(parent) {}

QString FileService::openFileName(QWidget* parent, const QString& caption, const QString& directory,
                                  const QString& filter)
{
    return choose(parent, Request{caption, filter, false}, directory);
}

QString FileService::saveFileName(QWidget* parent, const QString& caption, const QString& directory,
                                  const QString& filter)
{
    return choose(parent, Request{caption, filter, true}, directory);
}

void FileService::setNextFileName(const QString& fileName)
{
    m_nextNames.push_back(fileName);
}

QString FileService::choose(QWidget* parent, const Request& request, const QString& directory)
{
    m_requests.append(request);
    if (!m_nextNames.empty()) {
        QString name = m_nextNames.front();
        m_nextNames.pop_front();
        return name;
    }
    return present(parent, request, directory);
}

QString FileService::present(QWidget* parent, const Request& request, const QString& directory)
{
    if (request.save)
        return QFileDialog::getSaveFileName(parent, request.caption, directory, request.filter);
    return QFileDialog::getOpenFileName(parent, request.caption, directory, request.filter);
}

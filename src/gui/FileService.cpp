#include "FileService.h"

#include <QFileDialog>

FileService::FileService(QObject* parent) : QObject(parent) {}

QString FileService::openFileName(QWidget* parent, const QString& caption, const QString& directory,
                                  const QString& filter)
{
    return choose(parent, Request{caption, filter, false}, directory);
}

QString FileService::saveFileName(QWidget* parent, const QString& caption, const QString& directory,
                                  const QString& filter, const QString& defaultSuffix)
{
    return choose(parent, Request{caption, filter, true, defaultSuffix}, directory);
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
    if (!request.save)
        return QFileDialog::getOpenFileName(parent, request.caption, directory, request.filter);
    // The chooser adds the default suffix itself, so its overwrite question names the file really written.
    QFileDialog dialog(parent, request.caption, directory, request.filter);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setDefaultSuffix(request.defaultSuffix);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return {};
    return dialog.selectedFiles().constFirst();
}

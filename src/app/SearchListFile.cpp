#include "SearchListFile.h"

#include "files/SafeSave.h"
#include "gui/FileService.h"
#include "gui/MessageService.h"
#include "net/CNetEnv.h"
#include "net/SearchList.h"
#include "text/StringTable.h"

#include <QDir>

namespace {
constexpr int kStrSaveList = 978;
constexpr int kStrCannotSave = 979;
constexpr int kStrCsvFilter = 980;
constexpr int kStrDefaultName = 981;
} // namespace

QString saveSearchList(QWidget* owner, const AppContext& context, const CNetEnv& endpoint)
{
    QString caption = context.strings.text(kStrSaveList);
    caption.remove(QChar(0x2026)); // the menu's "…" says a chooser follows; the chooser's title does not
    const QString path = context.files.saveFileName(owner, caption.trimmed(),
                                                    QDir::home().filePath(context.strings.text(kStrDefaultName)),
                                                    context.strings.text(kStrCsvFilter), QStringLiteral("csv"));
    if (path.isEmpty())
        return {};
    const QByteArray bytes = search_list::byteOrderMark() + search_list::csv(endpoint);
    // Only a complete list replaces a file that is there: on a full disk the old file stays as it was.
    const safe_save::Outcome saved = safe_save::save(path, bytes);
    if (saved.saved())
        return path;
    context.messages.error(owner,
                           context.strings.text(kStrCannotSave).arg(QDir::toNativeSeparators(path), saved.errorText()),
                           context.strings.text(StringTable::kProgramTitle));
    return {};
}

#include "device/DeviceTexts.h"

#include "text/FixedTexts.h"
#include "text/StringTable.h"

#include <QLocale>

namespace device {
namespace {
constexpr int kStrNotAnAddress = 906;
constexpr int kStrNoResponse = 166;
constexpr int kStrPasswordMismatch = 961;
constexpr int kStrUnknownResponse = 962;
} // namespace

QString programText(int id)
{
    // The table is read once per language: a fleet's thousand result lines would otherwise read it a
    // thousand times. Made on first use, safely from any job's thread.
    static const StringTable tables[] = {StringTable(UiLanguage::English), StringTable(UiLanguage::Korean),
                                         StringTable(UiLanguage::Chinese)};
    const auto language = static_cast<std::size_t>(StringTable::languageFor(QLocale::system()));
    QString text = tables[language].text(id);
    return text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
}

QString failureText(Outcome outcome, const QString& openError)
{
    switch (outcome) {
    case Outcome::NoAnswer:
        return programText(kStrNoResponse);
    case Outcome::CannotOpen:
        return openError.isEmpty() ? fixed_text::cannotOpenSocket()
                                   : fixed_text::cannotOpenSocket() + QLatin1Char('\n') + openError;
    case Outcome::NoTable:
        return fixed_text::noDeviceTable();
    case Outcome::Answered:
        break;
    }
    return {};
}

QString failureLine(Outcome outcome, const QString& openError)
{
    if (outcome == Outcome::CannotOpen && !openError.isEmpty())
        return QStringLiteral("%1 (%2)").arg(fixed_text::cannotOpenSocket(), openError);
    return failureText(outcome, openError).section(u'\n', 0, 0);
}

QString passwordMismatchText()
{
    return programText(kStrPasswordMismatch);
}

QString unknownResponseText()
{
    return programText(kStrUnknownResponse);
}

QString notAnAddressText(const QString& text)
{
    return programText(kStrNotAnAddress).replace(u'\n', u' ').arg(text);
}
} // namespace device

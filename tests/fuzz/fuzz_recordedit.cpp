// The command line's field=value changes and the form checks behind them. Checks: parseChange splits at
// the first "="; a refused change leaves the record byte for byte; an accepted one changes only the
// fields named (no other field and no uninterpreted byte differs), gives a record the form checks pass,
// and applying it again changes nothing; what the checks without a record refuse is refused. readInteger takes exactly a signed number of
// up to 12 digits with blanks around it.

#include "FuzzCheck.h"
#include "record/RecordEdit.h"

#include <QRegularExpression>
#include <QSet>

namespace {
const char* const kFields[] = {"multiIp",
                               "ipv4Type",
                               "arp",
                               "telnet",
                               "eapol",
                               "remoteSearch",
                               "ipAddress",
                               "subnetMask",
                               "gateway",
                               "accountId",
                               "accountPassword",
                               "comment",
                               "password",
                               "mac",
                               "flags",
                               "com1.mode",
                               "com2.localIp",
                               "com3.peerIp",
                               "com4.localPort",
                               "com1.peerPort",
                               "com2.timeout",
                               "com3.waterMark",
                               "com4.baudRate",
                               "com1.parity",
                               "com2.dataBits",
                               "com3.stopBits",
                               "com4.flowControl",
                               "ports[2].baudRate",
                               "COM1.mode",
                               "com1.serialFormat"};

QString hex(const EnvRecord& r)
{
    return QString::fromLatin1(QByteArray(reinterpret_cast<const char*>(r.data()), EnvRecord::kSize).toHex());
}

void integers(const QString& text)
{
    static const QRegularExpression form(
        QStringLiteral("\\A[ \\t\\n\\r\\f\\v]*([-+]?)([0-9]{1,12})[ \\t\\n\\r\\f\\v]*\\z"));
    const std::optional<qint64> value = form::readInteger(text);
    const QRegularExpressionMatch m = form.match(text);
    FUZZ_CHECK(value.has_value() == m.hasMatch(), text);
    if (!value)
        return;
    qint64 expected = 0;
    for (const QChar c : m.capturedView(2))
        expected = expected * 10 + (c.unicode() - '0');
    FUZZ_CHECK(*value == (m.capturedView(1) == QLatin1String("-") ? -expected : expected), text);
}

QList<record_edit::Change> changes(FuzzedDataProvider& in, QString& arguments)
{
    QList<record_edit::Change> list;
    while (in.remaining_bytes() > 0 && list.size() < 6) {
        QString argument;
        if (in.ConsumeBool())
            argument = QString::fromLatin1(in.PickValueInArray(kFields)) + QLatin1Char('=') + fuzz::text(in, 24);
        else
            argument = fuzz::text(in, 40);
        arguments += argument + QLatin1Char('\n');
        integers(argument);
        QString error;
        const std::optional<record_edit::Change> change = record_edit::parseChange(argument, &error);
        const qsizetype eq = argument.indexOf(QLatin1Char('='));
        FUZZ_CHECK(change.has_value() == (eq > 0), argument);
        if (!change) {
            FUZZ_CHECK(error.contains(argument), error);
            continue;
        }
        FUZZ_CHECK(change->value == argument.mid(eq + 1), argument);
        list << *change;
    }
    return list;
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < EnvRecord::kSize)
        return 0;
    const EnvRecord before(data);
    FuzzedDataProvider in(data + EnvRecord::kSize, size - EnvRecord::kSize);
    QString arguments;
    const QList<record_edit::Change> list = changes(in, arguments);

    EnvRecord record = before;
    QStringList warnings;
    const std::optional<QString> error = record_edit::applyChanges(record, list, &warnings);
    FUZZ_CHECK(error.has_value() || !record_edit::checkChanges(list).has_value(), arguments);
    if (error) {
        FUZZ_CHECK(record == before && !error->isEmpty(), arguments + hex(before));
        return 0;
    }
    // Only the fields named differ (by the names read --json gives them), and no uninterpreted byte.
    QSet<QString> named;
    for (const record_edit::Change& c : list) {
        const std::optional<record_fields::FieldRef> ref = record_fields::resolve(c.field);
        FUZZ_CHECK(ref.has_value(), c.field);
        named << ref->name();
    }
    for (const record_fields::Difference& d : record_fields::differences(before, record))
        FUZZ_CHECK(named.contains(d.field), d.field + QStringLiteral(" changed by\n") + arguments + hex(before));
    // Every value the form would refuse is one the changes left as the device held it, each said once.
    const QList<form::Problem> problems = form::problems(form::formValues(record, QString()));
    FUZZ_CHECK(problems.size() == warnings.size(), arguments + hex(before));
    for (const form::Problem& p : problems)
        FUZZ_CHECK(!named.contains(p.fieldName()) && p.rule != form::Rule::NotInteger, arguments + hex(before));
    EnvRecord again = record;
    FUZZ_CHECK(!record_edit::applyChanges(again, list).has_value() && again == record, arguments + hex(before));
    return 0;
}

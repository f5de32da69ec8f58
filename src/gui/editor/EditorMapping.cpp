#include "EditorMapping.h"

#include "gui/Ipv4AddressEdit.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>

namespace editor {
namespace {
using record_fields::FieldRef;
using record_fields::Id;

constexpr int kBaudRateRole = Qt::UserRole + 1;

// Each control of the Network and Option groups and of a port row, paired with its field.
struct ListControl
{
    QComboBox* EditorControls::*control;
    Id field;
};
const ListControl kLists[] = {
    {&EditorControls::multiIp, Id::MultiIp},
    {&EditorControls::ipv4Type, Id::Ipv4Type},
    {&EditorControls::eapol, Id::Eapol},
};

struct CheckControl
{
    QCheckBox* EditorControls::*control;
    Id field;
};
const CheckControl kChecks[] = {
    {&EditorControls::arp, Id::Arp},
    {&EditorControls::telnet, Id::Telnet},
    {&EditorControls::remoteSearch, Id::RemoteSearch},
    {&EditorControls::ssl, Id::Ssl}, // shown only
};

struct AddressControl
{
    Ipv4AddressEdit* EditorControls::*control;
    Id field;
};
const AddressControl kAddresses[] = {
    {&EditorControls::ipAddress, Id::IpAddress},
    {&EditorControls::subnetMask, Id::SubnetMask},
    {&EditorControls::gateway, Id::Gateway},
};

struct PortListControl
{
    QComboBox* PortControls::*control;
    Id field;
};
// The rate list comes last: a rate it does not hold has an entry of its own.
const PortListControl kPortLists[] = {
    {&PortControls::mode, Id::Mode},
    {&PortControls::dataBits, Id::DataBits},
    {&PortControls::stopBits, Id::StopBits},
    {&PortControls::parity, Id::Parity},
    {&PortControls::flowControl, Id::FlowControl},
};

struct PortNumberControl
{
    QLineEdit* PortControls::*control;
    Id field;
};
const PortNumberControl kPortNumbers[] = {
    {&PortControls::localPort, Id::LocalPort},
    {&PortControls::peerPort, Id::PeerPort},
    {&PortControls::timeout, Id::Timeout},
    {&PortControls::eventByte, Id::WaterMark},
};

struct PortAddressControl
{
    Ipv4AddressEdit* PortControls::*control;
    Id field;
};
const PortAddressControl kPortAddresses[] = {
    {&PortControls::localIp, Id::LocalIp},
    {&PortControls::peerIp, Id::PeerIp},
};

FieldRef ref(Id id, int port = -1)
{
    return FieldRef{&record_fields::field(id), port};
}

void select(QComboBox* box, int position)
{
    box->setCurrentIndex(position >= 0 && position < box->count() ? position : -1);
}

int listedRates()
{
    return static_cast<int>(record_fields::field(Id::BaudRate).entries.size());
}

void showRate(QComboBox* box, std::uint32_t rate)
{
    // A rate outside the list gets an entry of its own, so the device's rate is shown and kept.
    while (box->count() > listedRates())
        box->removeItem(box->count() - 1);
    const int position = record_fields::positionOf(record_fields::field(Id::BaudRate), rate);
    if (position >= 0) {
        box->setCurrentIndex(position);
        return;
    }
    box->addItem(QString::number(rate));
    box->setItemData(listedRates(), rate, kBaudRateRole);
    box->setCurrentIndex(listedRates());
}

std::uint32_t selectedRate(const QComboBox* box)
{
    const int index = box->currentIndex();
    if (index >= listedRates())
        return box->itemData(index, kBaudRateRole).toUInt();
    return record_fields::indexToBaud(index);
}

void showPort(PortControls& c, const EnvRecord& r, int port)
{
    for (const PortListControl& l : kPortLists)
        select(c.*l.control, record_fields::positionOf(record_fields::field(l.field), value(ref(l.field, port), r)));
    for (const PortAddressControl& a : kPortAddresses)
        (c.*a.control)->setAddress(static_cast<std::uint32_t>(value(ref(a.field, port), r)));
    for (const PortNumberControl& n : kPortNumbers)
        (c.*n.control)->setText(QString::number(value(ref(n.field, port), r)));
    showRate(c.baudRate, r.port(port).baudRate());
}

/** Takes a port's lists (they decide which of its fields are in use). */
void buildPortLists(const PortControls& c, EnvRecord& r, int port)
{
    for (const PortListControl& l : kPortLists)
        setValue(ref(l.field, port), r,
                 record_fields::codeAt(record_fields::field(l.field), (c.*l.control)->currentIndex()));
    setValue(ref(Id::BaudRate, port), r, selectedRate(c.baudRate));
}

/** Takes a port's addresses and numbers that are in use and can be read. */
void buildPortFields(const PortControls& c, EnvRecord& r, int port, const record_fields::Situation& s)
{
    for (const PortAddressControl& a : kPortAddresses) {
        const std::optional<std::uint32_t> address = (c.*a.control)->addressOrZero();
        if (address && inUse(ref(a.field, port), s))
            setValue(ref(a.field, port), r, *address);
    }
    for (const PortNumberControl& n : kPortNumbers) {
        const std::optional<qint64> number = form::readInteger((c.*n.control)->text());
        if (number && inUse(ref(n.field, port), s))
            setValue(ref(n.field, port), r, *number & 0xFFFF);
    }
}

/** Takes the lists and check boxes of the Network and Option groups that are in use. */
void buildOptions(const EditorControls& c, EnvRecord& r, const EnvRecord& shown)
{
    for (const ListControl& l : kLists)
        setValue(ref(l.field), r, record_fields::codeAt(record_fields::field(l.field), (c.*l.control)->currentIndex()));
    const record_fields::Situation s = record_fields::Situation::of(r);
    for (const ListControl& l : kLists) {
        if (!inUse(ref(l.field), s))
            setValue(ref(l.field), r, value(ref(l.field), shown));
    }
    for (const CheckControl& k : kChecks) {
        if (inUse(ref(k.field), s))
            setValue(ref(k.field), r, (c.*k.control)->isChecked() ? 1 : 0);
    }
}
} // namespace

QString recordText(const std::string& bytes)
{
    return QString::fromLatin1(bytes.data(), static_cast<qsizetype>(bytes.size()));
}

std::string recordBytes(const QString& text)
{
    return text.toLatin1().toStdString();
}

void showRecord(EditorControls& c, const EnvRecord& r)
{
    c.mac->setText(QString::fromStdString(r.macText()));
    for (const ListControl& l : kLists)
        select(c.*l.control, record_fields::positionOf(record_fields::field(l.field), value(ref(l.field), r)));
    for (const CheckControl& k : kChecks)
        (c.*k.control)->setChecked(value(ref(k.field), r) != 0);
    if (record_fields::kept(record_fields::field(Id::Comment), r))
        c.comment->setText(recordText(r.comment()));
    for (const AddressControl& a : kAddresses)
        (c.*a.control)->setAddress(static_cast<std::uint32_t>(value(ref(a.field), r)));
    for (int i = 0; i < EditorControls::kPortCount; ++i)
        showPort(c.ports[static_cast<std::size_t>(i)], r, i);
}

EnvRecord buildRecord(const EditorControls& c, const EnvRecord& shown)
{
    EnvRecord r = shown;
    buildOptions(c, r, shown);
    for (int i = 0; i < EditorControls::kPortCount; ++i)
        buildPortLists(c.ports[static_cast<std::size_t>(i)], r, i);
    const record_fields::Situation s = record_fields::Situation::of(r);
    for (const AddressControl& a : kAddresses) {
        const std::optional<std::uint32_t> address = (c.*a.control)->addressOrZero();
        if (address && inUse(ref(a.field), s))
            setValue(ref(a.field), r, *address);
    }
    if (inUse(ref(Id::Comment), s))
        r.setComment(recordBytes(c.comment->text().left(static_cast<int>(EnvRecord::kCommentSize))));
    for (int i = 0; i < EditorControls::kPortCount; ++i)
        buildPortFields(c.ports[static_cast<std::size_t>(i)], r, i, s);
    return r;
}

record_fields::Situation situation(const EditorControls& c, const EnvRecord& shown)
{
    record_fields::Situation s = record_fields::Situation::of(shown);
    s.multiIp = record_fields::codeAt(record_fields::field(Id::MultiIp), c.multiIp->currentIndex()) == 1;
    s.ipv4Type =
        static_cast<int>(record_fields::codeAt(record_fields::field(Id::Ipv4Type), c.ipv4Type->currentIndex()));
    s.eapol = static_cast<int>(record_fields::codeAt(record_fields::field(Id::Eapol), c.eapol->currentIndex()));
    for (int i = 0; i < EditorControls::kPortCount; ++i)
        s.modes[static_cast<std::size_t>(i)] = c.ports[static_cast<std::size_t>(i)].mode->currentIndex();
    return s;
}

namespace {
/** The text typed in the control of a field the form takes as text. */
QString typedText(const EditorControls& c, const FieldRef& ref)
{
    const PortControls& row = c.ports[static_cast<std::size_t>(ref.port < 0 ? 0 : ref.port)];
    for (const PortNumberControl& n : kPortNumbers) {
        if (ref.port >= 0 && n.field == ref.field->id)
            return (row.*n.control)->text();
    }
    for (const PortAddressControl& a : kPortAddresses) {
        if (ref.port >= 0 && a.field == ref.field->id)
            return (row.*a.control)->text();
    }
    for (const AddressControl& a : kAddresses) {
        if (a.field == ref.field->id)
            return (c.*a.control)->text();
    }
    if (ref.field->id == Id::Password)
        return c.password->text();
    if (ref.field->id == Id::Comment)
        return c.comment->text();
    return {};
}
} // namespace

form::FormValues formValues(const EditorControls& c, const EnvRecord& shown)
{
    form::FormValues v = form::formValues([&c](const FieldRef& ref) { return typedText(c, ref); }, situation(c, shown));
    v.checkCombinations = false; // the enable rules correct them as they are chosen
    return v;
}

QWidget* controlFor(const EditorControls& c, Id field, int port)
{
    const PortControls& row = c.ports[static_cast<std::size_t>(port < 0 ? 0 : port)];
    for (const PortNumberControl& n : kPortNumbers) {
        if (n.field == field)
            return row.*n.control;
    }
    for (const PortAddressControl& a : kPortAddresses) {
        if (a.field == field)
            return row.*a.control;
    }
    for (const PortListControl& l : kPortLists) {
        if (l.field == field)
            return row.*l.control;
    }
    for (const ListControl& l : kLists) {
        if (l.field == field)
            return c.*l.control;
    }
    for (const CheckControl& k : kChecks) {
        if (k.field == field)
            return c.*k.control;
    }
    for (const AddressControl& a : kAddresses) {
        if (a.field == field)
            return c.*a.control;
    }
    switch (field) {
    case Id::BaudRate:
        return row.baudRate;
    case Id::Password:
        return c.password;
    case Id::Comment:
        return c.comment;
    default:
        return nullptr;
    }
}
} // namespace editor

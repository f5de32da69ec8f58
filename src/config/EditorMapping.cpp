#include "EditorMapping.h"

#include "gui/Ipv4AddressEdit.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>

namespace editor {
namespace {
constexpr int kBaudRateRole = Qt::UserRole + 1;
constexpr int kListedRates = 11;

// The option lists of the Network and Option groups and the record codes they stand for.
struct ListField
{
    QComboBox* EditorControls::*control;
    int (*read)(const EnvRecord&);
    void (*write)(EnvRecord&, int);
};
const ListField kListFields[] = {
    {&EditorControls::multiIp, [](const EnvRecord& r) { return int(r.multiIp()); },
     [](EnvRecord& r, int v) { r.setMultiIp(v & 1); }},
    {&EditorControls::ipv4Type, [](const EnvRecord& r) { return r.ipv4Type(); },
     [](EnvRecord& r, int v) { r.setIpv4Type(v); }},
    {&EditorControls::eapol, [](const EnvRecord& r) { return r.eapol(); }, [](EnvRecord& r, int v) { r.setEapol(v); }},
};

struct CheckField
{
    QCheckBox* EditorControls::*control;
    bool (EnvRecord::*read)() const;
    void (EnvRecord::*write)(bool); // nullptr: shown only
};
const CheckField kCheckFields[] = {
    {&EditorControls::arp, &EnvRecord::arp, &EnvRecord::setArp},
    {&EditorControls::telnet, &EnvRecord::telnet, &EnvRecord::setTelnet},
    {&EditorControls::remoteSearch, &EnvRecord::remoteSearch, &EnvRecord::setRemoteSearch},
    {&EditorControls::ssl, &EnvRecord::ssl, nullptr},
};

struct AddressField
{
    Ipv4AddressEdit* EditorControls::*control;
    std::uint32_t (EnvRecord::*read)() const;
    void (EnvRecord::*write)(std::uint32_t);
    QString form::FormValues::*text;
};
const AddressField kAddressFields[] = {
    {&EditorControls::ipAddress, &EnvRecord::ipAddress, &EnvRecord::setIpAddress, &form::FormValues::ipAddress},
    {&EditorControls::subnetMask, &EnvRecord::subnetMask, &EnvRecord::setSubnetMask, &form::FormValues::subnetMask},
    {&EditorControls::gateway, &EnvRecord::gateway, &EnvRecord::setGateway, &form::FormValues::gateway},
};

// The lists of a port row; a missing selection (-1) is written as all ones in the field's bits.
struct PortListField
{
    QComboBox* PortControls::*control;
    int (*read)(const EnvPortBlock&);
    void (*write)(EnvPortBlock&, int);
};
const PortListField kPortListFields[] = {
    {&PortControls::mode, [](const EnvPortBlock& p) { return int(p.mode()); },
     [](EnvPortBlock& p, int v) { p.setMode(static_cast<std::uint8_t>(v < 0 ? 255 : v)); }},
    {&PortControls::dataBits, [](const EnvPortBlock& p) { return p.dataBits(); },
     [](EnvPortBlock& p, int v) { p.setDataBits(v); }},
    {&PortControls::stopBits, [](const EnvPortBlock& p) { return p.stopBits(); },
     [](EnvPortBlock& p, int v) { p.setStopBits(v); }},
    {&PortControls::parity, [](const EnvPortBlock& p) { return parityToPosition(p.parity()); },
     [](EnvPortBlock& p, int v) { p.setParity(positionToParity(v)); }},
    {&PortControls::flowControl, [](const EnvPortBlock& p) { return flowControlToPosition(p.flowControl()); },
     [](EnvPortBlock& p, int v) { p.setFlowControl(positionToFlowControl(v)); }},
};

struct PortNumberField
{
    QLineEdit* PortControls::*control;
    std::uint16_t (EnvPortBlock::*read)() const;
    void (EnvPortBlock::*write)(std::uint16_t);
    std::array<QString, form::kPortCount> form::FormValues::*text;
    form::Field field;
};
const PortNumberField kPortNumberFields[] = {
    {&PortControls::localPort, &EnvPortBlock::localPort, &EnvPortBlock::setLocalPort, &form::FormValues::localPort,
     form::Field::LocalPort},
    {&PortControls::peerPort, &EnvPortBlock::peerPort, &EnvPortBlock::setPeerPort, &form::FormValues::peerPort,
     form::Field::PeerPort},
    {&PortControls::timeout, &EnvPortBlock::timeout, &EnvPortBlock::setTimeout, &form::FormValues::timeout,
     form::Field::Timeout},
    {&PortControls::eventByte, &EnvPortBlock::waterMark, &EnvPortBlock::setWaterMark, &form::FormValues::eventByte,
     form::Field::EventByte},
};

struct PortAddressField
{
    Ipv4AddressEdit* PortControls::*control;
    std::uint32_t (EnvPortBlock::*read)() const;
    void (EnvPortBlock::*write)(std::uint32_t);
    std::array<QString, form::kPortCount> form::FormValues::*text;
    form::Field field;
};
const PortAddressField kPortAddressFields[] = {
    {&PortControls::localIp, &EnvPortBlock::localIp, &EnvPortBlock::setLocalIp, &form::FormValues::localIp,
     form::Field::LocalIp},
    {&PortControls::peerIp, &EnvPortBlock::peerIp, &EnvPortBlock::setPeerIp, &form::FormValues::peerIp,
     form::Field::PeerIp},
};

void select(QComboBox* box, int position)
{
    box->setCurrentIndex(position >= 0 && position < box->count() ? position : -1);
}

void showRate(QComboBox* box, std::uint32_t rate)
{
    // A rate outside the list gets an entry of its own, so the device's rate is shown and kept.
    while (box->count() > kListedRates)
        box->removeItem(box->count() - 1);
    const int index = baudToIndex(rate);
    if (indexToBaud(index) == rate) {
        box->setCurrentIndex(index);
        return;
    }
    box->addItem(QString::number(rate));
    box->setItemData(kListedRates, rate, kBaudRateRole);
    box->setCurrentIndex(kListedRates);
}

std::uint32_t selectedRate(const QComboBox* box)
{
    const int index = box->currentIndex();
    if (index >= kListedRates)
        return box->itemData(index, kBaudRateRole).toUInt();
    return indexToBaud(index);
}

void showPort(PortControls& c, const EnvPortBlock& p)
{
    for (const PortListField& f : kPortListFields)
        select(c.*f.control, f.read(p));
    for (const PortAddressField& f : kPortAddressFields)
        (c.*f.control)->setAddress((p.*f.read)());
    for (const PortNumberField& f : kPortNumberFields)
        (c.*f.control)->setText(QString::number((p.*f.read)()));
    showRate(c.baudRate, p.baudRate());
}

void buildPort(const PortControls& c, EnvPortBlock& p)
{
    for (const PortListField& f : kPortListFields)
        f.write(p, (c.*f.control)->currentIndex());
    for (const PortAddressField& f : kPortAddressFields) {
        if (const std::optional<std::uint32_t> address = (c.*f.control)->addressOrZero())
            (p.*f.write)(*address);
    }
    for (const PortNumberField& f : kPortNumberFields) {
        if (const std::optional<qint64> value = form::readInteger((c.*f.control)->text()))
            (p.*f.write)(static_cast<std::uint16_t>(*value & 0xFFFF));
    }
    p.setBaudRate(selectedRate(c.baudRate));
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
    for (const ListField& f : kListFields)
        select(c.*f.control, f.read(r));
    for (const CheckField& f : kCheckFields)
        (c.*f.control)->setChecked((r.*f.read)());
    if (r.commentSupported())
        c.comment->setText(recordText(r.comment()));
    for (const AddressField& f : kAddressFields)
        (c.*f.control)->setAddress((r.*f.read)());
    for (int i = 0; i < EditorControls::kPortCount; ++i)
        showPort(c.ports[static_cast<std::size_t>(i)], r.port(i));
}

EnvRecord buildRecord(const EditorControls& c, const EnvRecord& shown, bool commentSupported)
{
    EnvRecord r = shown;
    for (const ListField& f : kListFields)
        f.write(r, (c.*f.control)->currentIndex());
    for (const CheckField& f : kCheckFields) {
        if (f.write)
            (r.*f.write)((c.*f.control)->isChecked());
    }
    if (r.ipv4Type() == EnvRecord::kStatic) {
        for (const AddressField& f : kAddressFields) {
            if (const std::optional<std::uint32_t> address = (c.*f.control)->addressOrZero())
                (r.*f.write)(*address);
        }
    }
    if (commentSupported)
        r.setComment(recordBytes(c.comment->text().left(static_cast<int>(EnvRecord::kCommentSize))));
    for (int i = 0; i < EditorControls::kPortCount; ++i) {
        EnvPortBlock block = r.port(i);
        buildPort(c.ports[static_cast<std::size_t>(i)], block);
        r.setPort(i, block);
    }
    return r;
}

form::FormValues formValues(const EditorControls& c)
{
    form::FormValues v;
    v.password = c.password->text();
    v.comment = c.comment->text();
    for (const AddressField& f : kAddressFields)
        v.*f.text = (c.*f.control)->text();
    v.checkNetworkAddresses = c.ipv4Type->currentIndex() == EnvRecord::kStatic;
    for (int i = 0; i < EditorControls::kPortCount; ++i) {
        const PortControls& port = c.ports[static_cast<std::size_t>(i)];
        for (const PortNumberField& f : kPortNumberFields)
            (v.*f.text)[static_cast<std::size_t>(i)] = (port.*f.control)->text();
        for (const PortAddressField& f : kPortAddressFields)
            (v.*f.text)[static_cast<std::size_t>(i)] = (port.*f.control)->text();
    }
    v.multiIp = c.multiIp->currentIndex();
    v.ipv4Type = c.ipv4Type->currentIndex();
    v.eapol = c.eapol->currentIndex();
    v.checkCombinations = false; // the enable rules correct them as they are chosen
    return v;
}

QWidget* controlFor(const EditorControls& c, const form::Problem& problem)
{
    const std::size_t port = problem.port >= 0 ? static_cast<std::size_t>(problem.port) : 0;
    for (const PortNumberField& f : kPortNumberFields) {
        if (f.field == problem.field)
            return c.ports[port].*f.control;
    }
    for (const PortAddressField& f : kPortAddressFields) {
        if (f.field == problem.field)
            return c.ports[port].*f.control;
    }
    switch (problem.field) {
    case form::Field::Password:
        return c.password;
    case form::Field::Comment:
        return c.comment;
    case form::Field::IpAddress:
        return c.ipAddress;
    case form::Field::SubnetMask:
        return c.subnetMask;
    case form::Field::Gateway:
        return c.gateway;
    case form::Field::Ipv4Type:
        return c.ipv4Type;
    case form::Field::Eapol:
        return c.eapol;
    default:
        return nullptr;
    }
}
} // namespace editor

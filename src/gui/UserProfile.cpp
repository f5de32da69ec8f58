#include "UserProfile.h"

namespace {
const QString kAgreementKey = QStringLiteral("SETTINGS/AGREEMENT");
const QString kAdapterKey = QStringLiteral("BINDING/ADAPTER");
const QString kIpKey = QStringLiteral("BINDING/IP");
} // namespace

UserProfile::UserProfile()
    : m_settings(std::make_unique<QSettings>(QStringLiteral("VarkonSystems"), QStringLiteral("CormapMP")))
{
}

UserProfile::UserProfile(std::unique_ptr<QSettings> settings) : m_settings(std::move(settings)) {}

UserProfile::~UserProfile() = default;

int UserProfile::agreement() const
{
    return m_settings->value(kAgreementKey, 0).toInt();
}

void UserProfile::setAgreement(int value)
{
    m_settings->setValue(kAgreementKey, value);
    m_settings->sync();
}

QString UserProfile::bindingAdapter() const
{
    return m_settings->value(kAdapterKey, QString()).toString();
}

std::uint32_t UserProfile::bindingAddress() const
{
    return addressFromStored(m_settings->value(kIpKey, 0).toLongLong());
}

void UserProfile::setBinding(const QString& adapterName, std::uint32_t address)
{
    m_settings->setValue(kAdapterKey, adapterName);
    m_settings->setValue(kIpKey, static_cast<qint64>(storedFromAddress(address)));
    m_settings->sync();
}

std::uint32_t UserProfile::storedFromAddress(std::uint32_t address)
{
    const std::uint32_t o1 = address >> 24;
    const std::uint32_t o2 = (address >> 16) & 0xFF;
    const std::uint32_t o3 = (address >> 8) & 0xFF;
    const std::uint32_t o4 = address & 0xFF;
    return o1 + 256u * o2 + 65536u * o3 + 16777216u * o4;
}

std::uint32_t UserProfile::addressFromStored(qint64 stored)
{
    const auto value = static_cast<std::uint32_t>(stored & 0xFFFFFFFF);
    const std::uint32_t o1 = value & 0xFF;
    const std::uint32_t o2 = (value >> 8) & 0xFF;
    const std::uint32_t o3 = (value >> 16) & 0xFF;
    const std::uint32_t o4 = value >> 24;
    return (o1 << 24) | (o2 << 16) | (o3 << 8) | o4;
}

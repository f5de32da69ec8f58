#pragma once

#include <QSettings>
#include <QString>

#include <cstdint>
#include <memory>

/**
 * The per-user profile under the company key VarkonSystems: "SETTINGS"/"AGREEMENT",
 * "BINDING"/"ADAPTER" and "BINDING"/"IP", and nothing else. Addresses are handed out as host-order
 * numbers; "IP" keeps its established stored form.
 */
class UserProfile final
{
public:
    /** QSettings("VarkonSystems", "CormapMP"): the user's profile (tests redirect it with QSettings::setPath). */
    UserProfile();
    /** A profile kept in `settings` (the gallery's throw-away profile, for instance). */
    explicit UserProfile(std::unique_ptr<QSettings> settings);
    ~UserProfile();

    int agreement() const;
    void setAgreement(int value);

    QString bindingAdapter() const;
    /** The bound address (host order), 0 when none. */
    std::uint32_t bindingAddress() const;
    /** Writes "BINDING"/"ADAPTER" and "BINDING"/"IP". */
    void setBinding(const QString& adapterName, std::uint32_t address);

    /** The stored form of an address: the network-order address read as a little-endian number,
     *  o1 + 256 × o2 + 65536 × o3 + 16777216 × o4. */
    static std::uint32_t storedFromAddress(std::uint32_t address);
    /** The address (host order) of a stored value; negative values (a DWORD read as signed) count. */
    static std::uint32_t addressFromStored(qint64 stored);

    QSettings& settings() { return *m_settings; }

private:
    std::unique_ptr<QSettings> m_settings;
};

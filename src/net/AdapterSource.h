#pragma once

#include <QList>
#include <QString>
#include <QStringList>

/** One local network adapter as the binding dialog uses it. */
struct AdapterInfo
{
    /** The system's identifier ("eth0"), the key stored in the profile. */
    QString name;
    /** Readable text shown in lists and titles ("eth0 — Ethernet 02:fc:00:00:00:01"). */
    QString description;
    /** The IPv4 addresses as dotted text, in the platform's order; "0.0.0.0" when it has none. */
    QStringList addresses;
};

/** Where the adapter list comes from: the system, or fixed adapters in tests and the gallery. */
class AdapterSource
{
public:
    virtual ~AdapterSource() = default;
    /** The adapters present now, in the platform's order. */
    virtual QList<AdapterInfo> adapters() const = 0;
};

/** The machine's adapters, from QNetworkInterface. */
class SystemAdapterSource final : public AdapterSource
{
public:
    QList<AdapterInfo> adapters() const override;
};

/** A fixed adapter list that a test may change between queries. */
class FixedAdapterSource final : public AdapterSource
{
public:
    FixedAdapterSource() = default;
    explicit FixedAdapterSource(QList<AdapterInfo> adapters) : m_adapters(std::move(adapters)) {}
    QList<AdapterInfo> adapters() const override
    {
        ++m_queries;
        return m_adapters;
    }
    void setAdapters(QList<AdapterInfo> adapters) { m_adapters = std::move(adapters); }
    /** How often the list was queried. */
    int queries() const { return m_queries; }

private:
    QList<AdapterInfo> m_adapters;
    mutable int m_queries = 0;
};

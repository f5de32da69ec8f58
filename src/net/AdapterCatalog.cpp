#include "AdapterCatalog.h"

#include "protocol/Ipv4.h"

void AdapterCatalog::query()
{
    m_adapters = m_source.adapters();
}

std::optional<AdapterInfo> AdapterCatalog::find(const QString& name) const
{
    for (const AdapterInfo& adapter : m_adapters) {
        if (adapter.name == name)
            return adapter;
    }
    return std::nullopt;
}

std::optional<AdapterInfo> AdapterCatalog::findQueryingIfMissing(const QString& name)
{
    std::optional<AdapterInfo> adapter = find(name);
    if (!adapter) {
        query();
        adapter = find(name);
    }
    return adapter;
}

bool AdapterCatalog::ValidateBinding(const QString& name, std::uint32_t address)
{
    const std::optional<AdapterInfo> adapter = findQueryingIfMissing(name);
    return adapter && adapter->addresses.contains(ipv4::dotted(address));
}

QString AdapterCatalog::BindingLabel(const QString& name, std::uint32_t address)
{
    const std::optional<AdapterInfo> adapter = findQueryingIfMissing(name);
    return QStringLiteral("%1-%2").arg(ipv4::dotted(address), adapter ? adapter->description : QString());
}

#pragma once

#include "net/AdapterSource.h"

#include <cstdint>
#include <optional>

/**
 * The adapter list a binding dialog holds, as last queried, and the two operations on a binding that
 * binding dialog needs. Addresses are host-order numbers.
 */
class AdapterCatalog final
{
public:
    explicit AdapterCatalog(const AdapterSource& source) : m_source(source) {}

    /** Queries the adapters afresh. */
    void query();
    const QList<AdapterInfo>& adapters() const { return m_adapters; }
    /** The held adapter of that name, if any. */
    std::optional<AdapterInfo> find(const QString& name) const;

    /** True when an adapter `name` is present and carries `address` (compared as dotted text). The list
     *  is queried afresh when the name is not in the list already held. */
    bool ValidateBinding(const QString& name, std::uint32_t address);
    /** "%s-%s": the address in dotted form, a hyphen and the adapter's description. */
    QString BindingLabel(const QString& name, std::uint32_t address);

private:
    std::optional<AdapterInfo> findQueryingIfMissing(const QString& name);

    const AdapterSource& m_source;
    QList<AdapterInfo> m_adapters;
};

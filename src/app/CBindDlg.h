#pragma once

#include "net/AdapterCatalog.h"
#include "gui/AppContext.h"

#include <QDialog>

class QCheckBox;
class QListWidget;
class QPushButton;

/**
 * The adapter binding dialog: the user ticks "Use", picks one of the local adapters and one
 * of its IPv4 addresses, or ticks the choice of every adapter at once. Created per use, preset with the
 * current binding; after OK, useBinding(), everyAdapter(), adapterName() and address() hold the new
 * binding (empty name and 0 when neither is ticked; AdapterBinding::everyAdapterName() and 0 for every
 * adapter).
 */
class CBindDlg final : public QDialog
{
    Q_OBJECT

public:
    /** `presetAddress` is a host-order address, 0 when unbound. */
    CBindDlg(const AppContext& context, const QString& presetName, std::uint32_t presetAddress,
             QWidget* parent = nullptr);

    bool useBinding() const { return m_use; }
    bool everyAdapter() const { return m_everyAdapter; }
    QString adapterName() const { return m_adapterName; }
    std::uint32_t address() const { return m_address; }

    bool ValidateBinding(const QString& name, std::uint32_t address)
    {
        return m_catalog.ValidateBinding(name, address);
    }
    QString BindingLabel(const QString& name, std::uint32_t address) { return m_catalog.BindingLabel(name, address); }

    /** OK: checks the selections; the dialog stays open with a message when one is missing. */
    void accept() override;

private:
    void buildControls();
    void fillAdapters();
    void preset(const QString& name, std::uint32_t address);
    void onUseToggled();
    void onAdapterSelected();

    AppContext m_context;
    AdapterCatalog m_catalog;
    QCheckBox* m_useCheck = nullptr;
    QCheckBox* m_everyAdapterCheck = nullptr;
    QListWidget* m_adapterList = nullptr;
    QListWidget* m_addressList = nullptr;
    QPushButton* m_okButton = nullptr;
    QPushButton* m_cancelButton = nullptr;
    bool m_use = false;
    bool m_everyAdapter = false;
    QString m_adapterName;
    std::uint32_t m_address = 0;
};

#pragma once

#include "app/AppContext.h"

#include <QDialog>

#include <array>
#include <cstdint>

/** The status report of one device. (Interim: shows nothing yet; the report's fields come next.) */
class CStatDlg final : public QDialog
{
    Q_OBJECT

public:
    explicit CStatDlg(const AppContext& context, QWidget* parent = nullptr);
    std::array<std::uint8_t, 2048>& statusData() { return m_statusData; }

private:
    std::array<std::uint8_t, 2048> m_statusData{};
};

#include "PasswordOnce.h"

namespace cli {
QString PasswordOnce::get(const QString& prompt)
{
    const std::lock_guard lock(m_mutex);
    if (!m_password)
        m_password = devicePassword(m_console, m_fromStdin, prompt);
    return *m_password;
}
} // namespace cli

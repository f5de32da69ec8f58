#pragma once

// The command line's side of the settings history: before a verb writes a device, the record the device
// held is kept; if the history folder cannot take it, the run says so once on standard error and the
// write goes on.

#include "DeviceRequests.h"
#include "history/SettingsHistory.h"

#include <QString>

#include <mutex>

class CNetEnv;
class QTextStream;

namespace cli {
class HistoryKeeper
{
public:
    /** Keeps entries for `program` in `folder`; the one note of a failure goes to `err`. */
    HistoryKeeper(QTextStream& err, QString program, QString folder = settings_history::defaultFolder());

    /** Keeps `before`, the device's record just read, and `after`, the record about to be written, for
     *  `verb`. The entry's number; 0 when it could not be kept (said once per run). */
    int keep(const QString& verb, const EnvRecord& before, const EnvRecord& after);
    /** A write the device refused changed nothing: its entry (`number`, 0 for none) goes again. */
    void drop(const settings_history::Mac& mac, int number);

    settings_history::Store& store() { return m_store; }

private:
    QTextStream& m_err;
    QString m_program;
    settings_history::Store m_store;
    bool m_said = false;
    std::mutex m_mutex;
};

struct VerbRequest;

/** Before a verb sends a write: keeps the device's record `before` and the record `after` in the run's
 *  history (when it has one); the entry's number or 0. */
int keepBeforeWrite(const VerbRequest& request, const QString& verb, const EnvRecord& before, const EnvRecord& after);
/** After the write: an entry whose write certainly changed nothing (it was never sent, or the device
 *  answered that it refused it) goes again; one without an answer stays, the write may have landed. */
void settleAfterWrite(const VerbRequest& request, const CNetEnv& env, Outcome written, const EnvRecord& before,
                      int number);
} // namespace cli

#pragma once

#include "gui/AppContext.h"

class CNetEnv;
class QWidget;

/** "Save list…" of the search window: asks for a file (through the file service) and writes the
 *  devices of the endpoint's table as CSV, in UTF-8 with a byte order mark so that spreadsheet programs
 *  open it as such. A file that cannot be written gets a message naming it and the system's reason.
 *  Returns the path written, or empty (cancelled or failed). */
QString saveSearchList(QWidget* owner, const AppContext& context, const CNetEnv& endpoint);

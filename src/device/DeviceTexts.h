#pragma once

// The program's own texts for what happens to a device, in the user's language, written once for both
// faces: a missing answer, a socket that cannot be opened, a refused write, an address that is none.

#include "device/DeviceRequests.h"

#include <QString>

namespace device {
/** A string of the table in the user's language (the system locale's), with "\r\n" as "\n". */
QString programText(int id);

/** The program's message for a request that got no answer: string 166; for an endpoint that could not
 *  be opened, the socket message and, on a line of its own, the address and port tried and the system's
 *  reason (`openError`). Empty for Answered. */
QString failureText(Outcome outcome, const QString& openError);
/** The same in one line, for a device's result line among several. */
QString failureLine(Outcome outcome, const QString& openError);

/** The program's messages for a write or password change the device refused (result 2) or answered
 *  with another result, as the settings editor shows them. */
QString passwordMismatchText();
QString unknownResponseText();

/** The program's message for text that is not an IPv4 address, in one line. */
QString notAnAddressText(const QString& text);
} // namespace device

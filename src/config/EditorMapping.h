#pragma once

// How a device record goes into the settings editor's controls and back: the tables that pair each
// control with its record field, and the values a write is checked on.

#include "config/EditorControls.h"
#include "record/EnvRecord.h"
#include "record/FormValidation.h"

class QWidget;

namespace editor {
/** Puts `record` into the controls: lists, check boxes, addresses, port rows; the comment only when
 *  `record` says the device keeps one. A code that a list does not hold leaves it without a selection;
 *  a rate the rate list does not hold is shown as an entry of its own, so it is written back as it is. */
void showRecord(EditorControls& controls, const EnvRecord& record);

/** Builds a record from `shown` and the controls. The Network group's addresses are taken only for a
 *  static IPv4 type; a list without a selection stores all ones in its bits (the mode byte 255, the rate
 *  19200); a number or address that cannot be read keeps the shown record's value. The account and
 *  device password fields are the caller's. */
EnvRecord buildRecord(const EditorControls& controls, const EnvRecord& shown, bool commentSupported);

/** The values a write is checked on, as typed. */
form::FormValues formValues(const EditorControls& controls);

/** The control that holds the value a problem names. */
QWidget* controlFor(const EditorControls& controls, const form::Problem& problem);

/** Record text fields are single bytes: Latin-1 maps each byte to one character and back. */
QString recordText(const std::string& bytes);
std::string recordBytes(const QString& text);
} // namespace editor

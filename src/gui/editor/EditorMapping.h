#pragma once

// How a device record goes into the settings editor's controls and back: the tables that pair each
// control with its field of the catalogue, and the values a write is checked on.

#include "gui/editor/EditorControls.h"
#include "record/EnvRecord.h"
#include "record/FormValidation.h"
#include "record/RecordFields.h"

class QWidget;

namespace editor {
/** Puts `record` into the controls: lists, check boxes, addresses, port rows; the comment only when
 *  `record` says the device keeps one. A code that a list does not hold leaves it without a selection;
 *  a rate the rate list does not hold is shown as an entry of its own, so it is written back as it is. */
void showRecord(EditorControls& controls, const EnvRecord& record);

/** Builds a record from `shown` and the controls: every field in use takes its control (the lists
 *  first, so the rules see the types and modes chosen); a field not in use keeps the shown record's
 *  value, as does a number or address that cannot be read. A list without a selection stores all ones
 *  in its bits (the mode byte 255, the rate 19200). The account and device password fields are the
 *  caller's. */
EnvRecord buildRecord(const EditorControls& controls, const EnvRecord& shown);

/** What decides which fields are in use, as the controls have it: the lists' positions, each port's
 *  mode, and the capabilities of the shown record. */
record_fields::Situation situation(const EditorControls& controls, const EnvRecord& shown);

/** The values a write is checked on, as typed. */
form::FormValues formValues(const EditorControls& controls, const EnvRecord& shown);

/** The control that holds a field (a port's, for `port` 0..3); nullptr for one the editor has none for. */
QWidget* controlFor(const EditorControls& controls, record_fields::Id field, int port = -1);

/** Record text fields are single bytes: Latin-1 maps each byte to one character and back. */
QString recordText(const std::string& bytes);
std::string recordBytes(const QString& text);
} // namespace editor

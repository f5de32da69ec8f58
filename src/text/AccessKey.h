#pragma once

// Access keys (mnemonics): the letter of a button, check box or menu entry that Alt and the letter press.

#include <QChar>
#include <QString>

namespace access_key {
/**
 * `text` with `key` marked as its access key ("&" before the letter), the way the caption's own script
 * has it: a Latin caption underlines the letter where it occurs, at the start of a word if one starts
 * with it ("Set &Password", "from &all"), else inside one ("E&xit"), preferring the letter as written;
 * a caption in Hangul or
 * Hanzi, or one without the letter, shows it in parentheses after the text ("읽기(&R)"), ahead of a
 * trailing ellipsis or colon ("목록 저장(&S)…"). An "&" already in the text is kept as a literal one.
 * A key that is not a letter or digit leaves the text as it is.
 */
QString mark(const QString& text, QChar key);

/** The text a marked caption shows: the marking "&" removed, "&&" read as "&" (the parentheses stay). */
QString shown(const QString& marked);

/** The access key of a marked caption, upper-case; a null QChar when it has none. */
QChar of(const QString& marked);
} // namespace access_key

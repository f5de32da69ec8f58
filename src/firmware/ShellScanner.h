#pragma once

// What the device's shell says during a firmware update through the shell: the text it sends, read by
// read, scanned for the keywords that move the conversation on. Pure: the engine reads the socket, feeds
// each read here and acts on the step that comes back.

#include <QByteArrayView>
#include <QString>

namespace firmware {
/** What the shell's text asks of the engine, by the first rule whose keyword it holds. */
enum class ShellStep
{
    None,          // no keyword yet: keep the text, wait for more
    TypeFlash,     // the prompt "msh>": type the flash command
    SizeRejected,  // the prompt with "firmware size is not": the device refused the image
    StartUpload,   // "TFTP": the device waits for the upload
    ConfirmFlash,  // "program flash now": show the wait window, confirm
    DeviceTimeout, // "timeout": the device gave up
    ConfirmReboot, // "reboot now": confirm
};

class ShellScanner final
{
public:
    /** The text kept while no keyword comes: a chatty device cannot exhaust memory. */
    static constexpr int kTextCap = 4096;

    /** Takes one read of the shell stream: its bytes up to the first zero byte, as Latin-1 (every byte one
     *  character), appended to the text and cut to its last kTextCap characters. Then the rules, once, in
     *  order: the prompt (unless the wait window shows: `pleaseWaitShown`), "TFTP", "program flash now",
     *  "timeout", "reboot now". A step that moves the conversation on clears the text. */
    ShellStep feed(QByteArrayView read, bool pleaseWaitShown);
    const QString& text() const { return m_text; }
    void clear() { m_text.clear(); }

private:
    QString m_text;
};
} // namespace firmware

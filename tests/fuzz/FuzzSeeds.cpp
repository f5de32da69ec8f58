// Writes the seed corpus of every harness (tests/fuzz/corpus/NAME/) from real frames and files, made
// by the project's own code: requests as the program sends them, replies as a device answers, a
// device's status items, a settings file as the editor exports it, the disclaimer documents, a state
// file and a status file as the simulator reads them. Run by scripts/fuzz-seeds.sh.

#include "DeviceLogic.h"
#include "SimStateFile.h"
#include "StatusItems.h"
#include "app/DisclaimerDocuments.h"
#include "record/SettingsFile.h"
#include "firmware/TftpPacket.h"

#include <QDateTime>
#include <QDir>
#include <QFile>

#include <cstdio>

namespace {
QString g_root;

void seed(const char* harness, const char* name, const QByteArray& bytes)
{
    const QString dir = g_root + QLatin1Char('/') + QLatin1String(harness);
    QDir().mkpath(dir);
    QFile file(dir + QLatin1Char('/') + QLatin1String(name));
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size()) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(file.fileName()));
        std::exit(1);
    }
}

QByteArray raw(const frame::Frame& f)
{
    return QByteArray(reinterpret_cast<const char*>(f.data()), frame::kFrameSize);
}

QByteArray raw(const EnvRecord& r)
{
    return QByteArray(reinterpret_cast<const char*>(r.data()), EnvRecord::kSize);
}

/** A request as the program sends it: the target's MAC in the body, completed and scrambled. */
frame::Frame request(const EnvRecord& target, std::uint8_t command, bool unicast)
{
    frame::Frame f{};
    std::copy_n(target.data(), command == frame::kWrite ? EnvRecord::kSize : 6, f.begin() + frame::kOffBody);
    frame::BuildRequest(f, unicast ? frame::kFlagsUnicastRequest : frame::kFlagsBroadcastRequest, command, 1234, 4321);
    return f;
}

/** Reads of a device's shell as fuzz_shellscanner takes them: each read's bytes from the front, ended by
 *  a backslash and one more byte (a backslash in a read is doubled), then from the back one byte per read
 *  (0: no keyword inserted) and, last of all, whether the wait window shows. */
QByteArray shellReads(const QList<QByteArray>& reads, bool pleaseWaitShown)
{
    QByteArray out;
    for (const QByteArray& read : reads)
        out += QByteArray(read).replace("\\", "\\\\") + "\\\n";
    out += QByteArray(reads.size(), '\0');
    out += pleaseWaitShown ? '\1' : '\0';
    return out;
}

/** A reply to a read carrying `record`, sealed with `flags` and format byte `format`. */
frame::Frame sealedReply(const EnvRecord& record, std::uint8_t flags, std::uint8_t format = frame::kFormat)
{
    frame::Frame f{};
    frame::writeBe32(f.data() + frame::kOffMagic, frame::kMagic);
    f[frame::kOffFormat] = format;
    f[frame::kOffFlags] = flags;
    f[frame::kOffCommand] = frame::kRead;
    std::copy_n(record.data(), 6, f.begin() + frame::kOffMac);
    std::copy_n(record.data(), EnvRecord::kSize, f.begin() + frame::kOffBody);
    frame::Seal(f);
    return f;
}

/** fuzz_codec's sealed fields: the header and body of `f` (before sealing), then a byte for where one
 *  bit is flipped and one for which bit, so every check of the sealed frame runs. */
QByteArray sealedFields(const frame::Frame& f, std::uint8_t flags)
{
    QByteArray fields(reinterpret_cast<const char*>(f.data()), frame::kHeaderSumLength);
    fields[int(frame::kOffFlags)] = char(flags);
    fields += QByteArray(reinterpret_cast<const char*>(f.data()) + frame::kOffBody, frame::kBodySize);
    return '\1' + fields + "\x05\x11";
}

/** A text as FuzzedDataProvider::ConsumeRandomLengthString reads it: backslashes doubled, then its end. */
QByteArray fuzzString(const QByteArray& text)
{
    return QByteArray(text).replace("\\", "\\\\") + "\\\n";
}

/** The device's reply datagram to `f`, as the simulator sends it. */
QByteArray reply(SimDevice& device, const frame::Frame& f)
{
    frame::Frame accepted = f;
    frame::AcceptRequest(accepted);
    return sim::answerRequest(device, accepted, SimFaults{}).reply;
}
} // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: fuzz_seeds CORPUS_DIR\n");
        return 2;
    }
    g_root = QString::fromLocal8Bit(argv[1]);
    SimDevice device = TesselSim::makeDevice(0, 0x0A010002);
    SimDevice other = TesselSim::makeDevice(1, 0x0A010003);
    other.setPassword("tessel");
    const frame::Frame search = request(EnvRecord::defaultRecord(), frame::kSearch, false);
    const frame::Frame read = request(device.record, frame::kRead, false);
    const frame::Frame status = request(device.record, frame::kStatus, true);
    const frame::Frame write = request(other.record, frame::kWrite, true);
    const QByteArray searchReply = reply(device, search);
    const QByteArray statusReply = reply(device, status);

    // Codec and simulator: byte 0 picks arbitrary bytes (even) or fields to seal (odd).
    seed("fuzz_codec", "search-reply", '\0' + searchReply.left(frame::kFrameSize));
    seed("fuzz_codec", "read-request", '\0' + raw(read));
    seed("fuzz_codec", "fields", '\1' + raw(write).left(300));
    // Frames that pass the checksums on each way through the checks: a reply sent plain, one whose only
    // fault is its format byte, one sound but for a body byte (the header checksum holds, the FCS not),
    // and whole sealed fields of either direction with a bit to flip.
    const frame::Frame plainReply = sealedReply(device.record, frame::kFlagReply);
    seed("fuzz_codec", "unscrambled-reply", '\0' + raw(plainReply));
    seed("fuzz_codec", "reply-without-format-bit",
         '\0' + raw(sealedReply(device.record, frame::kFlagReply | frame::kFlagScrambled, 0x10)));
    QByteArray bodyHit = searchReply.left(frame::kFrameSize);
    bodyHit[int(frame::kOffBody + 200)] = char(bodyHit[int(frame::kOffBody + 200)] ^ 0x40);
    seed("fuzz_codec", "reply-body-changed", '\0' + bodyHit);
    seed("fuzz_codec", "unicast-request", '\0' + raw(status));
    seed("fuzz_codec", "reply-fields", sealedFields(plainReply, frame::kFlagReply | frame::kFlagScrambled));
    seed("fuzz_codec", "request-fields", sealedFields(write, frame::kFlagsUnicastRequest));
    seed("fuzz_devicelogic", "search-request", '\0' + raw(search));
    seed("fuzz_devicelogic", "write-request", '\0' + raw(write));
    seed("fuzz_devicelogic", "fields", '\1' + raw(device.record).left(200));
    seed("fuzz_cnetenv", "search-reply", searchReply.left(frame::kFrameSize));
    seed("fuzz_cnetenv", "status-reply", statusReply);
    seed("fuzz_cnetenv", "read-reply", reply(other, read));

    // Record conversions: two records, then bytes for the setters.
    seed("fuzz_record", "device-and-default", raw(device.record) + raw(EnvRecord::defaultRecord()) + "\x05\x11\x22");
    seed("fuzz_record", "two-devices", raw(other.record) + raw(device.record) + "\xff\x00\x7f\x80");

    seed("fuzz_statusreport", "device", device.statusItems);
    seed("fuzz_statusreport", "status-reply-items", statusReply.mid(frame::kFrameSize));

    const EnvRecord exported = settings_file::exportedRecord(other.record);
    const QByteArray file =
        settings_file::encode(QByteArrayView(exported.data(), EnvRecord::kSize), settings_file::Product::of(exported),
                              QDateTime(QDate(2013, 6, 4), QTime(9, 5, 7)));
    seed("fuzz_settingsfile", "exported.kvx", file);
    seed("fuzz_settingsfile", "short-record.kvx",
         settings_file::encode("0123456789", settings_file::Product{3, 1, 2, 4}, QDateTime(QDate(999, 1, 2), QTime())));
    seed("fuzz_settingsfile", "write", "W" + raw(device.record).left(64) + "\x10\x20\x30\x40\x50\x60\x70");
    // Files whose record checksum holds, taking each way after it: a trailer whose own CRC is wrong (read,
    // and written back with the right one), a marker that is not a settings file's, a one-byte record.
    const qsizetype n = EnvRecord::kSize;
    QByteArray trailerHit = file;
    trailerHit[trailerHit.size() - 1] = char(trailerHit.back() ^ 0x01);
    seed("fuzz_settingsfile", "trailer-crc-wrong.kvx", trailerHit);
    QByteArray otherMarker = file;
    otherMarker[10 + n] = '1';
    seed("fuzz_settingsfile", "another-marker.kvx", otherMarker);
    seed("fuzz_settingsfile", "one-byte-record.kvx",
         settings_file::encode("\x7f", settings_file::Product{31, 7, 15, 15},
                               QDateTime(QDate(9999, 12, 28), QTime(23, 59, 59))));
    // The writer's fields: a whole record, then (read from the end) product, date and time.
    seed("fuzz_settingsfile", "write-record",
         "W" + fuzzString(raw(exported)) + "\x05\x17\x2a\x0c\x1f\x09\x03\x07\x0e\x02\x01\x04");

    for (int i = 0; i < kDisclaimerCount; ++i) {
        QByteArray rtf;
        for (const char* piece : disclaimerDocument(i))
            rtf += piece;
        // The head of each document: its header groups, formats and escapes, not all its text.
        seed("fuzz_rtfreader", QStringLiteral("disclaimer-%1.rtf").arg(i).toLatin1().constData(), rtf.left(1500));
    }

    seed("fuzz_cliarguments", "mac", QByteArray("02:7e:55:00:00:01") + '\0');
    seed("fuzz_cliarguments", "address", QByteArray("10.1.0.1") + '\0');
    seed("fuzz_cliarguments", "ports", QByteArray("--device-port\\51005\\--tftp-port\\69\\") + "\x01\x01\x00\x01\x01");

    seed("fuzz_recordedit", "device-changes",
         raw(device.record) + "ipAddress=10.1.0.7\\com2.baudRate=115200\\comment=hello\\" + "\x01\x00\x01");
    seed("fuzz_recordedit", "pppoe-account",
         raw(other.record) + "ipv4Type=PPPoE\\accountId=user\\ports[1].timeout=+30" + "\x01\x01\x00");

    seed("fuzz_simstatefile", "two-devices.json", sim::stateToJson({device.record, other.record}));

    seed("fuzz_statusscript", "every-line",
         raw(device.record) + "# a status file\nversion 3 2 B 50\nuptime 360000\nmac\nip 10.1.0.9\nmask\n"
                              "gateway\ncom1.rx 4096\ncom4.tx 0x10\nlan.crc 7\ntext \"LAN\\r\\n\\x41\"\n"
                              "separator\nitem 200 0a0b0c\nraw 0201\nlive off\n");
    seed("fuzz_statusscript", "traffic",
         raw(device.record) + "com1.rx 4294960000\nrate com1.rx 3000\nrate com2.tx 0 8000 every 2.5\n"
                              "restart every 60\n");
    seed("fuzz_tftp", "write-request", tftp::writeRequest("tessel.bin"));
    seed("fuzz_tftp", "ack", tftp::ackPacket(1));
    seed("fuzz_tftp", "error", tftp::errorPacket(0, "flash busy"));
    seed("fuzz_tftp", "built", "B" + tftp::dataPacket(2, "firmware block"));

    // A device's shell as the engine meets it, read by read.
    seed("fuzz_shellscanner", "conversation",
         shellReads({"Tessel shell\r\nmsh>", "pf\r\nwaiting for TFTP upload...\r\n",
                     "image ok\r\nprogram flash now? (y/n) ", "y\r\nflash done, reboot now? (y/n) "},
                    false));
    seed("fuzz_shellscanner", "size-rejected",
         shellReads({"msh>", "pf\r\nTFTP\r\n", "firmware size is not matched\r\nmsh>"}, false));
    seed("fuzz_shellscanner", "prompt-while-flashing",
         shellReads({"program flash now? ", "erasing\r\nmsh>", "timeout\r\n"}, true));
    QList<QByteArray> chatter;
    for (int read = 0; read < 4; ++read) {
        QByteArray log;
        for (int line = 0; log.size() < 1900; ++line)
            log += "boot: line " + QByteArray::number(read * 100 + line) + " of the device's log\r\n";
        chatter << log;
    }
    chatter << "msh>";
    seed("fuzz_shellscanner", "chatter-past-the-cap", shellReads(chatter, false));
    return 0;
}

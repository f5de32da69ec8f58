#pragma once

#include "SimFirmware.h"
#include "SimSerial.h"
#include "TesselSim.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <variant>

/** What the tessel-sim command line asks for. */
struct SimOptions
{
    static constexpr std::uint32_t kLoopbackFirstAddress = 0x7F000002; // 127.0.0.2
    static constexpr std::uint32_t kRealFirstAddress = 0x0A010002;     // 10.1.0.2

    bool help = false;
    NetworkProfile profile = NetworkProfile::real();
    int devices = 4;
    std::uint32_t firstAddress = kRealFirstAddress;
    /** The number of the first device, from which its MAC is made (02:7e:55:00:00:01 for 1); simulators
     *  on two networks at once take different ones, so that their devices differ as real ones do. */
    int firstNumber = 1;
    QString stateFile;
    QString statusFile; // the status items of every device (StatusScript)
    SimFaults faults;
    QByteArray password;
    /** The devices' TFTP servers and shells; off with --no-firmware. */
    bool firmware = true;
    SimFirmwareOptions firmwareOptions;
    /** The serial side of the devices' ports; off with --no-serial. */
    bool serial = true;
    SimSerialOptions serialOptions;
};

/** Reads the arguments (without the program name). A usage error comes back as its text, naming the
 *  option. */
std::variant<SimOptions, QString> parseSimOptions(QStringList args);

/** The --help text. */
QString simUsage();

// bench-floor: the least a program can do for one exchange with a device: a bare Qt Core program that
// sends one unicast read (one datagram, not two) to the device at ADDR on PORT and takes one answer.
// Exits 0 with an answer, 1 without one within 2 s. bench-exchange measures the command line against it.
#include "protocol/Codec.h"

#include <QCoreApplication>
#include <QHostAddress>
#include <QNetworkDatagram>
#include <QUdpSocket>

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() != 3)
        return 2;
    frame::Frame request{};
    frame::BuildRequest(request, frame::kFlagsUnicastRequest, frame::kRead, 1, 2);
    QUdpSocket socket;
    if (!socket.bind(QHostAddress(QHostAddress::AnyIPv4), 0))
        return 2;
    socket.writeDatagram(reinterpret_cast<const char*>(request.data()), frame::kFrameSize, QHostAddress(args.at(1)),
                         static_cast<quint16>(args.at(2).toUInt()));
    return socket.waitForReadyRead(2000) && socket.receiveDatagram().isValid() ? 0 : 1;
}

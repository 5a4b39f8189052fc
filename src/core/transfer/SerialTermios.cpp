#include "transfer/SerialTermios.h"

#include "settings/MachineDef.h"
#include "transfer/LineSettings.h"
#include "transfer/TapeCode.h"

namespace corvane {

speed_t SpeedConstant(int bitsPerSecond) {
    switch (bitsPerSecond) {
    case 300:
        return B300;
    case 600:
        return B600;
    case 1200:
        return B1200;
    case 2400:
        return B2400;
    case 4800:
        return B4800;
    case 19200:
        return B19200;
    case 38400:
        return B38400;
    default:
        return B9600;
    }
}

termios BuildSerialTermios(const termios& current, const MachineLine& line, int direction) {
    termios t = current;
    cfmakeraw(&t);

    const speed_t speed = SpeedConstant(BaudRateFor(line.BaudRate));
    cfsetispeed(&t, speed);
    cfsetospeed(&t, speed);

    const Framing f = FramingFor(line, direction);
    t.c_cflag &= ~(CSIZE | PARENB | PARODD | CSTOPB | CRTSCTS);
    t.c_cflag |= (f.dataBits == 7 ? CS7 : CS8);
    if (f.parity != 'N')
        t.c_cflag |= PARENB | (f.parity == 'O' ? PARODD : 0);
    if (f.stopBits == 2)
        t.c_cflag |= CSTOPB;
    t.c_cflag |= CLOCAL | CREAD | HUPCL;
    if (line.HandShake & HandShakeRtsCts)
        t.c_cflag |= CRTSCTS;

    // Parity errors are delivered like any other byte, never marked or turned into NUL.
    t.c_iflag &= ~(INPCK | ISTRIP | IGNPAR | PARMRK | IXON | IXANY | IXOFF);
    const FlowSettings flow = FlowSettingsFor(line);
    if (flow.xonXoff && flow.xon != 0 && flow.xoff != 0) {
        t.c_iflag |= IXOFF;
        t.c_cc[VSTART] = flow.xon;
        t.c_cc[VSTOP] = flow.xoff;
    }

    // Reads never block in the kernel; waiting is done with poll so it can be cut short.
    t.c_cc[VMIN] = 0;
    t.c_cc[VTIME] = 0;
    return t;
}

} // namespace corvane

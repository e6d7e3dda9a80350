// Stand-in for the serial link on systems without a serial layer yet:
// selecting the serial link fails as a port that cannot be configured.
#include "serial.h"

#include "errors.h"

PlatSerial lk_handleSerial = PLAT_NO_SERIAL;

PlatSerial InitSerial(void)
{
    HandleError(ERR_SERIAL, ERR_SERIAL, __FILE__, __LINE__, nullptr);
    return PLAT_NO_SERIAL;
}

int SerialWrite(const unsigned char* /*pucData*/, int /*len*/)
{
    return -1;
}

int SerialRead(unsigned char* /*pucBuf*/, int /*iSize*/)
{
    return -1;
}

void CloseSerial(void)
{
}

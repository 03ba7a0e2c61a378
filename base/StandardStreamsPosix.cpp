#include "base/StandardStreams.h"

#include <fcntl.h>
#include <unistd.h>

void KeepStandardStreamsOpen()
{
    for (int fd = 0; fd <= 2; ++fd)
    {
        if (fcntl(fd, F_GETFD) >= 0)
        {
            continue;
        }
        // The lowest free number, so fd itself while the ones below are open.
        int opened = open("/dev/null", O_RDWR);
        if (opened >= 0 && opened != fd)
        {
            dup2(opened, fd);
            close(opened);
        }
    }
}

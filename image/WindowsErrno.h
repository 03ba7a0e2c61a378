#pragma once

// Windows only: the errno value nearest to a GetLastError() code, so that messages can use
// strerror on both platforms. Defined beside the Windows replacement file.
int ErrnoOfWindowsError(unsigned long error);

#pragma once

// Windows only: the errno value nearest to a GetLastError() code, so that every failure on
// both platforms is told with the one strerror text.
int ErrnoOfWindowsError(unsigned long error);

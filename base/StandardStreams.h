#pragma once

// Called first in main, before anything is opened: any of descriptors 0, 1 and 2 that is
// closed is opened onto the null device. Otherwise the next file opened takes that number and
// the console text is written into it (or the file is read as the keyboard).
void KeepStandardStreamsOpen();

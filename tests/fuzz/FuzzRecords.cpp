// Intel HEX and S-record reading over any bytes: the first byte says where the stream is cut in
// two; read in two pieces it must give what it gives in one.
#include "image/Image.h"
#include "image/ImageRecords.h"
#include "tests/fuzz/FuzzCheck.h"

#include <cstdint>
#include <cstring>
#include <string>

namespace
{

unsigned char FirstImage[ImageCapacity];

bool ReadRecords(ERecordFormat format, const uint8_t* data, size_t size, size_t cut)
{
    StartRecords(format, 0xFF);
    return FeedRecords(data, cut) && FeedRecords(data + cut, size - cut) && FinishRecords();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 1)
    {
        return 0;
    }
    size_t cut = data[0] % size;
    ++data;
    --size;
    ERecordFormat format = RecordFormatOf("", data, size);
    if (format == ERecordFormat::None)
    {
        return 0;
    }
    bool whole = ReadRecords(format, data, size, size);
    int wholeLength = ImageLength;
    unsigned long wholeLine = RecordErrorLine;
    std::string wholeError = RecordError;
    memcpy(FirstImage, ImageBuffer, sizeof FirstImage);

    bool split = ReadRecords(format, data, size, cut);
    FUZZ_CHECK(split == whole);
    FUZZ_CHECK(RecordErrorLine == wholeLine);
    FUZZ_CHECK(wholeError == RecordError);
    if (whole)
    {
        FUZZ_CHECK(ImageLength == wholeLength);
        FUZZ_CHECK(ImageLength > 0 && ImageLength <= ImageCapacity);
        FUZZ_CHECK(memcmp(FirstImage, ImageBuffer, sizeof FirstImage) == 0);
    }
    return 0;
}

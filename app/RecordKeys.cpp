// The keys of a run record, and those that --record-tag adds.
#include "app/CommandLine.h"
#include "app/RunRecord.h"
#include "app/Settings.h"

#include <cstdio>
#include <cstring>

const char* RecordTags[MaxRecordTags] = {};
int RecordTagCount = 0;

namespace
{

// Every key FormatLine writes, and "event", which an event line puts before them.
const char* const RecordKeys[] = {
    "start",
    "version",
    "port",
    "device",
    "board",
    "serial",
    "serial_kept",
    "image",
    "image_length",
    "image_crc32",
    "image_sha256",
    "mode",
    "result",
    "failed_stage",
    "reason",
    "elapsed_seconds",
    "skipped_bytes",
    "chip_id",
    "chip",
    "sectors_erased",
    "bytes_programmed",
    "restored_bytes",
    "event",
};

} // namespace

bool IsRecordKey(const char* key)
{
    for (const char* name : RecordKeys)
    {
        if (strcmp(name, key) == 0)
        {
            return true;
        }
    }
    const size_t length = strlen(key);
    for (int i = 0; i < RecordTagCount; ++i)
    {
        if (strncmp(RecordTags[i], key, length) == 0 && RecordTags[i][length] == '=')
        {
            return true;
        }
    }
    return false;
}

// A key of letters, digits and underscores that no record has yet, then the value.
bool ApplyRecordTag(CArguments& walk, const char* name, const char* value)
{
    const char* equals = value != nullptr ? strchr(value, '=') : nullptr;
    const size_t length = equals != nullptr ? static_cast<size_t>(equals - value) : 0;
    char key[64];
    if (length == 0 || length >= sizeof key ||
        strspn(value, "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789_") != length)
    {
        return RefuseArgument(walk, "invalid %s '%s': give KEY=VALUE, KEY of letters, digits and _",
                              name, value != nullptr ? value : "");
    }
    snprintf(key, sizeof key, "%.*s", static_cast<int>(length), value);
    if (IsRecordKey(key))
    {
        return RefuseArgument(walk, "%s %s: every record has the key %s already", name, value, key);
    }
    if (RecordTagCount == MaxRecordTags)
    {
        return RefuseArgument(walk, "more than %d %s options", MaxRecordTags, name);
    }
    RecordTags[RecordTagCount++] = value;
    return true;
}

#pragma once

// The rows of orbelt-dl's option table (app/CommandLine.cpp), so that messages can name an
// option without spelling it again.
enum EOption
{
    OptionVerify,
    OptionVerifyOnly,
    OptionPort,
    OptionStream,
    OptionSkipBlank,
    OptionRead,
    OptionSize,
    OptionErase,
    OptionIdentify,
    OptionUpdate,
    OptionNoWait,
    OptionResult,
    OptionStation,
    OptionSerialAt,
    OptionSerialFile,
    OptionSerialFormat,
    OptionJournalDir,
    OptionRecordTag,
    OptionPorts,
    OptionLogDir,
    OptionJson,
    OptionWorker,
    OptionListPorts,
    OptionHelp,
    OptionVersion,
};

const char* OptionName(EOption option);

// The bit of a job in CArguments::Jobs.
constexpr unsigned JobBit(EOption option)
{
    return 1u << option;
}

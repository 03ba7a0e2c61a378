#include "tests/e2e/Console.h"

#include "image/Image.h"

#include <regex>

const std::string OkEnding = "\n"
                             "\n           OOOOOO       K    K"
                             "\n           O    O       K   K"
                             "\n           O    O       K  K"
                             "\n           O    O       KKK"
                             "\n           O    O       K  K"
                             "\n           O    O       K   K"
                             "\n           OOOOOO       K    K"
                             "\n"
                             "\nFirmware upgraded, press any key to continue";

const std::string NgEnding = "\n"
                             "\n           N    N       GGGGGGG"
                             "\n           NN   N       G     G"
                             "\n           N N  N       G      "
                             "\n           N  N N       G  GGGG"
                             "\n           N   NN       G     G"
                             "\n           N   NN       G     G"
                             "\n           N    N       GGGGGGG"
                             "\n"
                             "\nError encountered, press any key to continue";

const std::string EraseOkAtFirstPoll = "Erase               +\b \b\b\b\b Ok\n";
const std::string ErrorMarker = "\b\b\b\b\b\b Error\n";

namespace
{

std::string Figure(long percent)
{
    char text[32];
    snprintf(text, sizeof text, "\b\b\b\b\b%3ld %%", percent);
    return text;
}

std::string Label(const std::string& label)
{
    return label + std::string(20 - label.size(), ' ');
}

} // namespace

std::string StageUpTo(const std::string& label, int imageLength, int failedBlock)
{
    std::string line = Label(label);
    for (long offset = 0; offset < imageLength && offset / 64 <= failedBlock; offset += 64)
    {
        line += Figure(offset * 100 / imageLength);
    }
    return line;
}

std::string StageLine(const std::string& label, int imageLength)
{
    return StageUpTo(label, imageLength, imageLength / 64 + 1) + Figure(100) + "\n";
}

std::string ConsoleBody(const std::string& out, int* elapsed)
{
    static const std::regex startLine(
        "^Orbelt UART Download Utility\\.   [A-Z][a-z]{2} [ 123][0-9] 20[0-9]{2} "
        "[012][0-9]:[0-5][0-9]:[0-5][0-9]\n\n");
    std::smatch match;
    if (!std::regex_search(out, match, startLine))
    {
        ADD_FAILURE() << "no start-up line in:\n" << out;
        return out;
    }
    std::string body = out.substr(static_cast<size_t>(match.length()));
    static const std::regex timeLine("Time  ([0-9]+):([0-5][0-9])\n");
    if (elapsed != nullptr)
    {
        *elapsed = -1;
    }
    if (std::regex_search(body, match, timeLine))
    {
        if (elapsed != nullptr)
        {
            *elapsed = std::stoi(match[1]) * 60 + std::stoi(match[2]);
        }
        body.replace(static_cast<size_t>(match.position()), static_cast<size_t>(match.length()),
                     "Time  <t>\n");
    }
    return body;
}

std::vector<uint8_t> PlainImage(size_t length, unsigned seed)
{
    std::vector<uint8_t> bytes(length);
    uint32_t state = seed * 2654435761u + 1;
    for (uint8_t& byte : bytes)
    {
        state = state * 1103515245u + 12345u;
        byte = static_cast<uint8_t>(state >> 16);
    }
    return bytes;
}

bool WriteImageFile(const std::string& path, const std::vector<uint8_t>& plain)
{
    std::vector<uint8_t> scrambled = plain;
    ApplyImageKey(scrambled.data(), scrambled.size());
    return WriteFileBytes(path, scrambled);
}

std::vector<uint8_t> FlashAfterDownload(const std::vector<uint8_t>& plain)
{
    std::vector<uint8_t> flash(BoardFlashSize, 0xFF);
    size_t length = std::min(plain.size(), BoardFlashSize);
    size_t end = (length + 63) / 64 * 64;
    for (size_t i = 0; i < end; ++i)
    {
        flash[i] = i < length ? plain[i] : ImageKey[i % 32];
    }
    return flash;
}

CProcessResult RunDownloader(const std::vector<std::string>& arguments, const std::string& device,
                             int port, double timeoutSeconds)
{
    std::vector<std::string> argv{ORBELT_DL_PATH};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    CProcessOptions options;
    options.Environment.push_back("ORBELT_COM" + std::to_string(port) + "=" + device);
    options.TimeoutSeconds = timeoutSeconds;
    return RunProcess(argv, options);
}

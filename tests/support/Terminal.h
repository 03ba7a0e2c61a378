#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// The test's end of a serial line: a terminal device opened raw and non-blocking.
class CTerminal
{
  public:
    CTerminal() = default;
    CTerminal(const CTerminal&) = delete;
    CTerminal& operator=(const CTerminal&) = delete;
    ~CTerminal() { Close(); }

    bool Open(const std::string& path);
    void Close();
    bool IsOpen() const { return Fd >= 0; }
    int Descriptor() const { return Fd; }

    // Hands over all bytes, waiting for room as needed; false on error or after timeoutSeconds.
    bool Write(const std::vector<uint8_t>& bytes, double timeoutSeconds = 10);
    // Waits for exactly count more bytes, appended to bytes. False on timeout or hang-up; what
    // did arrive is kept.
    bool ReadExact(size_t count, std::vector<uint8_t>& bytes, double timeoutSeconds = 5);
    // Collects bytes until none has come for quietSeconds, or maxSeconds have passed.
    std::vector<uint8_t> ReadUntilQuiet(double quietSeconds, double maxSeconds = 5);
    // True once the other side has gone: poll reports a hang-up or an error.
    bool WaitHangUp(double timeoutSeconds);

  private:
    int Fd = -1;
};

#pragma once

#include <cstdint>
#include <string>
#include <utility>

// The board's pseudo-terminal, from creation to removal, and the --link to it.
class CBoardDevice
{
  public:
    explicit CBoardDevice(std::string linkPath) : LinkPath(std::move(linkPath)) {}
    CBoardDevice(const CBoardDevice&) = delete;
    CBoardDevice& operator=(const CBoardDevice&) = delete;
    ~CBoardDevice() { Close(); }

    // Creates a new pseudo-terminal, raw and held by the board, and the link to it. Logs why
    // not; what was made is undone by Close.
    bool Open();
    // Removes the device and then the link: the host sees a hang-up.
    void Close();
    void CloseTerminal();
    void RemoveLink();
    bool IsOpen() const { return Master >= 0; }
    // The board's end, non-blocking; -1 while there is no device.
    int Descriptor() const { return Master; }
    // The path of the device side, e.g. /dev/pts/7.
    const std::string& Path() const { return DevicePath; }

    // The board keeps the device side open while it waits for a host: poll on the master
    // reports a hang-up whenever nobody has the device open, so only without this hold does a
    // hang-up mean that the host has closed the port.
    void Hold();
    void Release();
    bool Held() const { return HoldFd >= 0; }
    // Throws away what neither side has read.
    void Flush();
    // Closing the master discards what the host has not read yet: waits a little (until
    // deadline at the latest) for the host to take it.
    void AwaitRepliesTaken(int64_t deadline) const;

  private:
    bool CreatePseudoTerminal();
    bool MakeLink();

    std::string LinkPath;
    std::string DevicePath;
    int Master = -1;
    int HoldFd = -1;
    bool LinkMade = false;
};

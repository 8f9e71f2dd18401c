#pragma once

#include <table/SharedReceiverTable.h>

#include <string>

namespace keyferry
{

// A read-write shared mapping of an existing table file; a peer never creates, truncates or
// resizes the file. The sender library's operating-system calls are all in its two
// implementations: MappedTableFile_posix.cpp (Linux, macOS) and MappedTableFile_windows.cpp.
class MappedTableFile
{
public:
    enum class Status
    {
        mapped,
        missing,    // nothing at the path
        wrongSize,  // not a regular file of exactly TableFileSize bytes
        failed      // could not be opened or mapped
    };

    MappedTableFile() = default;
    ~MappedTableFile();

    MappedTableFile (MappedTableFile&& other) noexcept;
    MappedTableFile& operator= (MappedTableFile&& other) noexcept;
    MappedTableFile (const MappedTableFile&) = delete;
    MappedTableFile& operator= (const MappedTableFile&) = delete;

    Status open (const std::string& path);
    void close() noexcept;

    // The operating system's words for why the last open failed; empty after a success.
    const std::string& failureReason() const noexcept { return reason; }

    SharedReceiverTable* table() const noexcept { return mapped; }

    // The file receivers use on this system: the framework's application-data folder followed by
    // TableFileRelativePath. $HOME/.config on Linux (the account's home folder when HOME is not
    // set), ~/Library on macOS, the roaming %APPDATA% on Windows.
    static std::string defaultPath();

private:
    SharedReceiverTable* mapped = nullptr;
    std::string reason;
};

} // namespace keyferry

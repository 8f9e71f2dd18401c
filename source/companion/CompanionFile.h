#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace keyferry
{

// A small shared file that lives next to receivers.dat and, unlike it, starts with a magic
// number and a version: the first 16 bytes are 8 bytes of magic, a uint32 version and a uint32
// record size. Maps it read-write, lays it out anew where it holds something that is not ours,
// and leaves another version of ours alone (and unused). JUCE-free; the holder and clock files
// are built on it.
class CompanionFile
{
public:
    struct Layout
    {
        const char* magic;         // 8 characters
        std::uint32_t version;
        std::uint32_t recordSize;
        std::size_t fileSize;
    };

    CompanionFile() = default;
    ~CompanionFile();
    CompanionFile (const CompanionFile&) = delete;
    CompanionFile& operator= (const CompanionFile&) = delete;

    // A receiver creates the file (createIfMissing); a peer only maps one that is there.
    bool open (const std::string& path, const Layout& layout, bool createIfMissing);
    void close() noexcept;

    void* data() const noexcept { return mapped; }

    // An exclusive lock on the file (flock) for what must not run in two processes at once;
    // waits about a second at most, and says false rather than block longer.
    bool lock() noexcept;
    void unlock() noexcept;

    // The file of the given name in the folder of the given receivers.dat.
    static std::string pathNextTo (const std::string& tablePath, const char* fileName);

private:
    // The end of open, on every system: takes the view (nullptr where nothing was mapped), lays
    // the header into a file laid out anew, lets go of the lock and of a file it could not map.
    bool finishOpen (void* view, const Layout& layout, bool laidOut) noexcept;

    static constexpr int lockAttempts = 1000; // a millisecond apart

    void* mapped = nullptr;
    std::size_t mappedSize = 0;
    int descriptor = -1;
};

} // namespace keyferry

#include "CompanionFile.h"
#include "CompanionHeader.h"

// What opening and naming a companion file does alike on every system; the system calls are in
// CompanionFile_<system>.cpp.

namespace keyferry
{

CompanionFile::~CompanionFile()
{
    close();
}

bool CompanionFile::finishOpen (void* view, const Layout& layout, bool laidOut) noexcept
{
    if (view != nullptr)
    {
        mapped = view;
        mappedSize = layout.fileSize;

        if (laidOut)
            writeHeader (view, layout);
    }

    unlock();

    if (mapped == nullptr)
        close();

    return mapped != nullptr;
}

std::string CompanionFile::pathNextTo (const std::string& tablePath, const char* fileName)
{
    const auto slash = tablePath.find_last_of ("/\\");
    return (slash == std::string::npos ? std::string() : tablePath.substr (0, slash + 1)) + fileName;
}

} // namespace keyferry

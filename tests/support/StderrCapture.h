#pragma once

#include <cstdio>
#include <string>
#include <unistd.h>

// Sends this process's standard error into a temporary file while it lives. The plug-in logs
// through its own copy of the framework, which without a logger writes to standard error.
class StderrCapture
{
public:
    StderrCapture()
        : file (std::tmpfile())
    {
        std::fflush (stderr);
        saved = ::dup (STDERR_FILENO);
        ::dup2 (::fileno (file), STDERR_FILENO);
    }

    ~StderrCapture()
    {
        restore();
        std::fclose (file);
    }

    // Restores standard error and returns what was written meanwhile.
    std::string finish()
    {
        restore();
        std::string text;
        std::rewind (file);
        for (int c; (c = std::fgetc (file)) != EOF;)
            text.push_back (static_cast<char> (c));
        return text;
    }

private:
    void restore()
    {
        if (saved < 0)
            return;
        std::fflush (stderr);
        ::dup2 (saved, STDERR_FILENO);
        ::close (saved);
        saved = -1;
    }

    std::FILE* file;
    int saved = -1;
};

#pragma once

// A helper process driven through its stdin and stdout: the claim contender, or anything that
// runs it (unshare, for one).

#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
#include <string>
#include <vector>

extern char** environ;

struct Contender
{
    pid_t pid = -1;
    int toChild = -1;
    FILE* fromChild = nullptr;
};

inline Contender spawnContender (std::vector<const char*> arguments)
{
    // Close-on-exec, so no contender inherits another one's pipe ends and keeps it from seeing
    // its stdin close; dup2 clears the flag on the ends each child keeps.
    int input[2], output[2];
    if (::pipe2 (input, O_CLOEXEC) != 0 || ::pipe2 (output, O_CLOEXEC) != 0)
        return {};

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init (&actions);
    posix_spawn_file_actions_adddup2 (&actions, input[0], STDIN_FILENO);
    posix_spawn_file_actions_adddup2 (&actions, output[1], STDOUT_FILENO);

    Contender contender;
    arguments.push_back (nullptr);
    const auto spawned = posix_spawnp (&contender.pid, arguments[0], &actions, nullptr,
                                       const_cast<char* const*> (arguments.data()), environ);
    posix_spawn_file_actions_destroy (&actions);
    ::close (input[0]);
    ::close (output[1]);

    if (spawned != 0)
        return {};

    contender.toChild = input[1];
    contender.fromChild = ::fdopen (output[0], "r");
    return contender;
}

// After SIGKILL without collecting it: waits (a few seconds at most) until the process has died
// and is a zombie, as the kill itself only starts its end. Its main thread shows the zombie state
// while the others are still ending, so that waits for the thread count to fall to one as well.
inline bool waitUntilZombie (pid_t pid)
{
    const auto path = "/proc/" + std::to_string (pid) + "/stat";
    for (int attempt = 0; attempt < 5000; ++attempt)
    {
        if (FILE* stat = std::fopen (path.c_str(), "r"))
        {
            char line[512] = {};
            const auto got = std::fgets (line, sizeof (line), stat) != nullptr;
            std::fclose (stat);
            const char* close = got ? std::strrchr (line, ')') : nullptr;
            char state = 0;
            long threads = 0;
            // After the name: state (field 3), 16 fields, then the thread count (field 20).
            if (close != nullptr
                && std::sscanf (close + 1, " %c %*s %*s %*s %*s %*s %*s %*s %*s %*s %*s %*s %*s %*s %*s %*s %*s %ld",
                                &state, &threads) == 2
                && (state == 'Z' || state == 'X') && threads <= 1)
                return true;
        }
        ::usleep (1000);
    }
    return false;
}

inline Contender spawnContender (const char* program) { return spawnContender (std::vector<const char*> { program }); }

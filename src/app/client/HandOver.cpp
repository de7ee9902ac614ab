#include "app/client/HandOver.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <sys/stat.h>
#include <unistd.h>

namespace {

bool isExecutableFile(const char* path) {
    struct stat status {};
    return ::stat(path, &status) == 0 && S_ISREG(status.st_mode) && ::access(path, X_OK) == 0;
}

// The application binary: beside this one in a build folder, else where it is installed relative
// to this one (so that a package installed under any prefix finds it), else the configured place.
// program is this binary's own path, resolved.
const char* applicationPath(const char* program, char (&buffer)[PATH_MAX]) {
    const char* slash = std::strrchr(program, '/');
    const int folderLength = slash ? static_cast<int>(slash - program) : 0;
    const char* const relatives[] = {"snipjar-app", SNIPJAR_APPLICATION_FROM_BINARY};
    for (const char* relative : relatives) {
        if (std::snprintf(buffer, sizeof buffer, "%.*s/%s", folderLength, program, relative) <
                static_cast<int>(sizeof buffer) &&
            isExecutableFile(buffer)) {
            return buffer;
        }
    }
    return SNIPJAR_APPLICATION_PATH;
}

} // namespace

int handOverToApplication(char** argv) {
    char program[PATH_MAX] = "";
    if (!::realpath("/proc/self/exe", program)) {
        program[0] = '\0';
    }
    char buffer[PATH_MAX];
    const char* application = applicationPath(program, buffer);
    // What the application writes into its launch-at-login entry.
    ::setenv("SNIPJAR_COMMAND", program, 1);
    ::execv(application, argv);
    std::fprintf(stderr, "snipjar: cannot start %s: %s\n", application, std::strerror(errno));
    return 1;
}

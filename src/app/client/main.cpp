#include "app/client/CommandClientModule.h"
#include "app/client/HandOver.h"

#include <climits>
#include <cstdio>
#include <cstring>

#include <dlfcn.h>
#include <unistd.h>

namespace {

// The command client's module: where it is installed relative to this binary, in the build folder,
// then where the build would install it. None when it cannot be loaded; the application binary
// then answers every command itself, only more slowly.
SnipjarCommandClientEntry commandClient() {
    char program[PATH_MAX];
    const ssize_t length = ::readlink("/proc/self/exe", program, sizeof program - 1);
    program[length > 0 ? length : 0] = '\0';
    char beside[PATH_MAX] = "";
    if (const char* slash = std::strrchr(program, '/')) {
        std::snprintf(beside, sizeof beside, "%.*s/%s", static_cast<int>(slash - program), program,
                      SNIPJAR_COMMAND_CLIENT_FROM_PROGRAM);
    }
    const char* const candidates[] = {beside, SNIPJAR_COMMAND_CLIENT_BUILD_FILE,
                                      SNIPJAR_COMMAND_CLIENT_INSTALLED_FILE};
    for (const char* candidate : candidates) {
        if (candidate[0] == '\0' || ::access(candidate, F_OK) != 0) {
            continue;
        }
        // Never unloaded: the process ends with the command.
        if (void* module = ::dlopen(candidate, RTLD_LAZY | RTLD_LOCAL)) {
            if (void* entry = ::dlsym(module, SNIPJAR_COMMAND_CLIENT_ENTRY)) {
                return reinterpret_cast<SnipjarCommandClientEntry>(entry);
            }
        }
    }
    return nullptr;
}

} // namespace

// `snipjar`, as people and scripts run it. Alone, as the desktop and the login entry start it, it
// hands the process over to the application binary at once, before Qt is loaded; that binary
// loads Qt itself. A command goes to the command client, which answers those the running Snipjar
// can answer through its socket and hands the others over too.
int main(int argc, char** argv) {
    if (argc > 1) {
        if (const SnipjarCommandClientEntry answer = commandClient()) {
            if (const int status = answer(argc, argv); status != snipjarCommandHandOver) {
                return status;
            }
        }
    }
    return handOverToApplication(argv);
}

#pragma once

// The command client's module (see CommandClient.h), which `snipjar` loads only for a command: Qt
// is linked by the module, so that `snipjar` alone, as the desktop and the login entry start it,
// hands the process to the application binary without loading Qt first.
//
// The entry answers the command of argc and argv, whose exit status it returns, or returns
// snipjarCommandHandOver when the application binary is to take the process over.
extern "C" {
using SnipjarCommandClientEntry = int (*)(int argc, char** argv);
}
#define SNIPJAR_COMMAND_CLIENT_ENTRY "snipjar_command_client"
inline constexpr int snipjarCommandHandOver = -1;

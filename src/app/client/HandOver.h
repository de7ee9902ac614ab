#pragma once

// Replaces this process with the application binary, with the same arguments; returns the exit
// status only when that failed, having said why. Plain C and POSIX: `snipjar` calls it before any
// other library is loaded.
int handOverToApplication(char** argv);

#pragma once

// The program without windows: "bundlewick list", "bundlewick deliver ...",
// "bundlewick send --email|--folder|--ftp ... FILE...",
// "--help" and "--version". It goes through the same start-up, data module
// and single-instance lock as the desktop program.

// Exit statuses of a command.
enum : int {
    exOK = 0, // done; every project delivered
    exFailed = 1, // a delivery failed or stopped, or an error occurred
    exUsage = 2, // unknown command, option or project title
    exRunning = 3, // another instance holds the lock
};

#include <QStringList>

// True when the arguments name a command: any argument at all, except
// "send FILE..." without a destination, which is the desktop program's.
bool IsCommandLine(int argc, char **argv);
// "bundlewick send FILE..." without --email, --folder or --ftp: the desktop
// program opens quick send on lFiles (absolute paths; may be empty).
bool IsDesktopSend(int argc, char **argv, QStringList &lFiles);
// Runs the command and returns the exit status.
int RunCommandLine(int argc, char **argv);

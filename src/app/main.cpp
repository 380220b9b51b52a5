#include "app/application.h"
#include "app/commandline.h"

int main(int argc, char **argv)
{
    QStringList lFiles;
    if (IsDesktopSend(argc, argv, lFiles))
        return RunApplication(argc, argv, lFiles);
    if (IsCommandLine(argc, argv))
        return RunCommandLine(argc, argv);
    return RunApplication(argc, argv);
}

#include "app/application.h"
#include "app/commandline.h"

int main(int argc, char **argv)
{
    if (IsCommandLine(argc, argv))
        return RunCommandLine(argc, argv);
    return RunApplication(argc, argv);
}

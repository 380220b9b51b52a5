#include "app/quickhandover.h"

bool HandOverToRunningInstance(const QStringList & /*files*/)
{
    return false;
}

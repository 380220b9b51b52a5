#include "ui/help.h"

#include "core/data/fdata.h"
#include "ui/shellutils.h"

bool ShowHelp(int iContext)
{
    return OpenURL(TFData::HelpAddress(iContext));
}

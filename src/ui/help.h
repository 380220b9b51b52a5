#pragma once

// Opens the online help topic iContext in the browser; false when the shell
// could not (the address is then on the clipboard).
bool ShowHelp(int iContext);

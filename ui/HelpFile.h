// The help page "KsVardomon.html": beside the executable, or in the installed share folder.
#pragma once

#include <QString>

// The path that Help opens.
QString helpFilePath();
// Opens the help page with the desktop's default program. Nothing is reported when it is
// missing.
void openHelpFile();

// Ctrl+C and SIGTERM: the first one asks the running work to stop (the controller is then
// left as it was found); a second one ends the program at once.
#pragma once

void InstallInterruptHandlers();
bool Interrupted();

// The views' tests hand deliveries to the user-interface thread with the program's own
// deliverer: its hand-over passes through our mutex, so the thread sanitizer sees it.
#pragma once

#include "shell/CUiDeliverer.h"

using UiDeliverer = CUiDeliverer;

// The product version, set in one place by the build.
#pragma once

#include <QString>

// "2. 4. 6. 3"; empty when the build gave none.
QString GetProductVersion();

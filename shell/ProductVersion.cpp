#include "ProductVersion.h"

#ifndef VANTREL_PRODUCT_VERSION
#define VANTREL_PRODUCT_VERSION ""
#endif

QString GetProductVersion() {
  return QStringLiteral(VANTREL_PRODUCT_VERSION);
}

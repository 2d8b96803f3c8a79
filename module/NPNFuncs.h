// The module-wide copy of the browser's function table. Every call into the
// browser goes straight through its entries.
#ifndef NPTV_MODULE_NPNFUNCS_H
#define NPTV_MODULE_NPNFUNCS_H

#include <npfunctions.h>

#define NPTV_EXPORT __attribute__((visibility("default")))

extern "C" NPTV_EXPORT NPNetscapeFuncs NPNFuncs;

#endif

#include "module/NPNFuncs.h"

// All zero until NP_Initialize accepts a browser table; never cleared.
NPNetscapeFuncs NPNFuncs;

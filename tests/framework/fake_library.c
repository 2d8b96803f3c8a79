/* One library of a TV's root file system, or a framework library, reduced to
   the one symbol (FAKE_SYMBOL) a mock module takes from it; its version node,
   if any, comes from the version script it is linked with. */
void FAKE_SYMBOL(void) {}

/* A module in miniature, built without any runtime (-nostdlib): it imports
   one framework symbol (Close), one symbol its C++ runtime has at a version
   node of its own (GLIBCXX_3.4.29 when linked against the new fake runtime),
   and one of ICU's version-suffixed names. */
void _ZN3quv17CQuvPluginWrapper5CloseEv(void);
void _ZSt28__throw_bad_array_new_lengthv(void);
int u_strToUTF8WithSub_72(void);

int mock_entry(int which) {
  if (which == 1) _ZN3quv17CQuvPluginWrapper5CloseEv();
  if (which == 2) _ZSt28__throw_bad_array_new_lengthv();
  return which == 3 ? u_strToUTF8WithSub_72() : 0;
}

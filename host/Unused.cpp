// The browser entries this plug-in has no use for (see Browser.h), answered
// as a browser that cannot do it would.

#include "State.h"

namespace nphost {
namespace detail {
namespace {

NPError GetURL(NPP, const char*, const char*) { return NPERR_GENERIC_ERROR; }
NPError PostURL(NPP, const char*, const char*, uint32_t, const char*, NPBool) {
  return NPERR_GENERIC_ERROR;
}
NPError RequestRead(NPStream*, NPByteRange*) { return NPERR_GENERIC_ERROR; }
NPError NewStream(NPP, NPMIMEType, const char*, NPStream**) {
  return NPERR_GENERIC_ERROR;
}
int32_t Write(NPP, NPStream*, int32_t, void*) { return -1; }
NPError DestroyStream(NPP, NPStream*, NPReason) {
  return NPERR_GENERIC_ERROR;
}
void Status(NPP, const char*) { }
uint32_t MemFlush(uint32_t) { return 0; }
void ReloadPlugins(NPBool) { }
void* GetJavaEnv() { return nullptr; }
void* GetJavaPeer(NPP) { return nullptr; }
NPError GetURLNotify(NPP, const char*, const char*, void*) {
  return NPERR_GENERIC_ERROR;
}
NPError PostURLNotify(NPP, const char*, const char*, uint32_t, const char*, NPBool, void*) {
  return NPERR_GENERIC_ERROR;
}
void InvalidateRegion(NPP, NPRegion) { }
void ForceRedraw(NPP) { }
void PushPopupsEnabledState(NPP, NPBool) { }
void PopPopupsEnabledState(NPP) { }
NPError GetValueForURL(NPP, int, const char*, char**, uint32_t*) {
  return NPERR_GENERIC_ERROR;
}
NPError SetValueForURL(NPP, int, const char*, const char*, uint32_t) {
  return NPERR_GENERIC_ERROR;
}
NPError GetAuthenticationInfo(NPP, const char*, const char*, int32_t, const char*, const char*,
                              char**, uint32_t*, char**, uint32_t*) {
  return NPERR_GENERIC_ERROR;
}
uint32_t ScheduleTimer(NPP, uint32_t, NPBool, void (*)(NPP, uint32_t)) {
  return 0;
}
void UnscheduleTimer(NPP, uint32_t) { }
NPError PopUpContextMenu(NPP, void*) { return NPERR_GENERIC_ERROR; }
NPBool ConvertPoint(NPP, double, double, int, double*, double*, int) {
  return 0;
}

}  // namespace

void FillUnusedEntries(NPNetscapeFuncs* table) {
  NPNetscapeFuncs& f = *table;
  f.geturl = GetURL;
  f.posturl = PostURL;
  f.requestread = RequestRead;
  f.newstream = NewStream;
  f.write = Write;
  f.destroystream = DestroyStream;
  f.status = Status;
  f.memflush = MemFlush;
  f.reloadplugins = ReloadPlugins;
  f.getJavaEnv = GetJavaEnv;
  f.getJavaPeer = GetJavaPeer;
  f.geturlnotify = GetURLNotify;
  f.posturlnotify = PostURLNotify;
  f.invalidateregion = InvalidateRegion;
  f.forceredraw = ForceRedraw;
  f.pushpopupsenabledstate = PushPopupsEnabledState;
  f.poppopupsenabledstate = PopPopupsEnabledState;
  f.getvalueforurl = GetValueForURL;
  f.setvalueforurl = SetValueForURL;
  f.getauthenticationinfo = GetAuthenticationInfo;
  f.scheduletimer = ScheduleTimer;
  f.unscheduletimer = UnscheduleTimer;
  f.popupcontextmenu = PopUpContextMenu;
  f.convertpoint = ConvertPoint;
}

}  // namespace detail
}  // namespace nphost

// The browser entries this plug-in has no use for (see Host.h): counted, and
// answered as a browser that cannot do it would.
#include <cstring>

#include "State.h"

namespace testbrowser {
namespace detail {
namespace {

NPError GetURL(NPP, const char*, const char*) { Count("geturl"); return NPERR_GENERIC_ERROR; }
NPError PostURL(NPP, const char*, const char*, uint32_t, const char*, NPBool) {
  Count("posturl");
  return NPERR_GENERIC_ERROR;
}
NPError RequestRead(NPStream*, NPByteRange*) { Count("requestread"); return NPERR_GENERIC_ERROR; }
NPError NewStream(NPP, NPMIMEType, const char*, NPStream**) {
  Count("newstream");
  return NPERR_GENERIC_ERROR;
}
int32_t Write(NPP, NPStream*, int32_t, void*) { Count("write"); return -1; }
NPError DestroyStream(NPP, NPStream*, NPReason) {
  Count("destroystream");
  return NPERR_GENERIC_ERROR;
}
void Status(NPP, const char*) { Count("status"); }
uint32_t MemFlush(uint32_t) { Count("memflush"); return 0; }
void ReloadPlugins(NPBool) { Count("reloadplugins"); }
void* GetJavaEnv() { Count("getJavaEnv"); return nullptr; }
void* GetJavaPeer(NPP) { Count("getJavaPeer"); return nullptr; }
NPError GetURLNotify(NPP, const char*, const char*, void*) {
  Count("geturlnotify");
  return NPERR_GENERIC_ERROR;
}
NPError PostURLNotify(NPP, const char*, const char*, uint32_t, const char*, NPBool, void*) {
  Count("posturlnotify");
  return NPERR_GENERIC_ERROR;
}
void InvalidateRegion(NPP, NPRegion) { Count("invalidateregion"); }
void ForceRedraw(NPP) { Count("forceredraw"); }
void PushPopupsEnabledState(NPP, NPBool) { Count("pushpopupsenabledstate"); }
void PopPopupsEnabledState(NPP) { Count("poppopupsenabledstate"); }
NPError GetValueForURL(NPP, int, const char*, char**, uint32_t*) {
  Count("getvalueforurl");
  return NPERR_GENERIC_ERROR;
}
NPError SetValueForURL(NPP, int, const char*, const char*, uint32_t) {
  Count("setvalueforurl");
  return NPERR_GENERIC_ERROR;
}
NPError GetAuthenticationInfo(NPP, const char*, const char*, int32_t, const char*, const char*,
                              char**, uint32_t*, char**, uint32_t*) {
  Count("getauthenticationinfo");
  return NPERR_GENERIC_ERROR;
}
uint32_t ScheduleTimer(NPP, uint32_t, NPBool, void (*)(NPP, uint32_t)) {
  Count("scheduletimer");
  return 0;
}
void UnscheduleTimer(NPP, uint32_t) { Count("unscheduletimer"); }
NPError PopUpContextMenu(NPP, void*) { Count("popupcontextmenu"); return NPERR_GENERIC_ERROR; }
NPBool ConvertPoint(NPP, double, double, int, double*, double*, int) {
  Count("convertpoint");
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
}  // namespace testbrowser

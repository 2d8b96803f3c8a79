#include "module/NPEntry.h"

#include <cstring>
#include <new>

#include "bridge/Log.h"
#include "module/CPlugin.h"

namespace {

const char kMimeDescription[] = "application/tv:*.swf21:TV_plug-in";
const char kPluginName[] = "TV";
const char kPluginDescription[] = "ZOT_TV_Plugin";

const char kInitSignature[] = "NPError NP_Initialize(NPNetscapeFuncs*, NPPluginFuncs*)";
const char kShutdownSignature[] = "NPError NP_Shutdown()";
const char kNewSignature[] =
    "NPError NPP_New(NPMIMEType, NPP, uint16, int16, char**, char**, NPSavedData*)";
const char kDestroySignature[] = "NPError NPP_Destroy(NPP, NPSavedData**)";

// Coloured records (instance creation and destruction): leading numbers 0, 0.
#define COLOURED(text) "\033[1;31;42m " text "\033[0m "

// A log record must never take an entry point down: a record that cannot be
// written (no memory) is dropped.
#define QUIETLY(statement) \
  do {                     \
    try {                  \
      statement;           \
    } catch (...) {        \
    }                      \
  } while (0)

CPlugin* PluginOf(NPP instance) { return instance ? static_cast<CPlugin*>(instance->pdata) : nullptr; }

}  // namespace

extern "C" {

const char* NP_GetMIMEDescription(void) { return kMimeDescription; }

NPError NP_GetValue(void* future, NPPVariable variable, void* value) {
  return NPP_GetValue(static_cast<NPP>(future), variable, value);
}

NPError NP_Initialize(NPNetscapeFuncs* browserFuncs, NPPluginFuncs* pluginFuncs) {
  QUIETLY(NPTV_LOG("NP_Initialize", kInitSignature, "[%s][%d]Start NP_Initialize"));
  if (!browserFuncs || !pluginFuncs) return NPERR_INVALID_FUNCTABLE_ERROR;
  if ((browserFuncs->version >> 8) != 0) return NPERR_INCOMPATIBLE_VERSION_ERROR;
  if (browserFuncs->size < kMinBrowserTableSize) return NPERR_INVALID_FUNCTABLE_ERROR;

  // size, version, words 1-40 (geturl through setexception) and word 44.
  NPNFuncs.size = browserFuncs->size;
  NPNFuncs.version = browserFuncs->version;
  const std::size_t first = offsetof(NPNetscapeFuncs, geturl);
  const std::size_t end = offsetof(NPNetscapeFuncs, pushpopupsenabledstate);
  std::memcpy(reinterpret_cast<char*>(&NPNFuncs) + first,
              reinterpret_cast<const char*>(browserFuncs) + first, end - first);
  NPNFuncs.pluginthreadasynccall = browserFuncs->pluginthreadasynccall;

  pluginFuncs->size = kPluginTableSize;
  pluginFuncs->version = kPluginTableVersion;
  pluginFuncs->newp = NPP_New;
  pluginFuncs->destroy = NPP_Destroy;
  pluginFuncs->setwindow = NPP_SetWindow;
  pluginFuncs->newstream = NPP_NewStream;
  pluginFuncs->destroystream = NPP_DestroyStream;
  pluginFuncs->asfile = NPP_StreamAsFile;
  pluginFuncs->writeready = NPP_WriteReady;
  pluginFuncs->write = NPP_Write;
  pluginFuncs->print = NPP_Print;
  pluginFuncs->event = NPP_HandleEvent;
  pluginFuncs->urlnotify = NPP_URLNotify;
  pluginFuncs->getvalue = NPP_GetValue;

  NPP_Initialize();
  QUIETLY(NPTV_LOG("NP_Initialize", kInitSignature, "[%s][%d]End NP_Initialize\n"));
  return NPERR_NO_ERROR;
}

NPError NP_Shutdown(void) {
  QUIETLY(NPTV_LOG("NP_Shutdown", kShutdownSignature, "[%s][%d]NP_Shutdown\n"));
  return NPERR_NO_ERROR;
}

NPError NPP_Initialize(void) { return NPERR_NO_ERROR; }

void NPP_Shutdown(void) {}

NPError NPP_New(NPMIMEType, NPP instance, uint16_t, int16_t, char*[], char*[], NPSavedData*) {
  QUIETLY(NPTV_LOG_LEVEL(0, "NPP_New", kNewSignature, COLOURED("[%s][%d]NPP_New TV")));
  if (!instance) return NPERR_INVALID_INSTANCE_ERROR;
  CPlugin* plugin = nullptr;
  try {
    plugin = new CPlugin(instance);
  } catch (const std::bad_alloc&) {
    return NPERR_OUT_OF_MEMORY_ERROR;
  } catch (...) {  // nothing may cross into the browser
    return NPERR_GENERIC_ERROR;
  }
  instance->pdata = plugin;
  NPNFuncs.setvalue(instance, NPPVpluginWindowBool, nullptr);
  return NPERR_NO_ERROR;
}

NPError NPP_Destroy(NPP instance, NPSavedData**) {
  if (!instance) return NPERR_INVALID_INSTANCE_ERROR;
  CPlugin* plugin = PluginOf(instance);
  if (!plugin) return NPERR_NO_ERROR;
  plugin->shut();
  delete plugin;
  instance->pdata = nullptr;
  QUIETLY(NPTV_LOG_LEVEL(0, "NPP_Destroy", kDestroySignature,
                         COLOURED("[%s][%d]NPP_Destroy TV, pPlugin is deleted!!")));
  return NPERR_NO_ERROR;
}

NPError NPP_SetWindow(NPP instance, NPWindow* window) {
  if (!instance) return NPERR_INVALID_INSTANCE_ERROR;
  CPlugin* plugin = PluginOf(instance);
  if (!window || !plugin) return NPERR_GENERIC_ERROR;
  if (!plugin->isInitialized() && window->window) plugin->init(window);
  return NPERR_NO_ERROR;
}

NPError NPP_NewStream(NPP instance, NPMIMEType, NPStream*, NPBool, uint16_t*) {
  return instance ? NPERR_NO_ERROR : NPERR_INVALID_INSTANCE_ERROR;
}

NPError NPP_DestroyStream(NPP instance, NPStream*, NPReason) {
  return instance ? NPERR_NO_ERROR : NPERR_INVALID_INSTANCE_ERROR;
}

void NPP_StreamAsFile(NPP, NPStream*, const char*) {}

int32_t NPP_WriteReady(NPP instance, NPStream*) {
  return instance ? kWriteReadyAnswer : NPERR_INVALID_INSTANCE_ERROR;
}

int32_t NPP_Write(NPP instance, NPStream*, int32_t, int32_t len, void*) {
  return instance ? len : NPERR_INVALID_INSTANCE_ERROR;
}

void NPP_Print(NPP, NPPrint*) {}

int16_t NPP_HandleEvent(NPP instance, void* event) {
  CPlugin* plugin = PluginOf(instance);
  return plugin ? plugin->handleEvent(event) : 0;
}

void NPP_URLNotify(NPP, const char*, NPReason, void*) {}

NPError NPP_GetValue(NPP instance, NPPVariable variable, void* value) {
  switch (variable) {
    case NPPVpluginNameString:
      if (!value) return NPERR_GENERIC_ERROR;
      *static_cast<const char**>(value) = kPluginName;
      return NPERR_NO_ERROR;
    case NPPVpluginDescriptionString:
      if (!value) return NPERR_GENERIC_ERROR;
      *static_cast<const char**>(value) = kPluginDescription;
      return NPERR_NO_ERROR;
    case NPPVpluginNeedsXEmbed:
      if (!value) return NPERR_GENERIC_ERROR;
      *static_cast<NPBool*>(value) = 1;
      return NPERR_NO_ERROR;
    case NPPVpluginScriptableNPObject: {
      CPlugin* plugin = PluginOf(instance);
      if (!plugin || !value) return NPERR_GENERIC_ERROR;
      // Null when the browser could not create the object: the browser gets
      // that null (no reference), and the next request tries again.
      *static_cast<NPObject**>(value) = plugin->GetScriptableObject();
      return NPERR_NO_ERROR;
    }
    default:
      return NPERR_GENERIC_ERROR;
  }
}

NPError NPP_SetValue(NPP instance, NPNVariable, void*) {
  return instance ? NPERR_NO_ERROR : NPERR_INVALID_INSTANCE_ERROR;
}

NPObject* NPP_GetScriptableInstance(NPP instance) {
  CPlugin* plugin = PluginOf(instance);
  return plugin ? plugin->GetScriptableObject() : nullptr;
}

}  // extern "C"

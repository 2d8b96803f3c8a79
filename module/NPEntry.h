// The module's exported NPAPI entry points and plug-in callbacks.
#ifndef NPTV_MODULE_NPENTRY_H
#define NPTV_MODULE_NPENTRY_H

#include <cstddef>

#include <npfunctions.h>

#include "module/NPNFuncs.h"

// Table sizes: the browser's table through convertpoint (212 on the 32-bit
// target) and the plug-in table through getsiteswithdata (80 there).
constexpr uint16_t kMinBrowserTableSize = sizeof(NPNetscapeFuncs);
constexpr uint16_t kPluginTableSize = offsetof(NPPluginFuncs, getsiteswithdata) + sizeof(void*);
constexpr uint16_t kPluginTableVersion = 24;
constexpr int32_t kWriteReadyAnswer = 0x0FFFFFFF;

extern "C" {
NPTV_EXPORT const char* NP_GetMIMEDescription(void);
NPTV_EXPORT NPError NP_GetValue(void* future, NPPVariable variable, void* value);
NPTV_EXPORT NPError NP_Initialize(NPNetscapeFuncs* browserFuncs, NPPluginFuncs* pluginFuncs);
NPTV_EXPORT NPError NP_Shutdown(void);

NPTV_EXPORT NPError NPP_Initialize(void);
NPTV_EXPORT void NPP_Shutdown(void);
NPTV_EXPORT NPError NPP_New(NPMIMEType pluginType, NPP instance, uint16_t mode, int16_t argc,
                            char* argn[], char* argv[], NPSavedData* saved);
NPTV_EXPORT NPError NPP_Destroy(NPP instance, NPSavedData** save);
NPTV_EXPORT NPError NPP_SetWindow(NPP instance, NPWindow* window);
NPTV_EXPORT NPError NPP_NewStream(NPP instance, NPMIMEType type, NPStream* stream, NPBool seekable,
                                  uint16_t* stype);
NPTV_EXPORT NPError NPP_DestroyStream(NPP instance, NPStream* stream, NPReason reason);
NPTV_EXPORT void NPP_StreamAsFile(NPP instance, NPStream* stream, const char* fname);
NPTV_EXPORT int32_t NPP_WriteReady(NPP instance, NPStream* stream);
NPTV_EXPORT int32_t NPP_Write(NPP instance, NPStream* stream, int32_t offset, int32_t len,
                              void* buffer);
NPTV_EXPORT void NPP_Print(NPP instance, NPPrint* platformPrint);
NPTV_EXPORT int16_t NPP_HandleEvent(NPP instance, void* event);
NPTV_EXPORT void NPP_URLNotify(NPP instance, const char* url, NPReason reason, void* notifyData);
NPTV_EXPORT NPError NPP_GetValue(NPP instance, NPPVariable variable, void* value);
NPTV_EXPORT NPError NPP_SetValue(NPP instance, NPNVariable variable, void* value);
NPTV_EXPORT NPObject* NPP_GetScriptableInstance(NPP instance);
}

#endif

// The object behind one embedded instance: reads the browser's application
// texts, owns the instance's TV object (and with it the framework connection)
// and the scriptable object that the page sees.
#ifndef NPTV_MODULE_CPLUGIN_H
#define NPTV_MODULE_CPLUGIN_H

#include <npapi.h>
#include <npruntime.h>

namespace NSPlTV {
class CPlTV;
}

// The browser window's script object, as fetched by the most recently
// constructed instance; cleared by every destruction.
extern NPObject* sWindowObj;

class CPlugin {
 public:
  explicit CPlugin(NPP instance);
  ~CPlugin();
  CPlugin(const CPlugin&) = delete;
  CPlugin& operator=(const CPlugin&) = delete;

  bool init(NPWindow* window);
  void shut();
  NPBool isInitialized();
  int16_t handleEvent(void* event);
  // Creates the scriptable object on first request; every call hands the
  // caller one reference of its own.
  NPObject* GetScriptableObject();
  void showVersion();
  void clear();
  void getVersion(char** version);

  NPP m_NPInstance;
  NPWindow* m_NPWindow;
  NPBool m_Initialized;
  NPObject* m_ScriptObj;
  char* m_UserAgent;
  NSPlTV::CPlTV* m_pTV;
  // This instance's own reference to the window object, so that several live
  // instances each release exactly what they fetched.
  NPObject* m_WindowObj;

 private:
  // Gives back everything the object holds (the destructor, and a
  // construction that fails).
  void Release();
};

#endif

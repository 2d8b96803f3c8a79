// The NPAPI host: one implementation of the browser side, shipped with the
// web-process extension (webkit/) and tvbridge, and the host of every test
// and benchmark. Browser.h: the browser's function table, what it answers,
// hooks, the async queue; Script.h: script on the host's side; this file: a
// plug-in module loaded (linked in, or by dlopen) and its instances driven
// through the plug-in table.
#ifndef NPTV_HOST_HOST_H
#define NPTV_HOST_HOST_H

#include <deque>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "Browser.h"
#include "Script.h"

namespace nphost {

// ---- Hosting a plug-in module -----------------------------------------------------

struct Entries {
  NP_GetMIMEDescriptionFunc getMIMEDescription;
  NP_GetValueFunc getValue;
  NP_InitializeFunc initialize;
  NP_ShutdownFunc shutdown;
};

class Host {
 public:
  static constexpr std::size_t kEndedRoom = 256;

  explicit Host(Entries entries);
  // Loads a module with dlopen and looks up its four entry points; null (and
  // the reason in `error`) when that fails.
  static std::unique_ptr<Host> Load(const std::string& path, std::string* error);
  ~Host();
  Host(const Host&) = delete;
  Host& operator=(const Host&) = delete;

  const Entries& entries() const { return m_entries; }
  // A symbol of a loaded module (null for a linked-in one).
  void* Symbol(const char* name) const;

  // NP_Initialize with the table in use (a copy lives as long as the host).
  NPError Initialize();
  NPPluginFuncs& plugin() { return m_plugin; }

  // A new instance through the plug-in table. After Destroy its NPP stays
  // valid while a queued call names it (such calls may still run) and until
  // kEndedRoom newer instances have ended (an NPP is not soon reused); then
  // a later New frees it. A long-running host keeps no more than that.
  NPP New(NPError* error = nullptr);
  // The same with the element's attributes as the argument names and values
  // (NP_EMBED mode), as a browser passes them; `data` becomes npp->ndata.
  using Attributes = std::vector<std::pair<std::string, std::string>>;
  NPP New(const Attributes& attributes, void* data, NPError* error = nullptr);
  NPError Destroy(NPP instance);
  // NPP_GetValue(NPPVpluginScriptableNPObject): the caller owns the reference.
  NPObject* ScriptObject(NPP instance);
  // The instance records the host keeps (live ones and those still named by
  // a queued call).
  std::size_t instanceRecords() const { return m_instances.size(); }

 private:
  Entries m_entries;
  void* m_handle = nullptr;
  NPNetscapeFuncs m_browser;
  NPPluginFuncs m_plugin;
  struct Record {
    NPP_t npp;
    bool destroyed;
  };
  void DropEnded();
  std::deque<std::unique_ptr<Record>> m_instances;
};

}  // namespace nphost

#endif

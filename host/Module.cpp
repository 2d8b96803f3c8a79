// The host's side of a plug-in module: loading it (linked in, or by dlopen),
// NP_Initialize with the browser's table, and driving its instances through
// the plug-in table (see Host.h).
#include <dlfcn.h>

#include <iterator>
#include <cstring>
#include <string>
#include <vector>

#include "Host.h"

namespace nphost {

Host::Host(Entries entries) : m_entries(entries), m_browser(Browser()) {
  std::memset(&m_plugin, 0, sizeof m_plugin);
}

std::unique_ptr<Host> Host::Load(const std::string& path, std::string* error) {
  void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!handle) {
    if (error) *error = dlerror();
    return nullptr;
  }
  Entries e;
  e.getMIMEDescription =
      reinterpret_cast<NP_GetMIMEDescriptionFunc>(dlsym(handle, "NP_GetMIMEDescription"));
  e.getValue = reinterpret_cast<NP_GetValueFunc>(dlsym(handle, "NP_GetValue"));
  e.initialize = reinterpret_cast<NP_InitializeFunc>(dlsym(handle, "NP_Initialize"));
  e.shutdown = reinterpret_cast<NP_ShutdownFunc>(dlsym(handle, "NP_Shutdown"));
  if (!e.getMIMEDescription || !e.getValue || !e.initialize || !e.shutdown) {
    if (error) *error = "an NP_ entry point is missing";
    dlclose(handle);
    return nullptr;
  }
  std::unique_ptr<Host> host(new Host(e));
  host->m_handle = handle;
  return host;
}

Host::~Host() {
  if (m_handle) dlclose(m_handle);
}

void* Host::Symbol(const char* name) const { return m_handle ? dlsym(m_handle, name) : nullptr; }

NPError Host::Initialize() {
  m_browser = Browser();
  return m_entries.initialize(&m_browser, &m_plugin);
}

NPP Host::New(NPError* error) { return New(Attributes(), nullptr, error); }

void Host::DropEnded() {
  std::size_t ended = 0;  // counted from the newest
  for (auto it = m_instances.rbegin(); it != m_instances.rend();) {
    Record* r = it->get();
    NPP npp = &r->npp;
    bool drop = r->destroyed && ++ended > kEndedRoom &&
                PendingAsyncCalls([npp](NPP n) { return n == npp; }) == 0;
    it = drop ? decltype(it)(m_instances.erase(std::next(it).base())) : std::next(it);
  }
}

NPP Host::New(const Attributes& attributes, void* data, NPError* error) {
  DropEnded();
  m_instances.push_back(std::unique_ptr<Record>(new Record{NPP_t{nullptr, data}, false}));
  NPP npp = &m_instances.back()->npp;
  char mime[] = "application/tv";
  // The texts are valid during NPP_New (a plug-in that keeps them copies them).
  std::vector<std::string> texts;
  texts.reserve(attributes.size() * 2);
  std::vector<char*> names, values;
  for (const auto& a : attributes) {
    texts.push_back(a.first);
    names.push_back(&texts.back()[0]);
    texts.push_back(a.second);
    values.push_back(&texts.back()[0]);
  }
  NPError e = m_plugin.newp(mime, npp, NP_EMBED, static_cast<int16_t>(names.size()),
                            names.empty() ? nullptr : names.data(),
                            values.empty() ? nullptr : values.data(), nullptr);
  if (error) *error = e;
  if (e != NPERR_NO_ERROR) m_instances.back()->destroyed = true;  // no NPP_Destroy follows
  return npp;
}

NPError Host::Destroy(NPP instance) {
  for (auto& r : m_instances)
    if (&r->npp == instance) r->destroyed = true;
  return m_plugin.destroy(instance, nullptr);
}

NPObject* Host::ScriptObject(NPP instance) {
  NPObject* object = nullptr;
  if (m_plugin.getvalue(instance, NPPVpluginScriptableNPObject, &object) != NPERR_NO_ERROR)
    return nullptr;
  return object;
}

}  // namespace nphost

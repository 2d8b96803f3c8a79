#include "module/CPlugin.h"

#include <cstring>
#include <new>
#include <string>

#include "bridge/Log.h"
#include "module/NPNFuncs.h"
#include "script/ScriptablePluginObject.h"
#include "tv/CPlTV.h"

NPObject* sWindowObj = nullptr;

namespace {

const char kCtorSignature[] = "CPlugin::CPlugin(NPP)";
constexpr std::size_t kAppTextSize = 1024;

// The browser's own text variables (not of the published NPAPI set).
enum AppText { kAppText4000 = 4000, kAppText4001 = 4001, kAppText4002 = 4002, kAppText4003 = 4003 };

// Reads one application text; an unanswered variable reads as empty, and the
// text never extends beyond the buffer even when the browser filled all of it.
std::string ReadAppText(NPP instance, int variable) {
  char buffer[kAppTextSize];
  std::memset(buffer, 0, sizeof buffer);
  NPNFuncs.getvalue(instance, static_cast<NPNVariable>(variable), buffer);
  return std::string(buffer, strnlen(buffer, sizeof buffer));
}

// A heap copy (array allocation) of a text, or null when there is no text or
// no memory.
char* CopyText(const char* text) {
  if (!text) return nullptr;
  std::size_t size = std::strlen(text) + 1;
  char* copy = new (std::nothrow) char[size];
  if (copy) std::memcpy(copy, text, size);
  return copy;
}

}  // namespace

CPlugin::CPlugin(NPP instance)
    : m_NPInstance(instance),
      m_NPWindow(nullptr),
      m_Initialized(false),
      m_ScriptObj(nullptr),
      m_UserAgent(nullptr),
      m_pTV(nullptr),
      m_WindowObj(nullptr) {
  // Construction fails as a whole when memory runs out: whatever was already
  // taken (the TV object with its connection, the window object) is given
  // back before the exception leaves.
  try {
    std::string a = ReadAppText(instance, kAppText4002);
    std::string b = ReadAppText(instance, kAppText4001);
    std::string c = ReadAppText(instance, kAppText4000);
    std::string d = ReadAppText(instance, kAppText4003);

    m_pTV = new NSPlTV::CPlTV(&b[0]);
    m_pTV->Execute(std::string("SetAppInfo"), a, c, b, d);

    NPNFuncs.getvalue(m_NPInstance, NPNVWindowNPObject, &m_WindowObj);
    sWindowObj = m_WindowObj;

    for (std::size_t i = 0; i < kMethodCount; ++i)
      sMethodIds[i] = NPNFuncs.getstringidentifier(MethodName(i));
    sOnEventId = NPNFuncs.getstringidentifier("OnEvent");

    m_pTV->m_NPP = instance;

    if (!sWindowObj) NPTV_LOG("CPlugin", kCtorSignature, "[%s][%d]sWindowObj is NULL");
    if (!m_NPInstance) NPTV_LOG("CPlugin", kCtorSignature, "[%s][%d]m_NPInstance is NULL");

    m_UserAgent = CopyText(NPNFuncs.uagent(m_NPInstance));
  } catch (...) {
    Release();
    throw;
  }
}

CPlugin::~CPlugin() { Release(); }

void CPlugin::Release() {
  if (m_pTV) {
    // Close the connection before the TV object's destruction begins: the
    // framework's thread calls the virtual OnEvent, and must not do so while
    // the object's destructors rewrite its virtual table pointer. The
    // destructor's own Close then finds the connection closed and does not
    // call the framework again.
    m_pTV->Close();
    delete m_pTV;
    m_pTV = nullptr;
  }
  if (m_WindowObj) {
    NPNFuncs.releaseobject(m_WindowObj);
    m_WindowObj = nullptr;
  }
  if (m_ScriptObj) {
    NPNFuncs.releaseobject(m_ScriptObj);
    m_ScriptObj = nullptr;
  }
  delete[] m_UserAgent;
  m_UserAgent = nullptr;
  sWindowObj = nullptr;
}

bool CPlugin::init(NPWindow* window) {
  if (!window) return false;
  m_NPWindow = window;
  m_Initialized = true;
  return true;
}

void CPlugin::shut() { m_Initialized = false; }

NPBool CPlugin::isInitialized() { return m_Initialized; }

int16_t CPlugin::handleEvent(void*) { return 0; }

NPObject* CPlugin::GetScriptableObject() {
  if (!m_ScriptObj) {
    m_ScriptObj = NPNFuncs.createobject(m_NPInstance, &sScriptablePluginObjectClass);
    if (!m_ScriptObj) return nullptr;
  }
  return NPNFuncs.retainobject(m_ScriptObj);
}

void CPlugin::showVersion() {
  const char* agent = NPNFuncs.uagent(m_NPInstance);
  delete[] m_UserAgent;
  m_UserAgent = nullptr;
  if (agent) {
    m_UserAgent = CopyText(agent);
    if (!m_UserAgent) return;
  }
  if (m_NPWindow) {
    NPRect rect;
    rect.top = static_cast<uint16_t>(m_NPWindow->y);
    rect.left = static_cast<uint16_t>(m_NPWindow->x);
    rect.bottom = static_cast<uint16_t>(m_NPWindow->y + m_NPWindow->height);
    rect.right = static_cast<uint16_t>(m_NPWindow->x + m_NPWindow->width);
    NPNFuncs.invalidaterect(m_NPInstance, &rect);
  }
}

void CPlugin::clear() {
  if (m_UserAgent) std::memset(m_UserAgent, 0, std::strlen(m_UserAgent) + 1);
}

void CPlugin::getVersion(char** version) {
  if (!version) return;
  const char* agent = NPNFuncs.uagent(m_NPInstance);
  if (!agent) agent = "";
  std::size_t size = std::strlen(agent) + 1;
  *version = static_cast<char*>(NPNFuncs.memalloc(static_cast<uint32_t>(size)));
  if (*version) std::memcpy(*version, agent, size);
}

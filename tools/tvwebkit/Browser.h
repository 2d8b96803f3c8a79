// The browser: a WebKitGTK web view in a GTK window whose web process hosts
// the TV plug-in module through the nptv web-process extension, the
// `tvbrowser` hook of its pages, and the verdict/exit logic around it.
#ifndef TVWEBKIT_BROWSER_H
#define TVWEBKIT_BROWSER_H

#include <webkit2/webkit2.h>

#include <functional>
#include <string>
#include <vector>

#include "Options.h"
#include "SimSocket.h"
#include "Verdict.h"

struct Setup {
  std::string module;        // the plug-in module the extension loads
  std::string extensionDir;  // the extension's folder
  std::string url;           // the page; empty with --automation
  std::vector<std::string> scriptTexts;  // the --script files' contents
  bool headless = false;
};

class Browser {
 public:
  Browser(const Options& options, Setup setup);
  ~Browser();
  Browser(const Browser&) = delete;
  Browser& operator=(const Browser&) = delete;

  // Runs until the verdict (or the end of the automation session); the exit
  // status.
  int Run();

 private:
  void ConfigureContext();
  // The asked page's hook, its messages and the tvwebkit: scheme (PageHook.cpp).
  void InstallHook();
  std::string Sim(const std::string& line);
  WebKitWebView* CreateView(bool automation);
  void Print(const std::string& line);
  void Verdict(bool passed, const std::string& message);
  void Finish(int code);
  void Quit();
  // Writes the screenshot (if one was asked for), then calls `then`.
  void Screenshot(const std::string& why, std::function<void()> then);

  static void OnMessage(WebKitUserContentManager*, WebKitJavascriptResult* result, gpointer self);
  static void OnLoadChanged(WebKitWebView* view, WebKitLoadEvent event, gpointer self);
  static gboolean OnLoadFailed(WebKitWebView*, WebKitLoadEvent, gchar* uri, GError* error, gpointer self);
  static void OnWebProcessTerminated(WebKitWebView*, WebKitWebProcessTerminationReason reason, gpointer self);
  static void OnViewClose(WebKitWebView*, gpointer self);
  static gboolean OnWindowDelete(GtkWidget*, GdkEvent*, gpointer self);
  static void OnSchemeRequest(WebKitURISchemeRequest* request, gpointer self);
  static void OnAutomationStarted(WebKitWebContext*, WebKitAutomationSession* session, gpointer self);
  static WebKitWebView* OnCreateAutomationView(WebKitAutomationSession*, gpointer self);
  static gboolean OnTimeout(gpointer self);
  static gboolean OnSignal(gpointer data);

  Options m_options;
  Setup m_setup;
  std::string m_secret;  // of this run: the hook's messages and requests carry it
  std::string m_origin;  // the asked page's (nptvorigin::OfUrl)
  GMainLoop* m_loop = nullptr;
  WebKitWebContext* m_context = nullptr;
  WebKitUserContentManager* m_content = nullptr;
  WebKitSettings* m_settings = nullptr;
  GtkWidget* m_window = nullptr;
  WebKitWebView* m_view = nullptr;
  SimSocket m_sim;
  hostkit::Verdict m_verdict;
  guint m_timeoutId = 0;
  std::vector<guint> m_signalIds;
  bool m_finishing = false;
  int m_code = hostkit::kFailed;  // the exit status, once finishing
};

#endif

#include "Browser.h"

#include <glib-unix.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <unistd.h>


namespace {

#ifndef NPTV_FRAMEWORK_DIR
#define NPTV_FRAMEWORK_DIR ""
#endif

const char* EnvOr(const char* name, const char* fallback) {
  const char* v = std::getenv(name);
  return v ? v : fallback;
}

// The web processes this program started: WebKit spawns them as children,
// or as children of bubblewrap (the sandbox), so descendants are searched.
std::vector<pid_t> WebProcesses() {
  struct Entry {
    long pid, ppid;
    std::string comm;
  };
  std::vector<Entry> all;
  DIR* proc = opendir("/proc");
  if (!proc) return {};
  while (dirent* e = readdir(proc)) {
    char* end = nullptr;
    const long pid = std::strtol(e->d_name, &end, 10);
    if (*end || pid <= 0) continue;
    const std::string path = std::string("/proc/") + e->d_name + "/stat";
    std::FILE* f = std::fopen(path.c_str(), "r");
    if (!f) continue;
    char line[512] = {};
    const size_t n = std::fread(line, 1, sizeof line - 1, f);
    std::fclose(f);
    line[n] = '\0';
    // pid (comm) state ppid ...
    const char* open = std::strchr(line, '(');
    const char* close = std::strrchr(line, ')');
    if (!open || !close) continue;
    char state = 0;
    long ppid = 0;
    if (std::sscanf(close + 1, " %c %ld", &state, &ppid) != 2 || state == 'Z') continue;
    all.push_back({pid, ppid, std::string(open + 1, close)});
  }
  closedir(proc);
  std::vector<long> family = {static_cast<long>(getpid())};
  std::vector<pid_t> pids;
  for (size_t i = 0; i < family.size(); ++i)
    for (const Entry& e : all)
      if (e.ppid == family[i]) {
        family.push_back(e.pid);
        if (e.comm.rfind("WebKitWebProces", 0) == 0) pids.push_back(static_cast<pid_t>(e.pid));
      }
  return pids;
}

struct SignalWatch {
  Browser* browser;
  int signal;
};
SignalWatch gWatches[4];

}  // namespace

Browser::Browser(const Options& options, Setup setup)
    : m_options(options),
      m_setup(std::move(setup)),
      m_sim(EnvOr("QUV_SIM_SOCKET", "")),
      m_verdict("tvwebkit", [this](const std::string& line) { Print(line); }) {
  m_loop = g_main_loop_new(nullptr, FALSE);
  ConfigureContext();
}

Browser::~Browser() {
  if (m_timeoutId) g_source_remove(m_timeoutId);
  for (guint id : m_signalIds) g_source_remove(id);
  if (m_window) gtk_widget_destroy(m_window);
  g_clear_object(&m_settings);
  g_clear_object(&m_content);
  g_clear_object(&m_context);
  g_main_loop_unref(m_loop);
}

void Browser::ConfigureContext() {
  m_context = webkit_web_context_new();
  webkit_web_context_set_web_extensions_directory(m_context, m_setup.extensionDir.c_str());

  // The extension's configuration (a{sv}): the module, the allowed origins,
  // the browser variables 4000-4003.
  GVariantBuilder data;
  g_variant_builder_init(&data, G_VARIANT_TYPE("a{sv}"));
  g_variant_builder_add(&data, "{sv}", "module", g_variant_new_string(m_setup.module.c_str()));
  GVariantBuilder origins;
  g_variant_builder_init(&origins, G_VARIANT_TYPE("as"));
  for (const std::string& o : m_options.origins) g_variant_builder_add(&origins, "s", o.c_str());
  g_variant_builder_add(&data, "{sv}", "origins", g_variant_builder_end(&origins));
  if (!m_options.appTexts.empty()) {
    GVariantBuilder texts;
    g_variant_builder_init(&texts, G_VARIANT_TYPE("a{is}"));
    for (const auto& [n, text] : m_options.appTexts) g_variant_builder_add(&texts, "{is}", n, text.c_str());
    g_variant_builder_add(&data, "{sv}", "app-texts", g_variant_builder_end(&texts));
  }
  webkit_web_context_set_web_extensions_initialization_user_data(m_context, g_variant_builder_end(&data));

  // WebKit's sandbox (bubblewrap) shows the web process only the system's
  // folders: the module, the extension and the framework's socket, log,
  // configuration and the trace it replays must be bound into it.
  if (m_options.sandbox) {
    webkit_web_context_set_sandbox_enabled(m_context, TRUE);
    std::vector<std::string> paths = {m_setup.extensionDir};
    auto folderOf = [](const std::string& file) {
      gchar* d = g_path_get_dirname(file.c_str());
      std::string s = d;
      g_free(d);
      return s;
    };
    paths.push_back(folderOf(m_setup.module));
    for (const char* var : {"QUV_SIM_SOCKET", "QUV_LOG", "QUV_SIM_CONFIG", "QUV_SIM_REPLAY"}) {
      const char* v = std::getenv(var);
      if (!v || !*v) continue;
      // The sandboxed web process sees neither this working folder nor the
      // folders a path passes through ("a/../b"): it gets the plain path.
      gchar* absolute = g_canonicalize_filename(v, nullptr);
      setenv(var, absolute, 1);
      paths.push_back(folderOf(absolute));
      g_free(absolute);
    }
    // The framework library of this build (on a TV it is in the system's
    // library folders, which the sandbox shows anyway).
    if (*NPTV_FRAMEWORK_DIR) paths.push_back(NPTV_FRAMEWORK_DIR);
    paths.insert(paths.end(), m_options.sandboxPaths.begin(), m_options.sandboxPaths.end());
    for (const std::string& p : paths) webkit_web_context_add_path_to_sandbox(m_context, p.c_str(), FALSE);
  } else {
    webkit_web_context_set_sandbox_enabled(m_context, FALSE);
  }

  if (m_options.automation) {
    webkit_web_context_set_automation_allowed(m_context, TRUE);
    g_signal_connect(m_context, "automation-started", G_CALLBACK(&Browser::OnAutomationStarted), this);
  }

  InstallHook();

  m_settings = webkit_settings_new();
  webkit_settings_set_enable_javascript(m_settings, TRUE);
  // The pages read files next to them (the method list, their data).
  webkit_settings_set_allow_file_access_from_file_urls(m_settings, TRUE);
  webkit_settings_set_enable_developer_extras(m_settings, m_options.inspect || m_options.automation);
  // The same rendering under Xvfb every run.
  webkit_settings_set_hardware_acceleration_policy(m_settings, WEBKIT_HARDWARE_ACCELERATION_POLICY_NEVER);
}

WebKitWebView* Browser::CreateView(bool automation) {
  auto* view = WEBKIT_WEB_VIEW(g_object_new(WEBKIT_TYPE_WEB_VIEW, "web-context", m_context,
                                            "user-content-manager", m_content, "settings", m_settings,
                                            "is-controlled-by-automation", automation, nullptr));
  g_signal_connect(view, "load-changed", G_CALLBACK(&Browser::OnLoadChanged), this);
  g_signal_connect(view, "load-failed", G_CALLBACK(&Browser::OnLoadFailed), this);
  g_signal_connect(view, "web-process-terminated", G_CALLBACK(&Browser::OnWebProcessTerminated), this);
  g_signal_connect(view, "close", G_CALLBACK(&Browser::OnViewClose), this);

  m_window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
  gtk_window_set_title(GTK_WINDOW(m_window), "tvwebkit");
  gtk_window_set_default_size(GTK_WINDOW(m_window), m_options.width, m_options.height);
  gtk_container_add(GTK_CONTAINER(m_window), GTK_WIDGET(view));
  g_signal_connect(m_window, "delete-event", G_CALLBACK(&Browser::OnWindowDelete), this);
  gtk_widget_show_all(m_window);
  m_view = view;
  if (m_options.inspect) {
    WebKitWebInspector* inspector = webkit_web_view_get_inspector(view);
    webkit_web_inspector_show(inspector);
  }
  return view;
}

int Browser::Run() {
  static const int kSignals[] = {SIGINT, SIGTERM, SIGUSR1, SIGUSR2};
  for (size_t i = 0; i < 4; ++i) {
    gWatches[i] = {this, kSignals[i]};
    m_signalIds.push_back(g_unix_signal_add(kSignals[i], &Browser::OnSignal, &gWatches[i]));
  }
  Print("tvwebkit: module " + m_setup.module + ", extension " + m_setup.extensionDir +
        (m_setup.headless ? " (headless)" : "") + (m_options.sandbox ? " (sandbox)" : ""));
  if (m_options.automation) {
    Print("tvwebkit: waiting for a WebDriver session");
  } else {
    CreateView(false);
    Print("tvwebkit: opening " + m_setup.url);
    if (m_options.timeoutSeconds > 0)
      m_timeoutId = g_timeout_add(static_cast<guint>(m_options.timeoutSeconds * 1000), &Browser::OnTimeout, this);
    webkit_web_view_load_uri(m_view, m_setup.url.c_str());
  }
  g_main_loop_run(m_loop);
  return m_code;
}

void Browser::Print(const std::string& line) {
  std::fwrite(line.data(), 1, line.size(), stdout);
  std::fputc('\n', stdout);
  std::fflush(stdout);
}

void Browser::Verdict(bool passed, const std::string& message) {
  if (!m_verdict.Page(passed, message)) return;
  if (m_timeoutId) {
    g_source_remove(m_timeoutId);
    m_timeoutId = 0;
  }
  if (m_options.automation) return;  // the WebDriver session decides when it ends
  // Let the page's script run to its end first: what it says after the
  // verdict is still printed (a second verdict, as ignored).
  webkit_web_view_evaluate_javascript(
      m_view, "0", -1, nullptr, nullptr, nullptr,
      [](GObject*, GAsyncResult*, gpointer self) {
        auto* b = static_cast<Browser*>(self);
        if (b->m_finishing) return;
        b->Screenshot(b->m_verdict.code() == hostkit::kPassed ? "verdict" : "failure", [b] {
          if (b->m_options.stay && !b->m_setup.headless) {
            b->Print("tvwebkit: staying open; close the window to quit");
            return;
          }
          b->Finish(b->m_verdict.code());
        });
      },
      this);
}

void Browser::OnLoadChanged(WebKitWebView* view, WebKitLoadEvent event, gpointer self) {
  auto* b = static_cast<Browser*>(self);
  if (event != WEBKIT_LOAD_FINISHED || b->m_finishing) return;
  // Scripts given on the command line, on every load of the page.
  for (const std::string& text : b->m_setup.scriptTexts)
    webkit_web_view_evaluate_javascript(view, text.c_str(), static_cast<gssize>(text.size()), nullptr, nullptr,
                                        nullptr, nullptr, nullptr);
}

gboolean Browser::OnLoadFailed(WebKitWebView*, WebKitLoadEvent, gchar* uri, GError* error, gpointer self) {
  auto* b = static_cast<Browser*>(self);
  // A load the page itself replaced by another is not a failure.
  if (g_error_matches(error, WEBKIT_NETWORK_ERROR, WEBKIT_NETWORK_ERROR_CANCELLED) ||
      g_error_matches(error, WEBKIT_POLICY_ERROR, WEBKIT_POLICY_ERROR_FRAME_LOAD_INTERRUPTED_BY_POLICY_CHANGE))
    return FALSE;
  if (!b->m_options.automation &&
      b->m_verdict.Fail(hostkit::kNotLoaded,
                        std::string("the page could not be loaded: ") + uri + " (" + error->message + ")"))
    b->Finish(hostkit::kNotLoaded);
  return FALSE;
}

void Browser::OnWebProcessTerminated(WebKitWebView*, WebKitWebProcessTerminationReason reason, gpointer self) {
  auto* b = static_cast<Browser*>(self);
  if (b->m_finishing) return;
  const char* why = reason == WEBKIT_WEB_PROCESS_CRASHED ? "crashed"
                    : reason == WEBKIT_WEB_PROCESS_EXCEEDED_MEMORY_LIMIT ? "exceeded its memory limit"
                                                                         : "was terminated";
  b->m_verdict.Fail(hostkit::kEngineEnded, std::string("the web process ") + why);
  // Not from inside WebKit's own handling of the loss: it goes on using the
  // view after this signal, so the view is destroyed on a later turn.
  g_idle_add(
      [](gpointer self) -> gboolean {
        static_cast<Browser*>(self)->Finish(hostkit::kEngineEnded);
        return G_SOURCE_REMOVE;
      },
      b);
}

void Browser::OnViewClose(WebKitWebView*, gpointer self) {
  auto* b = static_cast<Browser*>(self);
  // window.close() in a page, or the WebDriver session closing its window.
  if (!b->m_options.automation && !b->m_options.stay)
    b->m_verdict.Fail(hostkit::kFailed, "the page closed its window before giving a verdict");
  b->Finish(b->m_options.automation || !b->m_verdict.decided() ? hostkit::kPassed : b->m_verdict.code());
}

gboolean Browser::OnWindowDelete(GtkWidget*, GdkEvent*, gpointer self) {
  auto* b = static_cast<Browser*>(self);
  b->Finish(b->m_verdict.WindowClosed(b->m_options.stay || b->m_options.automation));
  return TRUE;  // Finish destroys it
}

gboolean Browser::OnTimeout(gpointer self) {
  auto* b = static_cast<Browser*>(self);
  b->m_timeoutId = 0;
  if (b->m_verdict.Timeout(b->m_options.timeoutSeconds)) b->Screenshot("timeout", [b] { b->Finish(hostkit::kTimedOut); });
  return G_SOURCE_REMOVE;
}

gboolean Browser::OnSignal(gpointer data) {
  auto* w = static_cast<SignalWatch*>(data);
  Browser* b = w->browser;
  if (w->signal == SIGUSR2) {
    if (b->m_options.screenshot.empty()) b->Print("tvwebkit: SIGUSR2: no --screenshot file given");
    b->Screenshot("SIGUSR2", [] {});
    return G_SOURCE_CONTINUE;
  }
  const int code = b->m_verdict.Signal(w->signal);
  if (w->signal == SIGUSR1) {
    if (b->m_options.screenshot.empty()) b->Print("tvwebkit: SIGUSR1: no --screenshot file given");
    b->Screenshot("SIGUSR1", [b, code] { b->Finish(code); });
    return G_SOURCE_CONTINUE;
  }
  b->Finish(code);
  return G_SOURCE_CONTINUE;
}

void Browser::Screenshot(const std::string& why, std::function<void()> then) {
  if (m_options.screenshot.empty() || !m_view) {
    then();
    return;
  }
  struct Pending {
    Browser* browser;
    std::string why;
    std::function<void()> then;
  };
  auto* pending = new Pending{this, why, std::move(then)};
  webkit_web_view_get_snapshot(
      m_view, WEBKIT_SNAPSHOT_REGION_VISIBLE, WEBKIT_SNAPSHOT_OPTIONS_NONE, nullptr,
      [](GObject* source, GAsyncResult* result, gpointer data) {
        auto* p = static_cast<Pending*>(data);
        GError* error = nullptr;
        cairo_surface_t* surface = webkit_web_view_get_snapshot_finish(WEBKIT_WEB_VIEW(source), result, &error);
        gchar* path = g_canonicalize_filename(p->browser->m_options.screenshot.c_str(), nullptr);
        if (!surface) {
          p->browser->Print(std::string("tvwebkit: could not take the screenshot: ") + error->message);
          g_error_free(error);
        } else if (cairo_surface_write_to_png(surface, path) != CAIRO_STATUS_SUCCESS) {
          p->browser->Print(std::string("tvwebkit: could not write the screenshot ") + path);
        } else {
          p->browser->Print("tvwebkit: screenshot (" + p->why + ") " + path);
        }
        if (surface) cairo_surface_destroy(surface);
        g_free(path);
        p->then();
        delete p;
      },
      pending);
}

void Browser::Finish(int code) {
  if (m_finishing) return;
  m_finishing = true;
  m_code = code;
  if (m_timeoutId) {
    g_source_remove(m_timeoutId);
    m_timeoutId = 0;
  }
  // Close the page (its plug-in instances are destroyed in the web process),
  // then give the web process a moment to end before this process does.
  const std::vector<pid_t> before = WebProcesses();
  if (m_window) {
    gtk_widget_destroy(m_window);
    m_window = nullptr;
    m_view = nullptr;
  }
  struct Wait {
    Browser* browser;
    std::vector<pid_t> pids;
    int rounds;
  };
  g_timeout_add(20,
                [](gpointer data) -> gboolean {
                  auto* w = static_cast<Wait*>(data);
                  bool alive = false;
                  for (pid_t p : w->pids) alive = alive || kill(p, 0) == 0;
                  // Children that ended are zombies until WebKit reaps them.
                  if (alive) {
                    alive = false;
                    for (pid_t p : WebProcesses())
                      for (pid_t q : w->pids) alive = alive || p == q;
                  }
                  if (alive && --w->rounds > 0) return G_SOURCE_CONTINUE;
                  w->browser->Quit();
                  delete w;
                  return G_SOURCE_REMOVE;
                },
                new Wait{this, before, 100});
}

void Browser::Quit() { g_main_loop_quit(m_loop); }

void Browser::OnAutomationStarted(WebKitWebContext*, WebKitAutomationSession* session, gpointer self) {
  auto* b = static_cast<Browser*>(self);
  WebKitApplicationInfo* info = webkit_application_info_new();
  webkit_application_info_set_name(info, "tvwebkit");
  webkit_application_info_set_version(info, 1, 0, 0);
  webkit_automation_session_set_application_info(session, info);
  webkit_application_info_unref(info);
  g_signal_connect(session, "create-web-view", G_CALLBACK(&Browser::OnCreateAutomationView), b);
  b->Print("tvwebkit: WebDriver session started");
}

WebKitWebView* Browser::OnCreateAutomationView(WebKitAutomationSession*, gpointer self) {
  auto* b = static_cast<Browser*>(self);
  if (b->m_view) return b->m_view;  // one page per program
  return b->CreateView(true);
}

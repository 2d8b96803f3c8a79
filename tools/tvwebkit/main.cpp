// tvwebkit: opens a page in WebKitGTK whose web process hosts the TV plug-in
// module (the nptv web-process extension) and exits with the page's verdict.
// See UsageText().
#include <gtk/gtk.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <unistd.h>
#include <vector>

#include "Browser.h"
#include "Options.h"
#include "Xvfb.h"

#ifndef NPTV_DEFAULT_MODULE
#define NPTV_DEFAULT_MODULE ""
#endif
#ifndef NPTV_WEBKIT_EXTENSION_DIR
#define NPTV_WEBKIT_EXTENSION_DIR ""
#endif

namespace {

bool HasDisplay() {
  const char* d = std::getenv("DISPLAY");
  return d && *d;
}

std::string FileUri(const std::string& path) {
  gchar* absolute = g_canonicalize_filename(path.c_str(), nullptr);
  gchar* uri = g_filename_to_uri(absolute, nullptr, nullptr);
  std::string s = uri ? uri : "";
  g_free(uri);
  g_free(absolute);
  return s;
}

// A page given as an existing file becomes a file URL (a query after the
// file name is kept); anything with a scheme is taken as a URL.
bool ResolvePage(const std::string& page, std::string& url, std::string& error) {
  if (g_file_test(page.c_str(), G_FILE_TEST_EXISTS)) {
    if (!g_file_test(page.c_str(), G_FILE_TEST_IS_REGULAR)) {
      error = "not a file: " + page;
      return false;
    }
    url = FileUri(page);
    return true;
  }
  const auto q = page.find('?');
  if (q != std::string::npos && q > 0 && g_file_test(page.substr(0, q).c_str(), G_FILE_TEST_IS_REGULAR)) {
    url = FileUri(page.substr(0, q)) + page.substr(q);
    return true;
  }
  gchar* scheme = g_uri_parse_scheme(page.c_str());
  const bool isUrl = scheme && std::string(scheme).size() > 1;
  g_free(scheme);
  if (isUrl) {
    url = page;
    return true;
  }
  error = "no such page: " + page;
  return false;
}

bool ReadFile(const std::string& path, std::string& text) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  std::ostringstream s;
  s << in.rdbuf();
  text = s.str();
  return !in.bad();
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  Options options;
  std::string error;
  if (!ParseOptions(args, options, error)) {
    std::fprintf(stderr, "tvwebkit: %s\n(tvwebkit --help for usage)\n", error.c_str());
    return 2;
  }
  if (options.help) {
    std::fputs(UsageText(), stdout);
    return 0;
  }
  Setup setup;
  if (!options.page.empty() && !options.automation && !ResolvePage(options.page, setup.url, error)) {
    std::fprintf(stderr, "tvwebkit: %s\n", error.c_str());
    return 2;
  }
  for (const std::string& script : options.scripts) {
    std::string text;
    if (!g_file_test(script.c_str(), G_FILE_TEST_IS_REGULAR) || !ReadFile(script, text)) {
      std::fprintf(stderr, "tvwebkit: --script: no such file: %s\n", script.c_str());
      return 2;
    }
    setup.scriptTexts.push_back(text);
  }

  setup.module = options.module;
  if (setup.module.empty()) {
    const char* env = std::getenv("NPTV_MODULE");
    setup.module = env && *env ? env : NPTV_DEFAULT_MODULE;
  }
  if (setup.module.empty()) {
    std::fprintf(stderr, "tvwebkit: no plug-in module: give --module FILE\n");
    return 2;
  }
  {
    gchar* absolute = g_canonicalize_filename(setup.module.c_str(), nullptr);
    setup.module = absolute;
    g_free(absolute);
  }
  if (!g_file_test(setup.module.c_str(), G_FILE_TEST_IS_REGULAR))
    std::fprintf(stderr, "tvwebkit: warning: no module %s: the TV object will be missing\n", setup.module.c_str());
  setup.extensionDir = options.extensionDir;
  if (setup.extensionDir.empty()) {
    const char* env = std::getenv("NPTV_WEBKIT_EXTENSION_DIR");
    setup.extensionDir = env && *env ? env : NPTV_WEBKIT_EXTENSION_DIR;
  }
  if (setup.extensionDir.empty() || !g_file_test(setup.extensionDir.c_str(), G_FILE_TEST_IS_DIR)) {
    std::fprintf(stderr, "tvwebkit: no extension folder%s%s: give --extension-dir DIR\n",
                 setup.extensionDir.empty() ? "" : " ", setup.extensionDir.c_str());
    return 2;
  }

  // Headless: a private X server of the page's size.
  Xvfb xvfb;
  setup.headless = options.headless || (!options.noXvfb && !HasDisplay());
  if (setup.headless && !options.noXvfb) {
    std::string display;
    if (!xvfb.Start(options.width, options.height, display, error)) {
      std::fprintf(stderr, "tvwebkit: %s\n", error.c_str());
      return 4;
    }
    setenv("DISPLAY", display.c_str(), 1);
    unsetenv("WAYLAND_DISPLAY");
  }
  // The web view draws into an X11 window (also the snapshot's source).
  setenv("GDK_BACKEND", "x11", 1);

  // GTK and WebKit want a private runtime folder; give them one.
  std::string runtimeDir;
  if (!std::getenv("XDG_RUNTIME_DIR")) {
    char tmpl[] = "/tmp/tvwebkit-runtime-XXXXXX";
    if (mkdtemp(tmpl)) {
      runtimeDir = tmpl;
      setenv("XDG_RUNTIME_DIR", tmpl, 1);
    }
  }

  int code = 4;
  if (!gtk_init_check(&argc, &argv)) {
    std::fprintf(stderr, "tvwebkit: cannot open the display %s\n", std::getenv("DISPLAY") ? std::getenv("DISPLAY") : "");
  } else {
    Browser browser(options, setup);
    code = browser.Run();
  }
  xvfb.Stop();
  if (!runtimeDir.empty()) rmdir(runtimeDir.c_str());
  return code;
}

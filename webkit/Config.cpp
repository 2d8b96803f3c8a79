// The extension's configuration and origin rule (see Config.h).
#include "Config.h"

#include <cstdlib>

#ifndef NPTV_WEBKIT_DEFAULT_MODULE
#define NPTV_WEBKIT_DEFAULT_MODULE "/usr/lib/browser-plugins/libnptv.so"
#endif

namespace nptvwebkit {

std::string Origin(const std::string& uri) {
  GUri* parsed = g_uri_parse(uri.c_str(), G_URI_FLAGS_NONE, nullptr);
  if (!parsed) return "";
  std::string scheme = g_uri_get_scheme(parsed);
  for (char& c : scheme) c = g_ascii_tolower(c);
  std::string origin;
  if (scheme == "file") {
    origin = "file:";
  } else if ((scheme == "http" || scheme == "https") && g_uri_get_host(parsed) &&
             *g_uri_get_host(parsed) && !g_uri_get_userinfo(parsed)) {
    char* host = g_ascii_strdown(g_uri_get_host(parsed), -1);
    int port = g_uri_get_port(parsed);
    int standard = scheme == "http" ? 80 : 443;
    bool ipv6 = std::string(host).find(':') != std::string::npos;
    origin = scheme + "://" + (ipv6 ? "[" : "") + host + (ipv6 ? "]" : "");
    if (port > 0 && port != standard) origin += ":" + std::to_string(port);
    g_free(host);
  }
  g_uri_unref(parsed);
  return origin;
}

bool Allowed(const Config& config, const std::string& uri) {
  std::string origin = Origin(uri);
  if (origin.empty()) return false;
  return origin == "file:" || config.origins.count(origin) != 0;
}

namespace {

void AddOrigin(Config* config, const std::string& text) {
  // Exactly an origin: an http(s) URI with nothing after the authority but
  // an optional "/".
  bool exact = false;
  std::string origin = Origin(text);
  if (!origin.empty() && origin != "file:") {
    GUri* parsed = g_uri_parse(text.c_str(), G_URI_FLAGS_NONE, nullptr);
    const char* path = g_uri_get_path(parsed);
    exact = (!path || !*path || std::string(path) == "/") && !g_uri_get_query(parsed) &&
            !g_uri_get_fragment(parsed);
    g_uri_unref(parsed);
  }
  if (exact)
    config->origins.insert(origin);
  else
    config->problems.push_back("not an origin (scheme://host[:port], http or https): \"" + text +
                               "\", ignored");
}

}  // namespace

Config ReadConfig(GVariant* data) {
  Config config;
  bool haveModule = false, haveOrigins = false, haveTexts = false;
  if (data && g_variant_is_of_type(data, G_VARIANT_TYPE("a{sv}"))) {
    const char* module = nullptr;
    if (g_variant_lookup(data, "module", "&s", &module)) {
      config.module = module;
      haveModule = true;
    }
    const char** origins = nullptr;
    if (g_variant_lookup(data, "origins", "^a&s", &origins)) {
      for (const char** o = origins; *o; ++o) AddOrigin(&config, *o);
      g_free(origins);
      haveOrigins = true;
    }
    GVariant* texts = g_variant_lookup_value(data, "app-texts", G_VARIANT_TYPE("a{is}"));
    if (texts) {
      GVariantIter iter;
      gint32 variable;
      const char* text;
      g_variant_iter_init(&iter, texts);
      while (g_variant_iter_next(&iter, "{i&s}", &variable, &text)) {
        if (variable >= 4000 && variable <= 4003)
          config.appTexts[variable] = text;
        else
          config.problems.push_back("app-texts: variable " + std::to_string(variable) +
                                    " is not one of 4000-4003, ignored");
      }
      g_variant_unref(texts);
      haveTexts = true;
    }
  } else if (data) {
    config.problems.push_back(std::string("user data of type ") +
                              g_variant_get_type_string(data) + " (not a{sv}), ignored");
  }
  if (!haveModule) {
    const char* env = std::getenv("NPTV_MODULE");
    config.module = env && *env ? env : NPTV_WEBKIT_DEFAULT_MODULE;
  }
  if (!haveOrigins) {
    const char* env = std::getenv("NPTV_ORIGINS");
    if (env) {
      char** parts = g_strsplit(env, ",", -1);
      for (char** p = parts; *p; ++p) {
        char* item = g_strstrip(*p);
        if (*item) AddOrigin(&config, item);
      }
      g_strfreev(parts);
    }
  }
  if (!haveTexts) {
    for (int v = 4000; v <= 4003; ++v) {
      const char* env = std::getenv(("NPTV_APP_TEXT_" + std::to_string(v)).c_str());
      if (env) config.appTexts[v] = env;
    }
  }
  return config;
}

}  // namespace nptvwebkit

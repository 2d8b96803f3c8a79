// The extension's configuration and origin rule (see Config.h).
#include "Config.h"

#include "OriginRule.h"

#include <cstdlib>

#ifndef NPTV_WEBKIT_DEFAULT_MODULE
#define NPTV_WEBKIT_DEFAULT_MODULE "/usr/lib/browser-plugins/libnptv.so"
#endif

namespace nptvwebkit {

bool Allowed(const Config& config, const std::string& uri) {
  const std::string origin = nptvorigin::OfUrl(uri);
  if (origin.empty()) return false;
  return origin == "file://" || config.origins.count(origin) != 0;
}

namespace {

void AddOrigin(Config* config, const std::string& text) {
  std::string origin;
  if (nptvorigin::Listed(text, origin))
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

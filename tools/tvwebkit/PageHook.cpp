// The asked page's hook: window.tvbrowser (hook.js, injected into the top
// frame of the asked page's origin), its messages (console lines, verdicts)
// and its synchronous requests on the tvwebkit: scheme. Every message and
// request must carry this run's secret and come from the asked origin.
#include <libsoup/soup.h>

#include "Browser.h"
#include "HookScript.h"  // kHookScript: hook.js
#include "OriginRule.h"

namespace {

std::string ReplaceAll(std::string text, const std::string& from, const std::string& to) {
  for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
    text.replace(at, from.size(), to);
  return text;
}

}  // namespace

void Browser::InstallHook() {
  // tvwebkit://host/SECRET/WHAT: the hook's synchronous requests.
  webkit_web_context_register_uri_scheme(m_context, "tvwebkit", &Browser::OnSchemeRequest, this, nullptr);
  webkit_security_manager_register_uri_scheme_as_cors_enabled(
      webkit_web_context_get_security_manager(m_context), "tvwebkit");

  m_content = webkit_user_content_manager_new();
  g_signal_connect(m_content, "script-message-received::tvwebkit", G_CALLBACK(&Browser::OnMessage), this);
  webkit_user_content_manager_register_script_message_handler(m_content, "tvwebkit");
  // A secret of this run: what the hook sends and the program checks.
  gchar* secret = g_uuid_string_random();
  m_secret = secret;
  g_free(secret);
  m_origin = nptvorigin::OfUrl(m_setup.url);
  gchar* origin = g_strescape(m_origin.c_str(), nullptr);
  const std::string hook = ReplaceAll(
      ReplaceAll(ReplaceAll(kHookScript, "HEADLESS", m_setup.headless ? "true" : "false"), "SECRET",
                 "'" + m_secret + "'"),
      "ORIGIN", std::string("'") + origin + "'");
  g_free(origin);
  WebKitUserScript* script = webkit_user_script_new(hook.c_str(), WEBKIT_USER_CONTENT_INJECT_TOP_FRAME,
                                                    WEBKIT_USER_SCRIPT_INJECT_AT_DOCUMENT_START, nullptr, nullptr);
  webkit_user_content_manager_add_script(m_content, script);
  webkit_user_script_unref(script);
}

void Browser::OnMessage(WebKitUserContentManager*, WebKitJavascriptResult* result, gpointer self) {
  auto* b = static_cast<Browser*>(self);
  JSCValue* value = webkit_javascript_result_get_js_value(result);
  if (!jsc_value_is_array(value)) return;
  std::string item[3];
  for (unsigned i = 0; i < 3; ++i) {
    JSCValue* v = jsc_value_object_get_property_at_index(value, i);
    gchar* text = jsc_value_to_string(v);
    item[i] = text ? text : "";
    g_free(text);
    g_object_unref(v);
  }
  // Any frame can post to the handler; only the hook knows the secret.
  if (item[0] != b->m_secret) {
    b->Print("tvwebkit: ignored a message from a frame that is not the page's");
    return;
  }
  const std::string &k = item[1], &t = item[2];
  if (k == "console" || k == "log") {
    b->Print(t);
  } else if (k == "pass" || k == "fail") {
    b->Verdict(k == "pass", t);
  }
}

std::string Browser::Sim(const std::string& line) {
  std::string reply, error;
  if (m_sim.Request(line, reply, error)) return reply;
  Print("tvwebkit: control socket: " + error);
  // A reply in the protocol's own shape, so that pages handle one format.
  gchar* quoted = g_strescape(("tvwebkit: " + error).c_str(), nullptr);
  std::string r = std::string("{\"ok\":false,\"error\":\"") + quoted + "\"}";
  g_free(quoted);
  return r;
}

void Browser::OnSchemeRequest(WebKitURISchemeRequest* request, gpointer self) {
  auto* b = static_cast<Browser*>(self);
  const gchar* uri = webkit_uri_scheme_request_get_uri(request);
  GUri* parsed = g_uri_parse(uri, G_URI_FLAGS_ENCODED_QUERY, nullptr);
  std::string what, body;
  if (parsed) {
    const char* path = g_uri_get_path(parsed);
    const std::string mine = "/" + b->m_secret + "/";
    what = path && std::string(path).compare(0, mine.size(), mine) == 0 ? path + mine.size() : "";
    if (const char* query = g_uri_get_query(parsed)) {
      gchar* decoded = g_uri_unescape_string(query, nullptr);
      body = decoded ? decoded : "";
      g_free(decoded);
    }
    g_uri_unref(parsed);
  }
  // Only the page's origin (the hook's requests carry it; "null" for files).
  SoupMessageHeaders* asked = webkit_uri_scheme_request_get_http_headers(request);
  const char* from = asked ? soup_message_headers_get_one(asked, "Origin") : nullptr;
  // File pages send "null" or "file://" (the pages next to them share it).
  const std::string allowed = from && b->m_origin == "file://" && (std::string(from) == "null" || std::string(from) == "file://")
                                  ? std::string(from) : b->m_origin;
  if (!from || allowed.empty() || from != allowed) {
    b->Print(std::string("tvwebkit: refused a request from ") + (from ? from : "no origin"));
    what.clear();
  }
  if (what != "sim") {
    GError* error = g_error_new(G_IO_ERROR, G_IO_ERROR_PERMISSION_DENIED, "tvwebkit: refused: %s", uri);
    webkit_uri_scheme_request_finish_error(request, error);
    g_error_free(error);
    return;
  }
  const std::string answer = b->Sim(body);
  GBytes* bytes = g_bytes_new(answer.data(), answer.size());
  GInputStream* stream = g_memory_input_stream_new_from_bytes(bytes);
  WebKitURISchemeResponse* response = webkit_uri_scheme_response_new(stream, static_cast<gint64>(answer.size()));
  webkit_uri_scheme_response_set_content_type(response, "text/plain; charset=utf-8");
  SoupMessageHeaders* headers = soup_message_headers_new(SOUP_MESSAGE_HEADERS_RESPONSE);
  soup_message_headers_append(headers, "Access-Control-Allow-Origin", allowed.c_str());
  webkit_uri_scheme_response_set_http_headers(response, headers);  // takes the headers
  webkit_uri_scheme_request_finish_with_response(request, response);
  g_object_unref(response);
  g_object_unref(stream);
  g_bytes_unref(bytes);
}

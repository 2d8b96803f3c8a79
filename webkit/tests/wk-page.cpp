// The extension's test runner: one WebKitGTK view (under Xvfb) with the
// extension, loading one page that drives itself and reports through
// window.webkit.messageHandlers.nptv.postMessage(message), which answers:
//   {log: TEXT}        printed as "console: TEXT"
//   {sim: REQUEST}     sent to the simulated TV's control socket; answers its
//                      reply line ({sim: [REQUEST...]}: all on one connection,
//                      back to back; answers a JSON array of the replies)
//   {done: OK}         ends the run: exit 0 when OK is true, else 1
//   {close: true}      closes the page's view (a second, related view keeps the
//                      web process), then asks the simulated TV for its
//                      connections and prints "connections after close: JSON";
//                      exit 0 when none is open
// usage: wk-page --ext DIR --module SO [--origin O]... [--app-text N=TEXT]... [--timeout S] URL
#include <gio/gunixsocketaddress.h>
#include <webkit2/webkit2.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

namespace {

struct Run {
  GtkWidget* window = nullptr;
  GtkWidget* holder = nullptr;  // keeps the web process while the page is closed
  WebKitWebView* view = nullptr;
  int status = 2;
  GMainLoop* loop = nullptr;
};

// The simulated TV's control socket: each request line sent as it is, on one
// connection, back to back; one reply line each.
std::vector<std::string> Sim(const std::vector<std::string>& requests) {
  std::vector<std::string> replies;
  const char* path = g_getenv("QUV_SIM_SOCKET");
  GSocketClient* client = g_socket_client_new();
  GSocketAddress* address = g_unix_socket_address_new(path ? path : "");
  GError* error = nullptr;
  GSocketConnection* c =
      g_socket_client_connect(client, G_SOCKET_CONNECTABLE(address), nullptr, &error);
  if (!c) {
    std::string reply = std::string("{\"ok\":false,\"error\":") + "\"no control socket\"}";
    g_error_free(error);
    replies.assign(requests.size(), reply);
  } else {
    GOutputStream* out = g_io_stream_get_output_stream(G_IO_STREAM(c));
    std::string all;
    for (const std::string& r : requests) all += r + "\n";
    // Written by a thread of its own while the replies are read here: a long
    // batch fills the socket's buffers both ways otherwise.
    std::thread writer(
        [out, &all] { g_output_stream_write_all(out, all.data(), all.size(), nullptr, nullptr, nullptr); });
    GDataInputStream* in = g_data_input_stream_new(g_io_stream_get_input_stream(G_IO_STREAM(c)));
    for (std::size_t i = 0; i < requests.size(); ++i) {
      char* line = g_data_input_stream_read_line_utf8(in, nullptr, nullptr, nullptr);
      replies.push_back(line ? line : "{\"ok\":false,\"error\":\"no reply\"}");
      g_free(line);
    }
    writer.join();
    g_object_unref(in);
    g_object_unref(c);
  }
  g_object_unref(address);
  g_object_unref(client);
  return replies;
}

std::string Sim(const Run&, const std::string& request) {
  return Sim(std::vector<std::string>{request})[0];
}

void Finish(Run* run, int status) {
  run->status = status;
  g_main_loop_quit(run->loop);
}

gboolean CheckClosed(gpointer data) {
  auto* run = static_cast<Run*>(data);
  std::string reply = Sim(*run, "{\"cmd\":\"connections\"}");
  // Still open ones say "open":true; the page's instances must all be closed.
  bool open = reply.find("\"open\":true") != std::string::npos;
  static int tries = 0;
  if (open && ++tries < 200) return G_SOURCE_CONTINUE;  // the close is asynchronous
  std::printf("connections after close: %s\n", reply.c_str());
  std::fflush(stdout);
  Finish(run, open || reply.find("\"ok\":true") == std::string::npos ? 1 : 0);
  return G_SOURCE_REMOVE;
}

gboolean Message(WebKitUserContentManager*, JSCValue* message, WebKitScriptMessageReply* reply,
                 gpointer data) {
  auto* run = static_cast<Run*>(data);
  JSCContext* context = jsc_value_get_context(message);
  std::string answer = "null";
  auto field = [&](const char* name) -> JSCValue* {
    return jsc_value_is_object(message) && jsc_value_object_has_property(message, name)
               ? jsc_value_object_get_property(message, name)
               : nullptr;
  };
  if (JSCValue* log = field("log")) {
    char* text = jsc_value_to_string(log);
    std::printf("console: %s\n", text);
    std::fflush(stdout);
    g_free(text);
    g_object_unref(log);
  } else if (JSCValue* sim = field("sim")) {
    if (jsc_value_is_array(sim)) {  // a batch: an array of reply lines
      std::vector<std::string> requests;
      JSCValue* length = jsc_value_object_get_property(sim, "length");
      int n = jsc_value_to_int32(length);
      g_object_unref(length);
      for (int i = 0; i < n; ++i) {
        JSCValue* item = jsc_value_object_get_property_at_index(sim, static_cast<unsigned>(i));
        char* json = jsc_value_to_json(item, 0);
        requests.push_back(json ? json : "null");
        g_free(json);
        g_object_unref(item);
      }
      answer = "[";
      for (const std::string& r : Sim(requests)) answer += (answer.size() > 1 ? "," : "") + r;
      answer += "]";
    } else {
      char* request = jsc_value_to_json(sim, 0);
      answer = Sim(*run, request ? request : "null");
      g_free(request);
    }
    g_object_unref(sim);
  } else if (JSCValue* done = field("done")) {
    bool ok = jsc_value_to_boolean(done);
    g_object_unref(done);
    Finish(run, ok ? 0 : 1);
  } else if (JSCValue* close = field("close")) {
    g_object_unref(close);
    gtk_widget_destroy(GTK_WIDGET(run->view));
    run->view = nullptr;
    g_timeout_add(50, CheckClosed, run);
  }
  JSCValue* value = jsc_value_new_string(context, answer.c_str());
  webkit_script_message_reply_return_value(reply, value);
  g_object_unref(value);
  return TRUE;
}

gboolean Timeout(gpointer data) {
  std::printf("timeout: the page did not finish\n");
  Finish(static_cast<Run*>(data), 3);
  return G_SOURCE_REMOVE;
}

gboolean Crashed(WebKitWebView*, gpointer data) {
  std::printf("the web process ended unexpectedly\n");
  Finish(static_cast<Run*>(data), 4);
  return TRUE;
}

}  // namespace

int main(int argc, char** argv) {
  gtk_init(&argc, &argv);
  Run run;
  std::string ext, module, url;
  std::vector<std::string> origins, appTexts;  // app texts: N=TEXT
  int timeout = 120;
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    auto next = [&]() -> std::string { return i + 1 < argc ? argv[++i] : ""; };
    if (a == "--ext") ext = next();
    else if (a == "--module") module = next();
    else if (a == "--origin") origins.push_back(next());
    else if (a == "--app-text") appTexts.push_back(next());
    else if (a == "--timeout") timeout = std::atoi(next().c_str());
    else url = a;
  }
  if (ext.empty() || url.empty()) {
    std::fprintf(stderr, "usage: wk-page --ext DIR --module SO [--origin O]... URL\n");
    return 2;
  }
  WebKitWebContext* context = webkit_web_context_new();
  webkit_web_context_set_web_extensions_directory(context, ext.c_str());
  GVariantBuilder b;
  g_variant_builder_init(&b, G_VARIANT_TYPE("a{sv}"));
  if (!module.empty()) g_variant_builder_add(&b, "{sv}", "module", g_variant_new_string(module.c_str()));
  GVariantBuilder list;
  g_variant_builder_init(&list, G_VARIANT_TYPE("as"));
  for (const std::string& o : origins) g_variant_builder_add(&list, "s", o.c_str());
  g_variant_builder_add(&b, "{sv}", "origins", g_variant_builder_end(&list));
  if (!appTexts.empty()) {
    GVariantBuilder texts;
    g_variant_builder_init(&texts, G_VARIANT_TYPE("a{is}"));
    for (const std::string& t : appTexts) {
      std::size_t eq = t.find('=');
      if (eq == std::string::npos) continue;
      g_variant_builder_add(&texts, "{is}", std::atoi(t.substr(0, eq).c_str()), t.substr(eq + 1).c_str());
    }
    g_variant_builder_add(&b, "{sv}", "app-texts", g_variant_builder_end(&texts));
  }
  webkit_web_context_set_web_extensions_initialization_user_data(context, g_variant_builder_end(&b));

  WebKitUserContentManager* content = webkit_user_content_manager_new();
  webkit_user_content_manager_register_script_message_handler_with_reply(content, "nptv", nullptr);
  g_signal_connect(content, "script-message-with-reply-received::nptv", G_CALLBACK(Message), &run);

  auto* holder = WEBKIT_WEB_VIEW(g_object_new(WEBKIT_TYPE_WEB_VIEW, "web-context", context,
                                              "user-content-manager", content, nullptr));
  run.view = WEBKIT_WEB_VIEW(g_object_new(WEBKIT_TYPE_WEB_VIEW, "related-view", holder,
                                          "user-content-manager", content, nullptr));
  WebKitSettings* settings = webkit_web_view_get_settings(run.view);
  webkit_settings_set_allow_file_access_from_file_urls(settings, TRUE);
  g_signal_connect(run.view, "web-process-terminated", G_CALLBACK(Crashed), &run);
  run.window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
  gtk_window_set_default_size(GTK_WINDOW(run.window), 800, 600);
  GtkWidget* box = gtk_box_new(GTK_ORIENTATION_VERTICAL, 0);
  gtk_container_add(GTK_CONTAINER(run.window), box);
  gtk_box_pack_start(GTK_BOX(box), GTK_WIDGET(holder), FALSE, FALSE, 0);
  gtk_box_pack_start(GTK_BOX(box), GTK_WIDGET(run.view), TRUE, TRUE, 0);
  gtk_widget_show_all(run.window);
  webkit_web_view_load_html(holder, "<p>holder</p>", "about:blank");
  webkit_web_view_load_uri(run.view, url.c_str());

  run.loop = g_main_loop_new(nullptr, FALSE);
  g_timeout_add_seconds(timeout, Timeout, &run);
  g_main_loop_run(run.loop);
  g_main_loop_unref(run.loop);
  return run.status;
}

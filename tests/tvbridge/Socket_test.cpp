#include "Socket.h"

#define ASIO_STANDALONE
#include <gtest/gtest.h>
#include <websocketpp/client.hpp>
#include <websocketpp/config/asio_no_tls_client.hpp>

#include <algorithm>
#include <future>
#include <map>
#include <thread>

namespace tvbridge {
namespace {

// ---- The opening handshake ------------------------------------------------------------------

struct Opening {
  const char* what;
  std::string host, origin, resource;
  bool loopback;
  int status;  // 0: opens
};

TEST(SocketOpening, OnlyTheBridgesOwnPagesOnThisMachine) {
  const std::string page = "0123456789abcdef0123456789abcdef";
  const Opening rows[] = {
      {"own page", "127.0.0.1:9001", "http://127.0.0.1:9000", "/bridge/socket?page=" + page, true, 0},
      {"localhost names", "localhost:9001", "http://localhost:9000", "/bridge/socket?page=" + page, true, 0},
      {"from another machine", "127.0.0.1:9001", "http://127.0.0.1:9000", "/bridge/socket?page=" + page, false, 403},
      {"another origin", "127.0.0.1:9001", "http://evil.example", "/bridge/socket?page=" + page, true, 403},
      {"no origin", "127.0.0.1:9001", "", "/bridge/socket?page=" + page, true, 403},
      {"https origin", "127.0.0.1:9001", "https://127.0.0.1:9000", "/bridge/socket?page=" + page, true, 403},
      {"origin of the socket port", "127.0.0.1:9001", "http://127.0.0.1:9001", "/bridge/socket?page=" + page, true, 403},
      {"origin with a longer port", "127.0.0.1:9001", "http://127.0.0.1:90000", "/bridge/socket?page=" + page, true, 403},
      {"another host", "evil.example:9001", "http://127.0.0.1:9000", "/bridge/socket?page=" + page, true, 403},
      {"host of the http port", "127.0.0.1:9000", "http://127.0.0.1:9000", "/bridge/socket?page=" + page, true, 403},
      {"host without port", "127.0.0.1", "http://127.0.0.1:9000", "/bridge/socket?page=" + page, true, 403},
      {"another path", "127.0.0.1:9001", "http://127.0.0.1:9000", "/bridge/events?page=" + page, true, 404},
      {"no page", "127.0.0.1:9001", "http://127.0.0.1:9000", "/bridge/socket", true, 404},
      {"empty page", "127.0.0.1:9001", "http://127.0.0.1:9000", "/bridge/socket?page=", true, 400},
      {"page with a slash", "127.0.0.1:9001", "http://127.0.0.1:9000", "/bridge/socket?page=ab/../cd", true, 400},
      {"upper-case page", "127.0.0.1:9001", "http://127.0.0.1:9000", "/bridge/socket?page=ABCDEF", true, 400},
      {"second parameter", "127.0.0.1:9001", "http://127.0.0.1:9000", "/bridge/socket?page=ab&page=cd", true, 400},
      {"overlong page", "127.0.0.1:9001", "http://127.0.0.1:9000", "/bridge/socket?page=" + std::string(65, 'a'), true, 400},
  };
  for (const Opening& row : rows) {
    SCOPED_TRACE(row.what);
    try {
      std::string got = CheckOpening(row.host, row.origin, row.resource, row.loopback, 9000, 9001);
      EXPECT_EQ(row.status, 0) << "opened";
      EXPECT_EQ(got, page);
    } catch (const Refusal& r) {
      EXPECT_EQ(r.status, row.status) << r.reason;
      EXPECT_EQ(r.reason.find('\n'), std::string::npos);
    }
  }
}

// ---- Messages ---------------------------------------------------------------------------------

struct MessageRow {
  const char* what;
  std::string message;
  Json id;            // of the answer
  int status;
  std::string part;   // of the reason, or of the reply's dump
  bool handled;       // whether the handler ran
};

TEST(SocketMessage, EachAnswersItsRequestForItsOwnPageOnly) {
  const MessageRow rows[] = {
      {"a call", R"({"id":7,"action":"invoke","body":{"instance":1,"method":"GetCountry","args":[]}})", 7, 200,
       R"("action":"invoke")", true},
      {"another page named", R"({"id":8,"action":"get","body":{"page":"other","instance":1}})", 8, 200,
       R"("page":"mine")", true},
      {"no body", R"({"id":9,"action":"new"})", 9, 200, R"("page":"mine")", true},
      {"ping, without the handler", R"({"id":10,"action":"ping"})", 10, 200, "{}", false},
      {"refused by the bridge", R"({"id":11,"action":"destroy","body":{"instance":99}})", 11, 404, "unknown instance",
       true},
      {"a type error inside", R"({"id":12,"action":"set","body":{"instance":"x"}})", 12, 400, "bad request", true},
      {"make a page", R"({"id":13,"action":"page","body":{}})", 13, 404, "unknown request page", false},
      {"close a page", R"({"id":14,"action":"close","body":{}})", 14, 404, "unknown request close", false},
      {"unknown action", R"({"id":15,"action":"frobnicate"})", 15, 404, "frobnicate", false},
      {"action not a text", R"({"id":16,"action":3})", 16, 400, "\"action\"", false},
      {"body not an object", R"({"id":17,"action":"new","body":[1]})", 17, 400, "\"body\"", false},
      {"no id", R"({"action":"new"})", nullptr, 400, "\"id\"", false},
      {"id not a number", R"({"id":"1","action":"new"})", nullptr, 400, "\"id\"", false},
      {"not JSON", "{\"id\":1,", nullptr, 400, "not JSON", false},
      {"nested 33 deep", R"({"id":18,"action":"new","body":{"x":)" + std::string(31, '[') + std::string(31, ']') + "}}",
       nullptr, 400, "deeper than 32", false},
      {"JSON but not an object", "[1,2]", nullptr, 400, "not a JSON object", false},
      {"empty", "", nullptr, 400, "not JSON", false},
      {"bytes that are not UTF-8", "{\"id\":1,\"action\":\"\xff\"}", nullptr, 400, "not JSON", false},
  };
  for (const MessageRow& row : rows) {
    SCOPED_TRACE(row.what);
    bool handled = false;
    std::string answer = AnswerMessage(row.message, "mine", [&](const std::string& action, Json body) -> Json {
      handled = true;
      if (body.value("instance", Json()) == 99) throw Refusal{404, "unknown instance (destroyed, or never made)"};
      if (body.contains("instance") && !body["instance"].is_number()) (void)body["instance"].get<int>();
      return {{"action", action}, {"page", body["page"]}};
    });
    Json a = Json::parse(answer);
    EXPECT_EQ(a["id"], row.id);
    EXPECT_EQ(a["status"], row.status);
    EXPECT_EQ(handled, row.handled);
    const std::string text = row.status == 200 ? a["reply"].dump() : a["reason"].get<std::string>();
    EXPECT_NE(text.find(row.part), std::string::npos) << text;
  }
}

// ---- Connections still in their handshake ---------------------------------------------------

TEST(SocketPending, BoundedPerAddressAndInAllTheOldestGoes) {
  Pending p;
  std::uintptr_t id = 1;
  for (std::size_t i = 0; i < kPendingPerPeer; ++i) EXPECT_EQ(p.Admit(id++, "127.0.0.1"), 0u);
  EXPECT_EQ(p.Admit(id++, "127.0.0.1"), 1u);  // one more from that address: its oldest goes
  EXPECT_EQ(p.Admit(id++, "127.0.0.1"), 2u);
  p.Done(5);
  EXPECT_EQ(p.Admit(id++, "127.0.0.1"), 0u);  // one finished: room again
  for (int peer = 2; p.size() < kPending; ++peer) EXPECT_EQ(p.Admit(id++, "127.0.0." + std::to_string(peer)), 0u);
  EXPECT_EQ(p.Admit(id++, "127.0.0.99"), 3u);  // one more in all: the oldest of all goes
  EXPECT_EQ(p.size(), kPending);
}

// ---- The host loop's bounded runs ---------------------------------------------------------------

TEST(HostLoopRunFor, AnswersInTimeOrLetsTheWorkFinishAlone) {
  HostLoop loop;
  std::thread host([&] { loop.Loop(); });
  int value = 0;
  EXPECT_TRUE(loop.RunFor([&] { value = 1; }, std::chrono::seconds(60)));
  EXPECT_EQ(value, 1);
  EXPECT_THROW(loop.RunFor([] { throw Refusal{404, "x"}; }, std::chrono::seconds(60)), Refusal);

  // Work that cannot end before the caller gave up on it: still runs, later.
  std::promise<void> release;
  std::shared_future<void> released = release.get_future().share();
  auto ran = std::make_shared<std::promise<void>>();
  std::future<void> finished = ran->get_future();
  EXPECT_FALSE(loop.RunFor([released, ran] { released.wait(); ran->set_value(); }, std::chrono::milliseconds(1)));
  release.set_value();
  finished.wait();
  EXPECT_TRUE(loop.RunFor([] {}, std::chrono::seconds(60)));  // the loop goes on

  loop.Stop();
  host.join();
  EXPECT_THROW(loop.RunFor([] {}, std::chrono::seconds(1)), Refusal);
}

// ---- The server, with a client ------------------------------------------------------------------

using Client = websocketpp::client<websocketpp::config::asio_client>;

struct Exchange {
  bool opened = false;
  int status = 0;  // of a refused opening
  std::vector<std::string> answers;
};

// Opens ws://127.0.0.1:PORT/bridge/socket?page=PAGE with `origin`, sends
// `messages` once open, and collects what comes until it has an answer to
// each and `events` more.
Exchange Talk(int port, const std::string& page, const std::string& origin, std::vector<std::string> messages,
              std::size_t events = 0) {
  Exchange out;
  Client client;
  client.clear_access_channels(websocketpp::log::alevel::all);
  client.clear_error_channels(websocketpp::log::elevel::all);
  client.init_asio();
  client.set_open_handler([&](websocketpp::connection_hdl hdl) {
    out.opened = true;
    for (const std::string& m : messages) client.send(hdl, m, websocketpp::frame::opcode::text);
    if (messages.empty()) client.close(hdl, websocketpp::close::status::normal, "");
  });
  client.set_message_handler([&](websocketpp::connection_hdl hdl, Client::message_ptr msg) {
    out.answers.push_back(msg->get_payload());
    if (out.answers.size() == messages.size() + events) client.close(hdl, websocketpp::close::status::normal, "");
  });
  client.set_fail_handler([&](websocketpp::connection_hdl hdl) {
    out.status = client.get_con_from_hdl(hdl)->get_response_code();
  });
  websocketpp::lib::error_code ec;
  Client::connection_ptr con =
      client.get_connection("ws://127.0.0.1:" + std::to_string(port) + "/bridge/socket?page=" + page, ec);
  if (ec) return out;
  if (!origin.empty()) con->replace_header("Origin", origin);
  client.connect(con);
  client.run();
  return out;
}

TEST(SocketServer, OpensForKnownPagesAndCarriesTheirEvents) {
  std::map<std::string, std::shared_ptr<Channel>> channels = {{"abc1", std::make_shared<Channel>()},
                                                              {"abc2", std::make_shared<Channel>()}};
  std::vector<std::string> gone;
  SocketServer server(
      [](const std::string& action, const Json& body) -> Json { return {{"action", action}, {"page", body["page"]}}; },
      [&](const std::string& page) { return channels.count(page) ? channels[page] : nullptr; },
      [&](const std::string& page) { gone.push_back(page); });
  std::string error;
  const int port = server.Listen(9000, &error);
  ASSERT_GT(port, 0) << error;
  server.Start();
  const std::string origin = "http://127.0.0.1:9000";

  channels["abc1"]->Push(R"({"kind":"work"})");  // waiting before the socket opens
  Exchange ok = Talk(port, "abc1", origin,
                     {R"({"id":1,"action":"new","body":{"page":"abc2"}})", R"({"id":2,"action":"ping"})", "nonsense"}, 1);
  ASSERT_TRUE(ok.opened);
  ASSERT_EQ(ok.answers.size(), 4u);
  auto event = std::find(ok.answers.begin(), ok.answers.end(), R"({"kind":"work"})");
  ASSERT_NE(event, ok.answers.end());
  ok.answers.erase(event);
  EXPECT_EQ(Json::parse(ok.answers[0])["reply"], (Json{{"action", "new"}, {"page", "abc1"}}));
  EXPECT_EQ(Json::parse(ok.answers[1])["id"], 2);
  EXPECT_EQ(Json::parse(ok.answers[2])["status"], 400);

  struct Row {
    const char* what;
    std::string page, origin;
    int status;
  };
  const Row refused[] = {
      {"unknown page", "abc3", origin, 404},
      {"another origin", "abc2", "http://evil.example", 403},
      {"no origin", "abc2", "", 403},
  };
  for (const Row& row : refused) {
    SCOPED_TRACE(row.what);
    Exchange r = Talk(port, row.page, row.origin, {});
    EXPECT_FALSE(r.opened);
    EXPECT_EQ(r.status, row.status);
  }
  // The socket closed: the bridge is told its page is gone; a page has one
  // socket or event stream, ever.
  EXPECT_EQ(Talk(port, "abc1", origin, {}).status, 409);
  server.Stop();
  EXPECT_EQ(gone, std::vector<std::string>{"abc1"});
}

}  // namespace
}  // namespace tvbridge

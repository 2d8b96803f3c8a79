// A simulated TV that answers from a recorded trace (QUV_SIM_REPLAY): a
// command gets the reply recorded for the same command and parameters (in
// recorded order when it was repeated, the last one again after that); the
// model still sees every command (subscriptions, settings), and answers those
// the trace never saw, which are reported by name. The
// recorded events are raised again with their recorded spacing, divided by
// QUV_SIM_REPLAY_SPEED (0: as fast as possible; none: not raised), to the
// connection of the same number.
#ifndef QUV_SRC_SIM_REPLAY_H
#define QUV_SRC_SIM_REPLAY_H

#include <condition_variable>
#include <deque>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "../Internal.h"
#include "TraceFile.h"

namespace quvimpl {

class Replay {
 public:
  // Throws TraceError when the trace cannot be read.
  Replay(Framework& framework, const std::string& path, double speed);
  ~Replay();
  Replay(const Replay&) = delete;
  Replay& operator=(const Replay&) = delete;
  // The recorded reply, or nothing: the model answers.
  std::optional<std::string> Answer(const Texts& texts);

  // Builds the replay the environment asks for (QUV_SIM_REPLAY,
  // QUV_SIM_REPLAY_SPEED; else the "replay" object of the QUV_SIM_CONFIG
  // file); null when none, or when the trace cannot be read (then one log
  // line says why).
  static std::unique_ptr<Replay> FromEnvironment(Framework& framework);

 private:
  struct Event {
    std::int64_t at;   // microseconds after the first command, as recorded
    unsigned conn;
    int type;
    std::string p1, p2;
    std::int64_t due = 0;  // ... as replayed: at / speed (0: as fast as possible)
  };
  void Run();
  static constexpr std::size_t kPlanShown = 16;  // event times the log line gives

  Framework& framework_;
  std::mutex m_;
  std::map<std::vector<std::string>, std::deque<std::string>> replies_;
  std::set<std::string> unseen_;
  std::vector<Event> events_;
  double speed_;
  std::condition_variable cv_;
  bool stop_ = false, started_ = false;
  std::thread thread_;
};

}  // namespace quvimpl

#endif

// The simulated TV as the library's backend: answers commands from the TV
// model, lets the model raise its events through the framework thread, and
// reads the configuration file named by QUV_SIM_CONFIG.
#ifndef QUV_SRC_SIM_SIMULATOR_H
#define QUV_SRC_SIM_SIMULATOR_H

#include "../Internal.h"
#include "TvModel.h"

namespace quvimpl {

class Simulator : public Backend, public Ticker {
 public:
  explicit Simulator(Framework& framework);
  ~Simulator() override;
  std::string Answer(unsigned connection, const Texts& texts) override;
  std::optional<SteadyTime> Tick() override;
  // The default state with the configuration file applied.
  void Reset();
  nlohmann::json State() { return model_.StateJson(); }
  std::string Set(const std::string& key, const nlohmann::json& value);
  void Forget(unsigned connection) { model_.Forget(connection); }

  // Reads a configuration file into `state`; every problem is one log line.
  static void LoadConfigFile(const std::string& path, TvState& state);

 private:
  Framework& framework_;
  TvModel model_;
};

}  // namespace quvimpl

#endif

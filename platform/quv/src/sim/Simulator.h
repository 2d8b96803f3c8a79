// The simulated TV: the backend that answers commands from a TV model and
// raises the TV's events on the framework thread.
#ifndef QUV_SRC_SIM_SIMULATOR_H
#define QUV_SRC_SIM_SIMULATOR_H

#include "../Internal.h"

namespace quvimpl {

class Simulator : public Backend, public Ticker {
 public:
  explicit Simulator(Framework& framework);
  ~Simulator() override;
  std::string Answer(unsigned connection, const Texts& texts) override;
  std::optional<SteadyTime> Tick() override;
  void Reset();

 private:
  Framework& framework_;
};

}  // namespace quvimpl

#endif

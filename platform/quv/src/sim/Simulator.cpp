#include "Simulator.h"

namespace quvimpl {

Simulator::Simulator(Framework& framework) : framework_(framework) {}
Simulator::~Simulator() = default;
std::string Simulator::Answer(unsigned, const Texts&) { return "E"; }
std::optional<SteadyTime> Simulator::Tick() { return std::nullopt; }
void Simulator::Reset() {}

}  // namespace quvimpl

#include "Simulator.h"

#include "BoundedJson.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

namespace quvimpl {

Simulator::Simulator(Framework& framework)
    : framework_(framework),
      model_(
          [&framework](const std::vector<unsigned>& to, int kind, const std::string& value) {
            framework.Raise(0, std::to_string(kind), value, &to);
          },
          [&framework](unsigned id) { return framework.IsOpen(id); }) {
  Reset();
}

Simulator::~Simulator() = default;

std::string Simulator::Answer(unsigned connection, const Texts& texts) {
  std::string reply = model_.Answer(connection, texts);
  if (!texts.empty() && texts[0].rfind("Set", 0) == 0) framework_.Wake();
  return reply;
}

std::optional<SteadyTime> Simulator::Tick() { return model_.Tick(); }

std::string Simulator::Set(const std::string& key, const nlohmann::json& value) {
  std::string error = model_.Set(key, value);
  framework_.Wake();
  return error;
}

void Simulator::Reset() {
  TvState state = TvModel::Defaults();
  const char* path = std::getenv("QUV_SIM_CONFIG");
  if (path && *path) LoadConfigFile(path, state);
  model_.Load(state);
  framework_.Wake();
}

void Simulator::LoadConfigFile(const std::string& path, TvState& state) {
  const std::string where = "simulated TV configuration " + path;
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    Complain(where + ": cannot be read (" + std::strerror(errno) + "); the default state is used");
    return;
  }
  std::stringstream ss;
  ss << in.rdbuf();
  std::string why;
  nlohmann::json config = nptvjson::Parse(ss.str(), &why);
  if (config.is_discarded()) {
    Complain(where + ": " + why + "; the default state is used");
    return;
  }
  TvModel::ApplyConfig(state, config, [&](const std::string& problem) {
    Complain(where + ": at " + problem);
  });
}

}  // namespace quvimpl

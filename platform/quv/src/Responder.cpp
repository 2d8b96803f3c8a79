// Forced replies, delays and the journal.
#include "Internal.h"

namespace quvimpl {

void Responder::SetReply(const std::string& command, const std::string& reply, int times) {
  std::lock_guard<std::mutex> lk(m_);
  if (times == 0)
    forced_.erase(command);
  else
    forced_[command] = {reply, times};
}

void Responder::SetDelay(const std::string& command, int ms) {
  std::lock_guard<std::mutex> lk(m_);
  if (ms <= 0)
    delays_.erase(command);
  else
    delays_[command] = ms;
}

void Responder::Clear() {
  std::lock_guard<std::mutex> lk(m_);
  forced_.clear();
  delays_.clear();
}

std::optional<std::string> Responder::TakeForced(const std::string& command, int* delayMs) {
  std::lock_guard<std::mutex> lk(m_);
  auto d = delays_.find(command);
  *delayMs = d == delays_.end() ? 0 : d->second;
  auto it = forced_.find(command);
  if (it == forced_.end()) return std::nullopt;
  std::string reply = it->second.reply;
  if (it->second.times > 0 && --it->second.times == 0) forced_.erase(it);
  return reply;
}

std::vector<Responder::ForcedInfo> Responder::Forced() {
  std::lock_guard<std::mutex> lk(m_);
  std::vector<ForcedInfo> out;
  for (const auto& [cmd, f] : forced_) out.push_back({cmd, f.reply, f.times});
  return out;
}

std::map<std::string, int> Responder::Delays() {
  std::lock_guard<std::mutex> lk(m_);
  return delays_;
}

void Journal::Add(unsigned connection, const Texts& texts) {
  std::lock_guard<std::mutex> lk(m_);
  entries_.push_back({connection, texts});
}

std::vector<quvstub::JournalEntry> Journal::All() {
  std::lock_guard<std::mutex> lk(m_);
  return entries_;
}

void Journal::Clear() {
  std::lock_guard<std::mutex> lk(m_);
  entries_.clear();
}

}  // namespace quvimpl

// Forced replies, delays and the journal.
#include <cstdlib>
#include <cstring>

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
  *delayMs = 0;
  if (!delays_.empty()) {
    auto d = delays_.find(command);
    if (d != delays_.end()) *delayMs = d->second;
  }
  if (forced_.empty()) return std::nullopt;
  auto it = forced_.find(command);
  if (it == forced_.end()) return std::nullopt;
  if (it->second.times > 0 && --it->second.times == 0) {
    std::string reply = std::move(it->second.reply);
    forced_.erase(it);
    return reply;
  }
  return it->second.reply;
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

namespace {
bool JournalWanted() {
  const char* setting = std::getenv("QUV_JOURNAL");
  return !setting || std::strcmp(setting, "0") != 0;
}
}  // namespace

Journal::Journal() : on_(JournalWanted()) {
  const char* file = std::getenv("QUV_JOURNAL_FILE");
  if (file && *file) file_ = std::fopen(file, "w");
}

void Journal::Replied(unsigned connection, const Texts& texts, const std::string& reply) {
  if (!file_) return;
  std::string line = std::to_string(connection);
  auto hex = [&line](const std::string& bytes) {
    line += ' ';
    for (unsigned char c : bytes) AppendHex(line, c);
  };
  for (const std::string& t : texts) hex(t);
  line += " =";
  hex(reply);
  line += '\n';
  std::lock_guard<std::mutex> lk(m_);
  std::fwrite(line.data(), 1, line.size(), file_);
  std::fflush(file_);
}

void Journal::Record(unsigned connection, const Texts& texts) {
  std::lock_guard<std::mutex> lk(m_);
  if (slots_.size() < kCapacity && next_ == slots_.size()) slots_.emplace_back();
  quvstub::JournalEntry& slot = slots_[next_];
  slot.connection = connection;
  slot.texts.resize(texts.size());
  for (std::size_t i = 0; i < texts.size(); ++i) slot.texts[i] = texts[i];  // reuses storage
  if (++next_ == kCapacity) next_ = 0;
  if (count_ < kCapacity) ++count_;
}

std::vector<quvstub::JournalEntry> Journal::All() {
  std::lock_guard<std::mutex> lk(m_);
  std::vector<quvstub::JournalEntry> out;
  out.reserve(count_);
  const std::size_t first = (next_ + kCapacity - count_) % kCapacity;
  for (std::size_t i = 0; i < count_; ++i) out.push_back(slots_[(first + i) % kCapacity]);
  return out;
}

void Journal::Clear() {
  std::lock_guard<std::mutex> lk(m_);
  next_ = 0;
  count_ = 0;
}

}  // namespace quvimpl

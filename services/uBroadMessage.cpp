#include "services/uBroadMessage.h"

#include <mutex>

#include "platform/Clock.h"
#include "platform/LineText.h"
#include "platform/Locks.h"
#include "platform/Text.h"
#include "platform/Wakeup.h"

namespace kelvor {

namespace {
// Lines posted to any channel so far; guarded by ChannelLock, which every
// channel shares, so the numbers follow the order of posting.
uint64_t PostedLineCount = 0;
}  // namespace

void TBroadMessage::Post(std::string_view Line) {
  if (TrimText(Line).empty()) return;
  // Taken apart into lines again by the window and by kelvord: a task name
  // holding a line break must not make a line of its own. Escaped before the
  // lock, so the locked section is one append.
  std::string line = EscapeLineText(Line);
  std::lock_guard<std::mutex> lock(ChannelLock);
  Lines.push_back(std::move(line));
  LineNumbers.push_back(++PostedLineCount);
}

void TBroadMessage::TakeText(std::string& Text) {
  std::vector<std::string> taken;
  {
    std::lock_guard<std::mutex> lock(ChannelLock);
    taken.swap(Lines);
    LineNumbers.clear();
  }
  // Joined outside the lock: posting threads never wait for the copy.
  Text.clear();
  for (const auto& line : taken) {
    Text += line;
    Text += "\r\n";
  }
}

std::string TBroadMessage::TakeText() {
  std::string text;
  TakeText(text);
  return text;
}

std::vector<TPostedLine> TBroadMessage::TakeLines() {
  std::vector<std::string> lines;
  std::vector<uint64_t> numbers;
  {
    std::lock_guard<std::mutex> lock(ChannelLock);
    lines.swap(Lines);
    numbers.swap(LineNumbers);
  }
  std::vector<TPostedLine> taken(lines.size());
  for (size_t i = 0; i < lines.size(); ++i)
    taken[i] = {numbers[i], std::move(lines[i])};
  return taken;
}

bool TBroadMessage::HasLines() const {
  std::lock_guard<std::mutex> lock(ChannelLock);
  return !Lines.empty();
}

int32_t TBroadMessage::GetRunState() const {
  std::lock_guard<std::mutex> lock(ChannelLock);
  return RunState;
}

void TBroadMessage::MarkStarted() {
  std::string now = FormatHHMM(Clock::Now());
  std::lock_guard<std::mutex> lock(ChannelLock);
  RunState = 1;
  StartedAt = std::move(now);
}

void TBroadMessage::MarkStopped() {
  std::string now = FormatHHMM(Clock::Now());
  std::lock_guard<std::mutex> lock(ChannelLock);
  RunState = 0;
  StoppedAt = std::move(now);
}

std::string TBroadMessage::GetStartedAt() const {
  std::lock_guard<std::mutex> lock(ChannelLock);
  return StartedAt;
}

std::string TBroadMessage::GetStoppedAt() const {
  std::lock_guard<std::mutex> lock(ChannelLock);
  return StoppedAt;
}

void TBroadMessage::ResetRequests() {
  std::lock_guard<std::mutex> lock(ChannelLock);
  RunState = 0;
  StartRequested = false;
  StopAllRequested = false;
}

void TBroadMessage::RequestStart() {
  {
    std::lock_guard<std::mutex> lock(ChannelLock);
    StartRequested = true;
    // Still under ChannelLock, so the manager cannot clear the pending flag
    // between the request and its notice.
    if (Handler) Handler->SetRequestPending();
  }
  // The service manager answers at once instead of at its next poll.
  ProcessWakeup().Notify();
}

bool TBroadMessage::IsStartRequested() const {
  std::lock_guard<std::mutex> lock(ChannelLock);
  return StartRequested;
}

void TBroadMessage::RequestStopAll() {
  {
    std::lock_guard<std::mutex> lock(ChannelLock);
    StopAllRequested = true;
  }
  ProcessWakeup().Notify();
}

bool TBroadMessage::IsStopAllRequested() const {
  std::lock_guard<std::mutex> lock(ChannelLock);
  return StopAllRequested;
}

std::string TBroadMessage::GetMissionName() const {
  std::lock_guard<std::mutex> lock(ChannelLock);
  return MissionName;
}

void TBroadMessage::SetMissionName(std::string_view Name) {
  std::string name(Name);
  std::lock_guard<std::mutex> lock(ChannelLock);
  MissionName = std::move(name);
}

TBroadMessageHandler::~TBroadMessageHandler() {
  // Front to back, as the entries were registered.
  for (auto& entry : Channels)
    entry.second.reset();
}

TBroadMessage* TBroadMessageHandler::Register(std::string_view Key,
                                              std::unique_ptr<TBroadMessage> Channel) {
  if (!Channel) return nullptr;
  TBroadMessage* channel = Channel.get();
  {
    // Taken apart from HandlerLock (never inside it) to keep the lock order.
    std::lock_guard<std::mutex> lock(ChannelLock);
    channel->Handler = this;
  }
  std::string folded = LowerCase(Key);
  std::lock_guard<std::mutex> lock(HandlerLock);
  Channels.emplace_back(std::string(Key), std::move(Channel));
  KeyIndex[std::move(folded)] = Channels.size() - 1;
  return channel;
}

TBroadMessage* TBroadMessageHandler::Find(std::string_view Key) const {
  std::string folded = LowerCase(Key);
  std::lock_guard<std::mutex> lock(HandlerLock);
  auto it = KeyIndex.find(folded);
  return it == KeyIndex.end() ? nullptr : Channels[it->second].second.get();
}

TBroadMessage* TBroadMessageHandler::GetChannel(int Index) const {
  std::lock_guard<std::mutex> lock(HandlerLock);
  if (Index < 0 || static_cast<size_t>(Index) >= Channels.size()) return nullptr;
  return Channels[static_cast<size_t>(Index)].second.get();
}

int TBroadMessageHandler::Count() const {
  std::lock_guard<std::mutex> lock(HandlerLock);
  return static_cast<int>(Channels.size());
}

void TBroadMessageHandler::SetRequestPending() {
  std::lock_guard<std::mutex> lock(HandlerLock);
  RequestPending = true;
}

bool TBroadMessageHandler::IsRequestPending() const {
  std::lock_guard<std::mutex> lock(HandlerLock);
  return RequestPending;
}

void TBroadMessageHandler::ClearRequestPending() {
  std::lock_guard<std::mutex> lock(HandlerLock);
  RequestPending = false;
}

TBroadMessageHandler* GetBroadMessageHandler() {
  // Initialised once even under concurrent first calls; deliberately never
  // freed, so threads still posting while the process exits never touch
  // freed channels.
  static TBroadMessageHandler* const registry = new TBroadMessageHandler;
  return registry;
}

}  // namespace kelvor

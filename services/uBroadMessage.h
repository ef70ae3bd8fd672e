// Message channels from the worker threads to the window, and their registry.
//
// A TBroadMessage holds the text lines a task's daemon and executor post for
// the operator, plus the run-state flags the window reads and the requests it
// places for the service manager. TBroadMessageHandler maps keys (a task name,
// or ServiceChannelId for the service as a whole) to channels so that every
// thread finds the same object.
//
// Ownership: the registry owns every channel registered in it; channels are
// never unregistered, and the process-wide registry (GetBroadMessageHandler)
// is never destroyed, so a channel pointer obtained from it stays valid for the
// whole life of the process.
// Threads and locks: every operation may be called from any thread. All
// channel state is guarded by the one process-wide ChannelLock, the
// registry's entries and RequestPending by HandlerLock. The only nesting is
// RequestStart: ChannelLock, then HandlerLock; never the other way round.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

namespace kelvor {

// Key of the service channel.
inline constexpr std::string_view ServiceChannelId = "{ECB4DDA5-95C6-49C3-8F5F-D0F50265CA78}";

class TBroadMessageHandler;

// A pending line with its place among every line posted to any channel of
// the process, so that lines taken from several channels can be put back in
// the order they were posted.
struct TPostedLine {
  uint64_t Number = 0;
  std::string Text;
};

class TBroadMessage {
 public:
  TBroadMessage() = default;
  TBroadMessage(const TBroadMessage&) = delete;
  TBroadMessage& operator=(const TBroadMessage&) = delete;

  // Appends Line with its control characters escaped (EscapeLineText), so
  // that it stays one line; a Line holding nothing but blanks and control
  // characters is dropped.
  void Post(std::string_view Line);
  // All pending lines, each followed by CR LF, oldest first; empties the
  // channel. Empty when nothing is pending.
  void TakeText(std::string& Text);
  std::string TakeText();
  // All pending lines, oldest first, with their numbers; empties the channel.
  std::vector<TPostedLine> TakeLines();
  bool HasLines() const;

  // 0: the task's daemon is not running, 1: it is.
  int32_t GetRunState() const;
  // RunState 1 and StartedAt the current "HH:MM".
  void MarkStarted();
  // RunState 0 and StoppedAt the current "HH:MM".
  void MarkStopped();
  std::string GetStartedAt() const;
  std::string GetStoppedAt() const;

  // RunState 0 and both requests cleared.
  void ResetRequests();
  // Sets StartRequested and tells the registry the channel is registered in
  // (if any) that a request is pending. Both requests notify the process
  // wakeup (platform/Wakeup.h), so a pausing service manager acts at once.
  void RequestStart();
  bool IsStartRequested() const;
  void RequestStopAll();
  bool IsStopAllRequested() const;

  // The task the channel belongs to; empty for the service channel.
  std::string GetMissionName() const;
  void SetMissionName(std::string_view Name);

 private:
  friend class TBroadMessageHandler;

  // All guarded by ChannelLock.
  std::string MissionName;
  int32_t RunState = 0;
  std::vector<std::string> Lines;
  std::vector<uint64_t> LineNumbers;  // one per entry of Lines
  bool StartRequested = false;
  TBroadMessageHandler* Handler = nullptr;  // not owned; set by Register
  bool StopAllRequested = false;
  std::string StartedAt;
  std::string StoppedAt;
};

class TBroadMessageHandler {
 public:
  TBroadMessageHandler() = default;
  ~TBroadMessageHandler();
  TBroadMessageHandler(const TBroadMessageHandler&) = delete;
  TBroadMessageHandler& operator=(const TBroadMessageHandler&) = delete;

  // Takes Channel and adds an entry Key for it; a key already present gets a
  // further entry (no duplicate check). Returns the channel.
  TBroadMessage* Register(std::string_view Key, std::unique_ptr<TBroadMessage> Channel);
  // The channel registered last under Key (ASCII letter case ignored), or
  // nullptr.
  TBroadMessage* Find(std::string_view Key) const;
  // The channel of entry Index in order of registration, or nullptr when
  // Index is out of range.
  TBroadMessage* GetChannel(int Index) const;
  int Count() const;

  void SetRequestPending();
  bool IsRequestPending() const;
  void ClearRequestPending();

 private:
  // All guarded by HandlerLock.
  std::vector<std::pair<std::string, std::unique_ptr<TBroadMessage>>> Channels;
  // Lower-cased key -> index in Channels of its latest registration.
  std::unordered_map<std::string, size_t> KeyIndex;
  bool RequestPending = false;
};

// The process-wide registry: created on the first call (also when several
// threads make it at once) and never destroyed.
TBroadMessageHandler* GetBroadMessageHandler();

}  // namespace kelvor

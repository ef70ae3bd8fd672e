#include "services/uQueuedWriter.h"

#include <cstdio>
#include <filesystem>
#include <system_error>

#include "services/uBroadMessage.h"

namespace kelvor {

namespace {

void DefaultWriteFailureHandler(const std::string& Text) {
  std::fprintf(stderr, "%s\n", Text.c_str());
  std::fflush(stderr);
  // The window shows the service channel in its console.
  if (TBroadMessage* channel = GetBroadMessageHandler()->Find(ServiceChannelId))
    channel->Post(Text);
}

// Guards FailureHandler only; never held while the handler runs.
std::mutex& FailureHandlerLock() {
  static std::mutex* const lock = new std::mutex;  // writers may fail while the process exits
  return *lock;
}

TWriteFailureHandler& FailureHandler() {
  static TWriteFailureHandler* const handler = new TWriteFailureHandler;
  return *handler;
}

std::string AbsolutePath(const std::string& Path) {
  std::error_code ec;
  const std::filesystem::path absolute = std::filesystem::absolute(Path, ec);
  return ec ? Path : absolute.lexically_normal().string();
}

}  // namespace

void SetWriteFailureHandler(TWriteFailureHandler Handler) {
  std::lock_guard<std::mutex> lock(FailureHandlerLock());
  FailureHandler() = std::move(Handler);
}

void SayWriteFailure(std::string_view Kind, const std::string& Path, int Error) {
  std::string text = "cannot write the " + std::string(Kind) + " file " + AbsolutePath(Path);
  if (Error != 0) text += ": " + std::generic_category().message(Error);
  text += "; its lines are lost until it can be written again";
  TWriteFailureHandler handler;
  {
    std::lock_guard<std::mutex> lock(FailureHandlerLock());
    handler = FailureHandler();
  }
  if (handler)
    handler(text);
  else
    DefaultWriteFailureHandler(text);
}

}  // namespace kelvor

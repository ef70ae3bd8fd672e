#include "platform/Locks.h"

namespace kelvor {

constinit std::mutex ChannelLock;
constinit std::mutex HandlerLock;
constinit std::mutex InstanceLock;
constinit std::mutex CatalogueLock;
constinit std::mutex LogWriteLock;
constinit std::mutex LogQueueLock;
constinit std::mutex ReportWriteLock;
constinit std::mutex ReportQueueLock;

}  // namespace kelvor

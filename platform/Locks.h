// The process-wide locks, under the names the rest of the program uses.
// Each is constant-initialised, so it exists before any other static object
// and outlives them all. What each one guards is stated where it is used:
//   ChannelLock     every message channel's state           (services/uBroadMessage)
//   HandlerLock     the channel registry                     (services/uBroadMessage)
//   InstanceLock    a task's stop and success flags          (tasks/uInstance)
//   CatalogueLock   the catalogue's count and item access    (tasks/uInstanceCollections)
//   LogWriteLock, LogQueueLock        the log queue          (services/uLogService)
//   ReportWriteLock, ReportQueueLock  the report queue       (services/uReportService)
// Lock order where two are held: ChannelLock before HandlerLock,
// LogWriteLock before LogQueueLock, ReportWriteLock before ReportQueueLock.
#pragma once

#include <mutex>

namespace kelvor {

extern std::mutex ChannelLock;
extern std::mutex HandlerLock;
extern std::mutex InstanceLock;
extern std::mutex CatalogueLock;
extern std::mutex LogWriteLock;
extern std::mutex LogQueueLock;
extern std::mutex ReportWriteLock;
extern std::mutex ReportQueueLock;

}  // namespace kelvor

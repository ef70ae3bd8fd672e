#include <gtest/gtest.h>

#include <memory>

#include "services/uBroadMessage.h"
#include "support/TestSupport.h"

namespace kelvor {
namespace {

TEST(BroadMessageTest, PostKeepsLinesWithTextAndTakeTextEmptiesTheChannel) {
  TBroadMessage channel;
  for (const char* blank : {"", " \t  ", "\r\n"})
    channel.Post(blank);
  EXPECT_FALSE(channel.HasLines());
  channel.Post("  spaced out\t");
  channel.Post("开始连接目标和源数据库....");
  EXPECT_TRUE(channel.HasLines());
  std::string text = "stale";
  channel.TakeText(text);
  EXPECT_EQ(text, "  spaced out\t\r\n开始连接目标和源数据库....\r\n");
  EXPECT_FALSE(channel.HasLines());
  EXPECT_EQ(channel.TakeText(), "");
}

TEST(BroadMessageTest, RunStateTimesAndRequests) {
  test::FixedClock clock(test::At(2026, 12, 7, 9, 5, 59));
  TBroadMessageHandler registry;
  registry.Register("t0", std::make_unique<TBroadMessage>());
  TBroadMessage* channel = registry.Register("t1", std::make_unique<TBroadMessage>());
  channel->MarkStarted();
  EXPECT_EQ(channel->GetRunState(), 1);
  EXPECT_EQ(channel->GetStartedAt(), "09:05");
  clock.Set(test::At(2026, 12, 7, 17, 30, 0));
  channel->MarkStopped();
  EXPECT_EQ(channel->GetRunState(), 0);
  EXPECT_EQ(channel->GetStoppedAt(), "17:30");

  // A start request marks the registry; clearing it leaves the channel's own request.
  EXPECT_FALSE(registry.IsRequestPending());
  channel->RequestStart();
  EXPECT_TRUE(registry.IsRequestPending());
  registry.ClearRequestPending();
  EXPECT_FALSE(registry.IsRequestPending());
  EXPECT_TRUE(channel->IsStartRequested());
  // ResetRequests clears the run state and both requests.
  channel->MarkStarted();
  channel->RequestStopAll();
  channel->ResetRequests();
  EXPECT_EQ(channel->GetRunState(), 0);
  EXPECT_FALSE(channel->IsStartRequested());
  EXPECT_FALSE(channel->IsStopAllRequested());
  // A channel in no registry only records the request.
  TBroadMessage loose;
  loose.RequestStart();
  EXPECT_TRUE(loose.IsStartRequested());
  EXPECT_FALSE(registry.IsRequestPending());
}

TEST(BroadMessageTest, FindIgnoresCaseAndYieldsTheLatestRegistration) {
  TBroadMessageHandler registry;
  TBroadMessage* service1 = registry.Register(ServiceChannelId, std::make_unique<TBroadMessage>());
  TBroadMessage* task = registry.Register("Orders-Nightly", std::make_unique<TBroadMessage>());
  TBroadMessage* service2 = registry.Register(ServiceChannelId, std::make_unique<TBroadMessage>());

  EXPECT_EQ(registry.Find("orders-nightly"), task);
  EXPECT_EQ(registry.Find("ORDERS-NIGHTLY"), task);
  EXPECT_EQ(registry.Find("{ecb4dda5-95c6-49c3-8f5f-d0f50265ca78}"), service2);
  EXPECT_EQ(registry.Find("never registered"), nullptr);
  EXPECT_EQ(registry.Find(""), nullptr);

  ASSERT_EQ(registry.Count(), 3);
  EXPECT_EQ(registry.GetChannel(0), service1);
  EXPECT_EQ(registry.GetChannel(1), task);
  EXPECT_EQ(registry.GetChannel(2), service2);
  EXPECT_EQ(registry.GetChannel(-1), nullptr);
  EXPECT_EQ(registry.GetChannel(registry.Count()), nullptr);
}

}  // namespace
}  // namespace kelvor

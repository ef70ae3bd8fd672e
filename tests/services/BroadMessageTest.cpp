#include <gtest/gtest.h>

#include <memory>

#include "services/uBroadMessage.h"
#include "support/TestSupport.h"

namespace kelvor {
namespace {

TEST(BroadMessageTest, PostKeepsLinesWithTextAndDropsBlankOnes) {
  TBroadMessage channel;
  channel.Post("");
  channel.Post(" \t  ");
  channel.Post("\r\n");
  EXPECT_FALSE(channel.HasLines());
  EXPECT_EQ(channel.TakeText(), "");

  channel.Post("  spaced out\t");
  channel.Post("开始连接目标和源数据库....");
  EXPECT_TRUE(channel.HasLines());
  EXPECT_EQ(channel.TakeText(), "  spaced out\t\r\n开始连接目标和源数据库....\r\n");
}

TEST(BroadMessageTest, TakeTextEmptiesTheChannel) {
  TBroadMessage channel;
  std::string text = "stale";
  channel.TakeText(text);
  EXPECT_EQ(text, "");
  EXPECT_FALSE(channel.HasLines());

  channel.Post("a");
  channel.Post("b");
  channel.TakeText(text);
  EXPECT_EQ(text, "a\r\nb\r\n");
  EXPECT_FALSE(channel.HasLines());
  EXPECT_EQ(channel.TakeText(), "");
}

TEST(BroadMessageTest, RunStateAndTimes) {
  test::FixedClock clock(test::At(2026, 12, 7, 9, 5, 59));
  TBroadMessage channel;
  EXPECT_EQ(channel.GetRunState(), 0);
  EXPECT_EQ(channel.GetStartedAt(), "");
  channel.MarkStarted();
  EXPECT_EQ(channel.GetRunState(), 1);
  EXPECT_EQ(channel.GetStartedAt(), "09:05");
  clock.Set(test::At(2026, 12, 7, 17, 30, 0));
  channel.MarkStopped();
  EXPECT_EQ(channel.GetRunState(), 0);
  EXPECT_EQ(channel.GetStoppedAt(), "17:30");
  EXPECT_EQ(channel.GetStartedAt(), "09:05");
}

TEST(BroadMessageTest, ResetRequestsClearsRunStateAndBothRequests) {
  TBroadMessageHandler registry;
  TBroadMessage* channel = registry.Register("t1", std::make_unique<TBroadMessage>());
  channel->MarkStarted();
  channel->RequestStart();
  channel->RequestStopAll();
  EXPECT_TRUE(channel->IsStartRequested());
  EXPECT_TRUE(channel->IsStopAllRequested());
  channel->ResetRequests();
  EXPECT_EQ(channel->GetRunState(), 0);
  EXPECT_FALSE(channel->IsStartRequested());
  EXPECT_FALSE(channel->IsStopAllRequested());
}

TEST(BroadMessageTest, RequestStartMarksTheRegistryPending) {
  TBroadMessageHandler registry;
  registry.Register("t0", std::make_unique<TBroadMessage>());
  TBroadMessage* channel = registry.Register("t1", std::make_unique<TBroadMessage>());
  EXPECT_FALSE(registry.IsRequestPending());
  channel->RequestStart();
  EXPECT_TRUE(registry.IsRequestPending());
  EXPECT_TRUE(registry.IsRequestPending());
  registry.ClearRequestPending();
  EXPECT_FALSE(registry.IsRequestPending());
  EXPECT_TRUE(channel->IsStartRequested());  // the channel's own request stays

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

// The settings lock's four cases and the access code.
#include <gtest/gtest.h>

#include "app/SettingsLock.h"
#include "support/RecordingOperator.h"

using namespace qk;

TEST(SettingsLock, ButtonLocksWithoutAskingAndAsksToUnlock) {
  test::RecordingOperator op;
  bool unlocked = true;
  LockOutcome out = ApplySettingsLock(unlocked, LockSender::LockButton, op);
  EXPECT_FALSE(unlocked);
  EXPECT_EQ(out.tabsEnabled, false);
  EXPECT_EQ(out.saveEnabled, false);
  EXPECT_TRUE(out.buttonDown);
  EXPECT_TRUE(op.questions.empty());

  op.answers.push_back(std::string("Vornish"));  // case matters
  out = ApplySettingsLock(unlocked, LockSender::LockButton, op);
  EXPECT_TRUE(out.asked);
  EXPECT_FALSE(unlocked);
  EXPECT_FALSE(out.tabsEnabled);
  EXPECT_FALSE(out.saveEnabled);
  EXPECT_TRUE(out.buttonDown);
  EXPECT_TRUE(op.messages.empty());  // a wrong answer shows nothing

  out = ApplySettingsLock(unlocked, LockSender::LockButton, op);  // cancelled
  EXPECT_FALSE(unlocked);

  op.answers.push_back(std::string("vornish"));
  out = ApplySettingsLock(unlocked, LockSender::LockButton, op);
  EXPECT_TRUE(unlocked);
  EXPECT_EQ(out.tabsEnabled, true);
  EXPECT_EQ(out.saveEnabled, true);
  EXPECT_FALSE(out.buttonDown);
  ASSERT_EQ(op.questions.size(), 3u);
  EXPECT_EQ(op.questions[0], "Please Input the Password|Password|hidden");
}

TEST(SettingsLock, TheWindowReappliesTheState) {
  test::RecordingOperator op;
  bool unlocked = true;
  LockOutcome out = ApplySettingsLock(unlocked, LockSender::Window, op);
  EXPECT_TRUE(unlocked);
  EXPECT_EQ(out.tabsEnabled, true);
  EXPECT_FALSE(out.saveEnabled);  // left as it is

  unlocked = false;  // a profile with MPVersion set was loaded
  out = ApplySettingsLock(unlocked, LockSender::Window, op);
  EXPECT_FALSE(unlocked);
  EXPECT_EQ(out.tabsEnabled, false);
  EXPECT_EQ(out.saveEnabled, false);
  EXPECT_TRUE(op.questions.empty());
}

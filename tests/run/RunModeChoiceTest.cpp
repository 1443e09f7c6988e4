#include <gtest/gtest.h>

#include "run/RunModeChoice.h"

using namespace qk;

TEST(RunModeChoice, OnlyTheActiveRdPageSelectsAServiceMode) {
  RunOptions o;
  RdPageState rd;
  rd.claimNew = true;
  rd.getLater = true;
  ChooseRunMode(rd, o);
  EXPECT_EQ(o.mode, RunMode::Production);  // another page is active

  rd.rdPageActive = true;
  ChooseRunMode(rd, o);
  EXPECT_EQ(o.mode, RunMode::ClaimNew);

  rd.claimNew = false;
  rd.putLater = true;
  ChooseRunMode(rd, o);
  EXPECT_EQ(o.mode, RunMode::TableTransfer);
  EXPECT_EQ(o.transfer, TableTransferKind::GetLater);  // the first checked one

  rd = RdPageState{};
  rd.rdPageActive = true;
  ChooseRunMode(rd, o);
  EXPECT_EQ(o.mode, RunMode::Production);
}

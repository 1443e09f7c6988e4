#include "../fuzz/FlashListFuzzBody.h"
#include "support/FuzzCorpus.h"

TEST(FuzzCorpus, FlashListInputsParseOrFailCleanly) {
  EXPECT_GE(qk::test::ReplayCorpus("flashlist", qk::fuzz::flashListOnce), 5);
}

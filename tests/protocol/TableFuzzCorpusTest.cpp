#include "../fuzz/TableFileFuzzBody.h"
#include "support/FuzzCorpus.h"

TEST(FuzzCorpus, TableFilesImportOrFailCleanly) {
  EXPECT_GE(qk::test::ReplayCorpus("tablefile", qk::fuzz::tableFileOnce), 5);
}

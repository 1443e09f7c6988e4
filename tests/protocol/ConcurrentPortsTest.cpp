// Fifty ports at once, each with its own context and buffers, reading the
// station-wide transport state while they run their steps.
#include <gtest/gtest.h>

#include <memory>
#include <thread>
#include <vector>

#include "BenchRig.h"
#include "config/Profile.h"
#include "run/PortContext.h"

using namespace qk;

TEST(ConcurrentPorts, FiftyWorkersRunTheirStepsSideBySide) {
  test::TempDir dir;
  ASSERT_TRUE(WriteSampleData(dir.path()));
  std::string text = "[Hub1]\nParent=root\nKind=usb2\nPorts=50\n";
  for (int i = 1; i <= SlotLimit; ++i) {
    text += "[Drive" + std::to_string(i) + "]\nAt=Hub1:" + std::to_string(i) + "\nToken=" +
            (i % 2 ? "R20X" : "k404") + "\nFlash=WBG\nChannel=4\nBank=2\n";
    // Every fifth drive has a wrong chip.
    if (i % 5 == 0) text += "FaultFlashId=3:1 00 00 00 00 00\n";
  }
  sim::BenchConfig cfg;
  std::string error;
  ASSERT_TRUE(sim::ParseBenchText(text, dir.path(), {}, cfg, error)) << error;
  VirtualClock clock;
  sim::BenchOptions options;
  options.clock = &clock;
  auto bench = sim::Bench::fromConfig(std::move(cfg), options, error);
  ASSERT_TRUE(bench) << error;
  // One path for the whole station, as the scan leaves it; drives of the other kind fail.
  TransportState state;
  state.setTransportPath(TransportPath::SataPath);
  DeviceTransport transport(bench->passThrough(), clock, state);

  Profile profile;
  test::RecordingOperator op;
  ASSERT_EQ(LoadProfile(dir.file("QKMassProd.ini"), profile, ProgramFolder(dir.path()), op), LoadResult::Ok);
  GlobalParameter gp;
  ApplyLoadTimeMirrors(profile.mirrors, gp);
  GetGlobalParameter(profile.settings, profile.catalogue, {}, gp);
  gp.CheckFlashMask = 0x1F;

  std::vector<std::unique_ptr<ControllerContext>> contexts;
  for (int i = 1; i <= SlotLimit; ++i) {
    auto c = std::make_unique<ControllerContext>();
    c->devicePath = sim::Bench::devicePathFor("Drive" + std::to_string(i));
    c->params = gp;
    c->programs = {dir.file("GDP.bin"), dir.file("satatest.bin")};
    contexts.push_back(std::move(c));
  }
  std::vector<int> passed(SlotLimit, -1);
  {
    std::vector<std::jthread> workers;
    for (int p = 0; p < SlotLimit; ++p) {
      workers.emplace_back([&, p] {
        ControllerOps ops(transport, *contexts[static_cast<std::size_t>(p)]);
        ProductionSteps steps(ops);
        std::uint8_t* work = contexts[static_cast<std::size_t>(p)]->buffers.first();
        passed[static_cast<std::size_t>(p)] = steps.FlashModuleTest(work) && steps.FindSystemBlocks(work);
      });
    }
  }
  for (int p = 0; p < SlotLimit; ++p) {
    const int drive = p + 1;
    const int want = drive % 2 == 0 && drive % 5 != 0;
    EXPECT_EQ(passed[static_cast<std::size_t>(p)], want) << "Drive" << drive;
    if (drive % 10 == 0) {
      EXPECT_EQ(contexts[static_cast<std::size_t>(p)]->buffers.first()[18], kEntryWrongId);
    }
  }
}

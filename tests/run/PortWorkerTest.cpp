#include "run/PortWorker.h"

#include <gtest/gtest.h>

#include <map>
#include <set>

#include "support/ScriptedOps.h"
#include "support/TempDir.h"

using namespace qk;
using qk::test::ScriptedOps;

namespace {

class CountingDisplay : public PortDisplay {
 public:
  void panelText(int, const std::string& t) override { texts.push_back(t); }
  void panelColour(int, SlotColour) override {}
  void gauge(int, int percent) override { gauges.push_back(percent); }
  void serialText(int, const std::string&) override {}
  void refresh() override {}
  std::vector<std::string> texts;
  std::vector<int> gauges;
};

struct Outcome {
  PortContext rec;
  std::vector<std::string> calls;
  std::vector<int> gauges;
  std::vector<std::string> texts;
  DetailBuffers details{};
  bool ended = false;
  std::string ebPath;
};

Outcome runWorker(ScriptedOps& ops, WorkerSetup setup, std::stop_token stop = {}) {
  CountingDisplay display;
  VirtualClock clock;
  Outcome out;
  PortContext rec;
  rec.active = 1;
  rec.serialNumber.assign("SN0001");
  PortWorker worker(setup, rec, ops, display, clock,
                    [&](const PortContext& r, const DetailBuffers* d) {
                      out.rec = r;
                      if (d) {
                        out.details = *d;
                        out.ended = true;
                      }
                    },
                    stop);
  worker.run();
  out.calls = ops.calls;
  out.gauges = display.gauges;
  out.texts = display.texts;
  out.ebPath = ops.ebPath;
  return out;
}

WorkerSetup steps(std::initializer_list<int> enabled, int checked) {
  WorkerSetup s;
  for (int n : enabled) s.profile.TestItemEnabled[static_cast<std::size_t>(n)] = 1;
  s.checkedItems = checked;
  return s;
}

}  // namespace

TEST(PortWorker, BusFailureMarksLaterStepsWithoutCommands) {
  ScriptedOps ops;
  ops.failing = {"bus"};
  Outcome o = runWorker(ops, steps({2, 4}, 1));
  EXPECT_EQ(o.rec.resultCode, 2);
  EXPECT_EQ(o.rec.stepStatus[2], -1);
  EXPECT_EQ(o.rec.stepStatus[4], -1);
  EXPECT_EQ(o.rec.stepStatus[25], -1);
  EXPECT_EQ(o.rec.yieldEvent, -1);
  EXPECT_EQ(std::count(o.calls.begin(), o.calls.end(), "dram"), 0);
  EXPECT_EQ(o.details[2][0], 0x42);
  // Two gauge steps, then 100 at the end.
  EXPECT_EQ(o.gauges, (std::vector<int>{0, 100, 100, 100}));
}

TEST(PortWorker, FailureBeforeTheGateEndsTheWorker) {
  ScriptedOps ops;
  ops.failing = {"bus"};
  Outcome o = runWorker(ops, steps({2, 5, 6, 7}, 4));
  EXPECT_EQ(o.rec.stepStatus[5], 0);
  EXPECT_EQ(o.rec.stepStatus[6], 0);
  EXPECT_EQ(o.rec.stepStatus[7], 0);
  EXPECT_EQ(std::count(o.calls.begin(), o.calls.end(), "systemBlocks"), 0);

  ScriptedOps gate;
  gate.failing = {"systemBlocks"};
  Outcome g = runWorker(gate, steps({5, 6}, 2));
  EXPECT_EQ(g.rec.resultCode, 25);
  EXPECT_EQ(g.rec.stepStatus[5], 0);
  EXPECT_EQ(g.rec.stepStatus[25], -1);
}

TEST(PortWorker, FlashModuleFailureJumpsTheGaugeToTheEnd) {
  ScriptedOps ops;
  ops.failing = {"flashModule"};
  Outcome o = runWorker(ops, steps({1, 2, 3}, 3));
  EXPECT_EQ(o.rec.resultCode, 1);
  EXPECT_EQ(o.rec.stepStatus[2], 0);
  EXPECT_EQ(o.gauges, (std::vector<int>{0, 100}));
}

TEST(PortWorker, ClaimNewRebuild) {
  ScriptedOps ops;
  ops.failing = {"finishTables"};
  WorkerSetup s = steps({1, 2}, 2);
  s.claimNew = true;
  Outcome o = runWorker(ops, s);
  EXPECT_EQ(o.rec.stepStatus[25], -1);
  EXPECT_EQ(o.rec.resultCode, 0);
  EXPECT_EQ(std::count(o.calls.begin(), o.calls.end(), "bus"), 0);
  s.rebuildClose = true;
  ScriptedOps again;
  again.failing = {"finishTables"};
  EXPECT_EQ(runWorker(again, s).rec.stepStatus[25], 1);
}

TEST(PortWorker, BadBlocksOverTheLimitGive28WithTheirTotals) {
  ScriptedOps ops;
  ops.badTotals = {9, 10, 20, 30, 40};
  Outcome o = runWorker(ops, steps({8}, 1));
  EXPECT_EQ(o.rec.resultCode, 28);
  EXPECT_EQ(o.rec.stepStatus[8], -1);
  EXPECT_EQ(o.details[28][0], 0xBB);
  EXPECT_EQ(o.details[28][1], 9);
  EXPECT_EQ(o.details[28][5], 10);
  ScriptedOps plain;
  plain.failing = {"checkTables"};
  EXPECT_EQ(runWorker(plain, steps({23}, 0)).rec.resultCode, 23);
}

TEST(PortWorker, CopyImageNeedsDownloadAndAFailedFormatGivesNine) {
  ScriptedOps ops;
  Outcome o = runWorker(ops, steps({10}, 0));
  EXPECT_EQ(o.rec.stepStatus[10], 0);
  EXPECT_EQ(std::count(o.calls.begin(), o.calls.end(), "copyImage"), 0);

  ScriptedOps noVolume;
  noVolume.failing = {"format"};
  Outcome f = runWorker(noVolume, steps({9}, 1));
  EXPECT_EQ(f.rec.resultCode, 9);
  EXPECT_EQ(f.rec.formatted, 0);
}

TEST(PortWorker, EbNamesNeverCollide) {
  test::TempDir dir;
  dir.write("SN0001_EB.txt", "x");
  dir.write("SN0001(0)_EB.txt", "x");
  ScriptedOps ops;
  WorkerSetup s = steps({6}, 1);
  s.logPath = dir.path();
  Outcome o = runWorker(ops, s);
  EXPECT_EQ(o.ebPath, dir.path() + "SN0001(1)_EB.txt");
}

TEST(PortWorker, CapacityChecksAndIdentity) {
  ScriptedOps ops;
  ops.capacity = 234441648;
  WorkerSetup s = steps({12, 13, 16, 17, 18, 20, 21}, 0);
  s.profile.IDEMACapacity = 120;
  s.profile.LBACapacity = 234441648;
  s.profile.RWTestPercentage = 10;
  s.parameters.ModelNumber = "Talvery QKR2XX SSD";
  s.parameters.FirmwareRevision = "12345678";
  s.barcodeSerial = "SN0001";
  Outcome o = runWorker(ops, s);
  for (int n : {12, 13, 16, 17, 18, 20, 21}) EXPECT_EQ(o.rec.stepStatus[static_cast<std::size_t>(n)], 1) << n;
  EXPECT_EQ(o.rec.stepStatus[25], 1);
  EXPECT_EQ(std::count(o.calls.begin(), o.calls.end(), "rw100"), 1);

  // Vendor and product on the bridge path with no USB identity on the drive: never a pass.
  ScriptedOps bare;
  WorkerSetup v = steps({14}, 0);
  v.parameters.InquiryVendor = "QK";
  EXPECT_EQ(runWorker(bare, v).rec.resultCode, 14);
  ScriptedOps withUsb;
  withUsb.usb = UsbIdentity{"QK", "P", "", "", ""};
  EXPECT_EQ(runWorker(withUsb, v).rec.stepStatus[14], 1);
}

TEST(PortWorker, AStoppedWorkerNeverPublishesAVerdict) {
  ScriptedOps ops;
  std::stop_source stop;
  stop.request_stop();
  Outcome o = runWorker(ops, steps({2, 3}, 2), stop.get_token());
  EXPECT_FALSE(o.ended);
  EXPECT_EQ(o.rec.stepStatus[25], 0);
  EXPECT_EQ(std::count(o.calls.begin(), o.calls.end(), "bus"), 0);
}

namespace {

// Notes, as each step's operation starts, what the run last saw of that step:
// a port cut off there must show the step as running.
class SeenAtStart : public ScriptedOps {
 public:
  const PortContext* published = nullptr;
  std::map<std::string, std::int32_t> seen;
  void note(const std::string& name, int step) { seen[name] = published->stepStatus[static_cast<std::size_t>(step)]; }
  bool flashModuleTest(WorkBuffer b) override { return note("flashModule", 1), ScriptedOps::flashModuleTest(b); }
  bool checkTables(WorkBuffer b) override {
    note("checkTables8", 8), note("checkTables23", 23);
    return ScriptedOps::checkTables(b);
  }
  bool diskFormat(const std::string& l, std::string& v) override {
    return note("format", 9), ScriptedOps::diskFormat(l, v);
  }
  bool copyImage(const std::string& p) override { return note("copyImage", 10), ScriptedOps::copyImage(p); }
  bool busInterfaceTest(WorkBuffer b) override { return note("bus", 2), ScriptedOps::busInterfaceTest(b); }
};

}  // namespace

TEST(PortWorker, EveryStepIsPublishedAsRunningBeforeItsOperation) {
  SeenAtStart ops;
  CountingDisplay display;
  VirtualClock clock;
  PortContext last;
  ops.published = &last;
  WorkerSetup setup = steps({1, 2, 6, 8, 9, 10, 23}, 7);
  PortWorker worker(setup, PortContext{}, ops, display, clock, [&](const PortContext& r, const DetailBuffers*) { last = r; },
                    {});
  worker.run();
  EXPECT_EQ(ops.seen["flashModule"], 2);
  EXPECT_EQ(ops.seen["bus"], 2);
  EXPECT_EQ(ops.seen["format"], 2);
  EXPECT_EQ(ops.seen["copyImage"], 2);
  EXPECT_EQ(ops.seen["checkTables23"], 2);  // the second table check; the first is overwritten by it
  EXPECT_EQ(last.stepStatus[25], 1);
}

TEST(PortWorker, UpdateModeDownloadsTheDrivesOwnModelAndKeepsItsSerial) {
  ScriptedOps ops;  // out of loader mode: the drive runs its firmware
  ops.identifyModel = "Drive Own Model";
  ops.identifySerial = "DRV1";
  WorkerSetup s = steps({6, 12}, 1);
  s.profile.EnUpdateFirmwareMode = 1;
  s.parameters.ModelNumber = "Profile Model";
  Outcome o = runWorker(ops, s);
  EXPECT_EQ(ops.downloadedModel.substr(0, 15), "Drive Own Model");
  EXPECT_EQ(o.rec.stepStatus[12], 1);
  EXPECT_EQ(o.rec.serialNumber.str(), "DRV1" + std::string(16, ' '));
}

TEST(PortWorker, BridgeSerialReadBackKeepsItsTwentyCharacters) {
  ScriptedOps ops;
  ops.identifySerial = "SN42";
  WorkerSetup s = steps({12}, 1);
  s.parameters.ModelNumber = ops.identifyModel;
  Outcome o = runWorker(ops, s);
  EXPECT_EQ(o.rec.serialNumber.str(), "SN42" + std::string(16, ' '));
}

TEST(PortWorker, CapacityProbeRunsBetweenTheRwTestAndTheFormatAndFailsWithItsOwnCode) {
  ScriptedOps ops;
  Outcome o = runWorker(ops, steps({7, 9, kCapacityProbeItem}, 3));
  const auto at = [&](const std::string& call) { return std::find(o.calls.begin(), o.calls.end(), call); };
  ASSERT_NE(at("probe"), o.calls.end());
  EXPECT_LT(at("quickRw"), at("probe"));
  EXPECT_LT(at("probe"), at("format"));
  EXPECT_EQ(o.rec.stepStatus[kCapacityProbeItem], 1);
  EXPECT_EQ(ops.probeId, "SN0001");
  EXPECT_FALSE(ops.probeKeptData);  // the format rewrites the drive next
  EXPECT_NE(std::find(o.texts.begin(), o.texts.end(), "Capacity Probe"), o.texts.end());

  ScriptedOps keep;
  runWorker(keep, steps({kCapacityProbeItem}, 1));
  EXPECT_TRUE(keep.probeKeptData);
  // An R/W test before or after has already given up the data.
  for (int rw : {7, 19, 20, 21, 22}) {
    ScriptedOps tested;
    runWorker(tested, steps({rw, kCapacityProbeItem}, 2));
    EXPECT_FALSE(tested.probeKeptData) << rw;
  }

  ScriptedOps bad;
  bad.failing = {"probe"};
  Outcome f = runWorker(bad, steps({kCapacityProbeItem, 9}, 2));
  EXPECT_EQ(f.rec.resultCode, kCapacityProbeCode);
  EXPECT_EQ(f.rec.stepStatus[kCapacityProbeItem], -1);
  EXPECT_EQ(f.rec.stepStatus[9], -1);
  EXPECT_EQ(f.rec.stepStatus[25], -1);
  EXPECT_EQ(f.details[kCapacityProbeCode][0], 0x42);  // the record the probe left is kept for the report
  EXPECT_EQ(std::count(f.calls.begin(), f.calls.end(), "format"), 0);

  ScriptedOps off;
  Outcome n = runWorker(off, steps({7}, 1));
  EXPECT_EQ(std::count(n.calls.begin(), n.calls.end(), "probe"), 0);
  EXPECT_EQ(n.rec.stepStatus[kCapacityProbeItem], 0);
}

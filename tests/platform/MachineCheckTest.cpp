#include <gtest/gtest.h>

#include <filesystem>

#include "platform/linux/MachineCheck.h"
#include "support/TempDir.h"

using namespace qk;
namespace fs = std::filesystem;

namespace {

class ListedDisks : public DeviceTree {
 public:
  std::optional<std::vector<std::shared_ptr<HubDesc>>> rootHubs() override { return std::vector<std::shared_ptr<HubDesc>>{}; }
  std::optional<std::vector<DiskDesc>> disks() override { return list; }
  std::optional<std::vector<DiskDesc>> list = std::vector<DiskDesc>{};
};

struct Machine {
  Machine() {
    paths.procStatus = dir.file("status");
    paths.rulesDirs = {dir.path() + "etc", dir.path() + "lib"};
    paths.udevControl = dir.file("control");
    paths.sysRoot = dir.path() + "sys";
  }
  test::TempDir dir;
  MachinePaths paths;
};

}  // namespace

TEST(MachineCheck, CapabilityIsReadFromTheEffectiveSet) {
  Machine m;
  m.dir.write("status", "Name:\tqkstation-cli\nCapEff:\t0000000000020000\n");
  EXPECT_TRUE(MachineCheck(m.paths).capability().ok);
  m.dir.write("status", "Name:\tqkstation-cli\nCapEff:\t0000000000000000\n");
  auto c = MachineCheck(m.paths).capability();
  EXPECT_FALSE(c.ok);
  EXPECT_NE(c.detail.find("CAP_SYS_RAWIO"), std::string::npos);
  EXPECT_NE(c.fix.find("setcap cap_sys_rawio+ep"), std::string::npos);
  // Bit 17 only: neighbouring capabilities do not count.
  m.dir.write("status", "CapEff:\t0000000000030000\n");
  EXPECT_TRUE(MachineCheck(m.paths).capability().ok);
  m.dir.write("status", "CapEff:\t00000000000d0000\n");
  EXPECT_FALSE(MachineCheck(m.paths).capability().ok);
}

TEST(MachineCheck, RuleUdevAndDriveNodes) {
  Machine m;
  auto rule = MachineCheck(m.paths).rule();
  EXPECT_FALSE(rule.ok);
  EXPECT_NE(rule.fix.find("70-qkstation.rules"), std::string::npos);
  fs::create_directories(m.dir.path() + "lib");
  m.dir.write("lib/70-qkstation.rules", "# rule\n");
  EXPECT_TRUE(MachineCheck(m.paths).rule().ok);

  EXPECT_FALSE(MachineCheck(m.paths).udev().ok);
  m.dir.write("control", "");
  EXPECT_TRUE(MachineCheck(m.paths).udev().ok);

  ListedDisks tree;
  m.dir.write("sdb", "");
  tree.list->push_back({m.dir.file("sdb"), "1-4", "", "", true});
  tree.list->push_back({m.dir.file("sdc"), "1-5", "", "", true});  // no such node
  tree.list->push_back({m.dir.file("sda"), "", "", "", false});    // not on USB: not ours to check
  auto nodes = MachineCheck(m.paths).nodes(tree);
  ASSERT_EQ(nodes.size(), 2u);
  EXPECT_TRUE(nodes[0].ok) << nodes[0].detail;
  EXPECT_EQ(nodes[0].name, "drive 1-4");
  EXPECT_FALSE(nodes[1].ok);
  EXPECT_NE(nodes[1].detail.find(m.dir.file("sdc")), std::string::npos);
  EXPECT_NE(nodes[1].fix.find("qkstation"), std::string::npos);

  tree.list = std::nullopt;
  nodes = MachineCheck(m.paths).nodes(tree);
  ASSERT_EQ(nodes.size(), 1u);
  EXPECT_FALSE(nodes[0].ok);
}

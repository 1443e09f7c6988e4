#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/AccessProblems.h"
#include "platform/linux/LinuxPassThrough.h"

using namespace qk;

namespace {

std::string fixture(const std::string& name) { return std::string(QK_TEST_DATA_DIR) + "/sysfs/" + name; }

}  // namespace

// Commands go through the disk's generic node, so closing a handle never
// makes udev re-probe the disk; the reset reaches the USB device above it.
TEST(LinuxPassThroughNodes, DiskCommandsGoThroughItsGenericNodeAndResetFindsItsUsbDevice) {
  LinuxPassThrough pt(nullptr, fixture("mixed"));
  EXPECT_EQ(pt.commandNode("/dev/sdb"), "/dev/sg4");
  EXPECT_EQ(pt.commandNode("/dev/sdc"), "/dev/sg5");
  EXPECT_EQ(pt.usbNode("/dev/sdb"), "/dev/bus/usb/001/003");
  EXPECT_EQ(pt.usbNode("/dev/sdc"), "/dev/bus/usb/001/004");
  // A generic node is used as it is; a disk without one (no sg driver, the
  // second LUN here) keeps its block node; a disk off USB has no USB device.
  EXPECT_EQ(pt.commandNode("/dev/sg4"), "/dev/sg4");
  EXPECT_EQ(pt.commandNode("/dev/sde"), "/dev/sde");
  EXPECT_EQ(pt.usbNode("/dev/sda"), "");
  EXPECT_EQ(pt.usbNode("/dev/nosuch"), "");
}

TEST(LinuxPassThroughNodes, PortResetFindsTheDrivesHubPort) {
  LinuxPassThrough pt(nullptr, fixture("ext-hub"));
  const std::string disable = pt.portDisable("/dev/sdb");
  EXPECT_EQ(disable.substr(disable.size() - std::string("usb1/1-0:1.0/usb1-port4/disable").size()),
            "usb1/1-0:1.0/usb1-port4/disable");
  // No port link (an older kernel): no port to switch, the USB reset is used instead.
  EXPECT_EQ(LinuxPassThrough(nullptr, fixture("mixed")).portDisable("/dev/sdb"), "");
}

TEST(AccessProblemsReport, OncePerDriveNamingTheNodeAndWhatIsMissing) {
  AccessProblems problems;
  std::vector<std::string> told;
  problems.setListener([&told](const std::string& text) { told.push_back(text); });

  EXPECT_TRUE(problems.report("/dev/sdb", "/dev/sg2", AccessProblems::Missing::NodeAccess));
  // Every later command of the drive fails the same way: no second report.
  EXPECT_FALSE(problems.report("/dev/sdb", "/dev/sg2", AccessProblems::Missing::NodeAccess));
  EXPECT_FALSE(problems.report("/dev/sdb", "/dev/sg2", AccessProblems::Missing::RawIo));
  EXPECT_TRUE(problems.report("/dev/sdc", "/dev/sg3", AccessProblems::Missing::RawIo));
  ASSERT_EQ(told.size(), 2u);
  EXPECT_NE(told[0].find("/dev/sg2"), std::string::npos);
  EXPECT_NE(told[0].find("read-write"), std::string::npos);
  EXPECT_NE(told[0].find("qkstation"), std::string::npos);
  EXPECT_NE(told[1].find("/dev/sg3"), std::string::npos);
  EXPECT_NE(told[1].find("CAP_SYS_RAWIO"), std::string::npos);

  EXPECT_EQ(problems.find("/dev/sdb"), told[0]);
  EXPECT_EQ(problems.slotText("/dev/sdb"), "No permission (/dev/sg2)");
  EXPECT_EQ(problems.slotText("/dev/sdc"), "No permission (CAP_SYS_RAWIO)");
  EXPECT_EQ(problems.find("/dev/sdd"), "");
  EXPECT_EQ(problems.slotText("/dev/sdd"), "");
}

// The built-in device read from a system folder that each test lays out itself.
#include <kestrel/platform/device.hpp>

#include "platform/device/private_bus.hpp"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/utsname.h>

using kestrel::platform::SystemDevice;
using kestrel::testing::TempDir;

namespace {
struct utsname kernelNames() {
    struct utsname names {};
    EXPECT_EQ(::uname(&names), 0);
    return names;
}

class SystemFolder : public ::testing::Test {
protected:
    SystemDevice device() const { return SystemDevice(root.path()); }
    TempDir root;
};
} // namespace

TEST_F(SystemFolder, ReadsEveryValueFromItsFile) {
    root.write("etc/machine-info",
               "ICON_NAME=computer-laptop\nPRETTY_HOSTNAME=\"Anna's Laptop\"\n");
    root.write("proc/sys/kernel/hostname", "anna-laptop\n");
    root.write("sys/class/dmi/id/product_name", "ThinkPad X1 Carbon Gen 9\n");
    root.write("etc/os-release", "PRETTY_NAME=\"Debian GNU/Linux 12 (bookworm)\"\n"
                                 "NAME=\"Debian GNU/Linux\"\nVERSION_ID=\"12\"\nID=debian\n");
    const auto d = device();
    EXPECT_EQ(d.name(), "Anna's Laptop");
    EXPECT_EQ(d.model(), "ThinkPad X1 Carbon Gen 9");
    EXPECT_EQ(d.systemName(), "Debian GNU/Linux");
    EXPECT_EQ(d.systemVersion(), "12");
}

TEST_F(SystemFolder, MissingOrPlaceholderValuesFallBack) {
    const auto names = kernelNames();
    const auto empty = device();
    EXPECT_EQ(empty.name(), names.nodename);
    EXPECT_EQ(empty.model(), SystemDevice::genericModel);
    EXPECT_EQ(empty.systemName(), names.sysname);
    EXPECT_EQ(empty.systemVersion(), names.release);

    root.write("proc/sys/kernel/hostname", "build-07\n");
    root.write("etc/machine-info", "PRETTY_HOSTNAME=\"  \"\n");
    EXPECT_EQ(device().name(), "build-07");

    // The device tree's model ends in a NUL byte.
    root.write("proc/device-tree/model", std::string("Raspberry Pi 4 Model B Rev 1.4\0", 31));
    root.write("sys/class/dmi/id/product_name", "To Be Filled By O.E.M.\n");
    EXPECT_EQ(device().model(), "Raspberry Pi 4 Model B Rev 1.4");

    // The vendor's os-release counts only without the one in etc; a rolling release has no
    // version, so the kernel's release stands in.
    root.write("usr/lib/os-release", "NAME=Fedora\nVERSION_ID=40\n");
    EXPECT_EQ(device().systemVersion(), "40");
    root.write("etc/os-release", "NAME='Arch Linux'\nBUILD_ID=rolling\n");
    EXPECT_EQ(device().systemName(), "Arch Linux");
    EXPECT_EQ(device().systemVersion(), names.release);
}

TEST_F(SystemFolder, SpecialFilesAreNeverReadNorWaitedFor) {
    // A FIFO would block a reader until something writes to it; a folder cannot be read.
    std::filesystem::create_directories(root.path() / "sys/class/dmi/id");
    ASSERT_EQ(::mkfifo((root.path() / "sys/class/dmi/id/product_name").c_str(), 0600), 0);
    std::filesystem::create_directories(root.path() / "etc/os-release");
    root.write("usr/lib/os-release", "NAME=Vendor\n");
    const auto d = device();
    EXPECT_EQ(d.model(), SystemDevice::genericModel);
    EXPECT_EQ(d.systemName(), "Vendor");
}

TEST_F(SystemFolder, ValuesAreOneCleanLine) {
    root.write("sys/class/dmi/id/product_name", "  Box\x1b[31m 3000 \t\n");
    root.write("etc/os-release", "NAME=\"Evil\x07OS\"\r\nVERSION_ID=\"1\r\n2\"\n");
    const auto d = device();
    EXPECT_EQ(d.model(), "Box[31m 3000");
    EXPECT_EQ(d.systemName(), "EvilOS");
    EXPECT_EQ(d.systemVersion(), "1"); // an unterminated quote ends with its line
}

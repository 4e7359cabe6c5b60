// The program's command line, config file, device list and character set.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>

#include "cli.h"
#include "devices.h"
#include "player_command.h"
#include "windows_1252.h"

namespace nightjar::native {
namespace {

namespace fs = std::filesystem;

TEST(CommandLine, TakesEachOptionAndRefusesWhatItDoesNotKnow)
{
    const Options o = ParseCommandLine({"--device", "/dev/ttyUSB0", "--player", "vlc", "--wait-device", "-v"});
    EXPECT_EQ(o.action, Action::Run);
    EXPECT_EQ(o.device, "/dev/ttyUSB0");
    EXPECT_EQ(o.player, "vlc");
    EXPECT_TRUE(o.wait_device);
    EXPECT_TRUE(o.verbose);
    EXPECT_EQ(ParseCommandLine({"--check-cable", "--device", "x"}).action, Action::CheckCable);
    EXPECT_EQ(ParseCommandLine({"--list-devices"}).action, Action::ListDevices);
    EXPECT_THROW(ParseCommandLine({"--device"}), UsageError);
    EXPECT_THROW(ParseCommandLine({"--device", ""}), UsageError);
    EXPECT_THROW(ParseCommandLine({"--list-devices", "--version"}), UsageError);
    EXPECT_THROW(ParseCommandLine({"/dev/ttyUSB0"}), UsageError);
}

TEST(ConfigFile, FillsInWhatTheCommandLineLeftOutAndNamesTheBadLine)
{
    Options o = ParseCommandLine({"--player", "mpv"});
    ApplyConfig(o, "# mine\n\n device = /dev/ttyACM0  # the adapter\nplayer=vlc\n", "config");
    EXPECT_EQ(o.device, "/dev/ttyACM0");
    EXPECT_EQ(o.player, "mpv");  // the command line wins
    try {
        ApplyConfig(o, "device = /dev/x\ncolour = red\n", "/home/u/.config/nightjar/config");
        ADD_FAILURE();
    } catch (const UsageError& error) {
        EXPECT_STREQ(error.what(), "/home/u/.config/nightjar/config:2: unknown key colour");
    }
    EXPECT_THROW(ApplyConfig(o, "device\n", "c"), UsageError);
    EXPECT_THROW(ApplyConfig(o, "device =\n", "c"), UsageError);
}

TEST(Cables, EachKindByNameWithTheDeviceItNeeds)
{
    for (const char* name : {"black", "black-ticables", "gray", "silverlink", "silverlink:2"})
        EXPECT_EQ(CableName(ParseCommandLine({"--cable", name}).cable), name);
    EXPECT_EQ(ParseCommandLine({"--cable", "silverlink:12"}).cable, (CableChoice{CableKind::SilverLink, 12}));
    for (const char* bad : {"purple", "silverlink:0", "silverlink:", "silverlink2", "silverlink:x", "silverlink:999"})
        EXPECT_THROW(ParseCommandLine({"--cable", bad}), UsageError) << bad;

    // The config file's cable, unless the command line gives one; a device
    // line kept there for a serial cable is left aside for a SilverLink.
    Options usb = ParseCommandLine({});
    ApplyConfig(usb, "cable = silverlink\ndevice = /dev/ttyUSB0\n", "c");
    CheckDevice(usb);
    EXPECT_EQ(usb.cable.kind, CableKind::SilverLink);
    EXPECT_EQ(usb.device, "");
    Options serial = ParseCommandLine({"--cable", "gray"});
    ApplyConfig(serial, "cable = silverlink\n", "c");
    EXPECT_EQ(serial.cable.kind, CableKind::Gray);
    EXPECT_THROW(CheckDevice(serial), UsageError);  // a serial cable needs its device
    Options both = ParseCommandLine({"--cable", "silverlink", "--device", "/dev/ttyUSB0"});
    EXPECT_THROW(CheckDevice(both), UsageError);
    EXPECT_THROW(ApplyConfig(serial, "cable = purple\n", "c"), UsageError);
}

TEST(ConfigFile, LivesUnderXdgConfigHome)
{
    setenv("XDG_CONFIG_HOME", "/x/conf", 1);
    EXPECT_EQ(ConfigPath(), "/x/conf/nightjar/config");
    unsetenv("XDG_CONFIG_HOME");
    setenv("HOME", "/home/u", 1);
    EXPECT_EQ(ConfigPath(), "/home/u/.config/nightjar/config");
}

// A sysfs and /dev of a machine with a USB adapter, a real UART and a
// reserved 8250 port with no hardware.
class FakeMachine : public ::testing::Test {
protected:
    void SetUp() override
    {
        root_ = fs::temp_directory_path() / ("nj-devices-" + std::to_string(::getpid()));
        const fs::path sys = root_ / "sys", dev = root_ / "dev";
        AddTty("ttyUSB0", "devices/pci0000:00/usb1/1-1/1-1:1.0/ttyUSB0", "ftdi_sio", "");
        AddTty("ttyS0", "devices/platform/serial8250/tty/ttyS0", "serial8250", "4");
        AddTty("ttyS1", "devices/platform/serial8250/tty/ttyS1", "serial8250", "0");
        fs::create_directories(sys / "class/tty/tty1");  // a virtual terminal: no device
        fs::create_directories(dev / "serial/by-id");
        fs::create_symlink("../../ttyUSB0", dev / "serial/by-id/usb-FTDI_Cable_A1-if00-port0");
    }
    void TearDown() override { fs::remove_all(root_); }

    void AddTty(const std::string& name, const std::string& device, const std::string& driver, const std::string& type)
    {
        const fs::path sys = root_ / "sys";
        fs::create_directories(sys / device);
        fs::create_directories(sys / "bus/drivers" / driver);
        fs::create_symlink(sys / "bus/drivers" / driver, sys / device / "driver");
        fs::create_directories(sys / "class/tty" / name);
        fs::create_symlink(sys / device, sys / "class/tty" / name / "device");
        if (!type.empty()) std::ofstream(sys / "class/tty" / name / "type") << type << "\n";
    }

    fs::path root_;
};

TEST_F(FakeMachine, ListsThePortsWithHardwareAndMarksUsbAdapters)
{
    const auto devices = ListSerialDevices((root_ / "sys").string(), (root_ / "dev").string());
    ASSERT_EQ(devices.size(), 2U);
    EXPECT_EQ(devices[0].path, (root_ / "dev/ttyS0").string());
    EXPECT_FALSE(devices[0].usb);
    EXPECT_EQ(devices[1].path, (root_ / "dev/ttyUSB0").string());
    EXPECT_TRUE(devices[1].usb);
    EXPECT_EQ(devices[1].driver, "ftdi_sio");
    EXPECT_EQ(DescribeDevice(devices[1]), (root_ / "dev/ttyUSB0").string() + "  USB serial adapter (ftdi_sio)  " +
                                              (root_ / "dev/serial/by-id/usb-FTDI_Cable_A1-if00-port0").string());
}

TEST(Wires, InPlainWords)
{
    EXPECT_EQ(DescribeWires({true, true}), "idle: both wires released");
    EXPECT_EQ(DescribeWires({false, true}), "wire A pulled, wire B released");
    EXPECT_EQ(DescribeWires({false, false}), "wire A pulled, wire B pulled");
}

TEST(Windows1252, EveryCharacterOfTheCodePageTravelsAsItsByteAndBack)
{
    for (unsigned byte = 1; byte < 256; ++byte) {
        const std::string shown = Utf8OfWindows1252(std::string(1, static_cast<char>(byte)));
        const std::u16string sent = Utf16OfUtf8(shown);
        ASSERT_EQ(sent.size(), 1U) << byte;
        EXPECT_EQ(Windows1252CodeOf(sent[0]), byte);
    }
    EXPECT_EQ(Windows1252CodeOf(u'\u2603'), static_cast<std::uint32_t>('?'));  // not in the code page
    EXPECT_EQ(Utf16OfUtf8("\xF0\x9F\x8E\xB5"), u"\uFFFD");                    // outside the BMP
}

// The calculator's protocol end to end: Nightjar.exe's command table, the
// Plavox member it names, the bridge's command for what that member sends.
TEST(PlayerCommand, EachKeyIsTheMprisCommandTheWindowsPathGivesIt)
{
    using mpris_bridge::Command;
    const std::map<std::uint8_t, Command> expected = {
        {2, Command::SkipBack}, {3, Command::SkipForward}, {49, Command::Next}, {50, Command::Stop},
        {51, Command::Pause},   {52, Command::Play},       {53, Command::Previous},
    };
    for (unsigned byte = 0; byte < 256; ++byte) {
        const auto command = MprisCommandFor(app::LookUpCommand(static_cast<std::uint8_t>(byte)));
        const auto want = expected.find(static_cast<std::uint8_t>(byte));
        if (want == expected.end()) {
            EXPECT_FALSE(command) << byte;  // 54 shows or hides Nightjar.exe's window: no player call
        } else {
            EXPECT_EQ(command, want->second) << byte;
        }
    }
    // Members no key calls yet.
    EXPECT_EQ(MprisCommandFor({app::CommandKind::Player, 0x6003000C}), Command::FadeAndStop);
    EXPECT_EQ(MprisCommandFor({app::CommandKind::Player, 0x6003000D}), Command::Shuffle);
    EXPECT_EQ(MprisCommandFor({app::CommandKind::Player, 0x60030011}), Command::Quit);
    EXPECT_FALSE(MprisCommandFor({app::CommandKind::Player, 0x60030010}));  // ClearPlaylist: MPRIS has none
}

}  // namespace
}  // namespace nightjar::native

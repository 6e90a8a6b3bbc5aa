// Which device port N reaches for which user, the stable name a mapping prefers, and the texts
// of a port that cannot be opened. Tests run as root in CI: the other users are played by a
// forked child that drops to their uid.
#include <gtest/gtest.h>

#include <grp.h>
#include <pty.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <string>

#include "platform/SerialDevice.h"
#include "platform/SerialPorts.h"
#include "platform/System.h"
#include "platform/TempDir.h"
#include "platform/UniqueFd.h"

namespace fr {
namespace {

constexpr uid_t kNobody = 65534, kAdmin = 4242, kStranger = 4343;

// Runs ABody in a child as AUid (the real uid too, as for a user's own process); its result is
// the child's exit status, 99 when the uid could not be taken.
int AsUser(uid_t AUid, const std::function<int()>& ABody) {
    const pid_t pid = ::fork();
    if (pid == 0) {
        if (::setgroups(0, nullptr) != 0 || ::setgid(AUid) != 0 || ::setuid(AUid) != 0) ::_exit(99);
        ::_exit(ABody());
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 98;
}

// A system-wide folder and a per-user data folder under one temporary root every user may pass.
class SerialPortsTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (::geteuid() != 0) GTEST_SKIP() << "needs root to play other users";
        ::chmod(Root.Path().c_str(), 0755);
        System = Root.Path() + "sys/";
        User = Root.Path() + "user/";
        SetEnvironmentValue("FR_PORTMAP_DIR", System);
        SetEnvironmentValue("FR_APPDATA_DIR", User);
        ForceDirectories(User + kModuleBaseName + "/");  // 01777, as the driver makes it
        int master = -1, slave = -1;
        ASSERT_EQ(::openpty(&master, &slave, nullptr, nullptr, nullptr), 0);
        Master.Reset(master);
        Slave.Reset(slave);
        Pty = ::ttyname(slave);
        ::chmod(Pty.c_str(), 0666);
    }
    void TearDown() override {
        ClearEnvironmentValue("FR_PORTMAP_DIR");
        ClearEnvironmentValue("FR_APPDATA_DIR");
    }
    static void Link(const std::string& APath, const std::string& ATarget, uid_t AOwner) {
        ASSERT_EQ(::symlink(ATarget.c_str(), APath.c_str()), 0) << APath;
        ASSERT_EQ(::lchown(APath.c_str(), AOwner, AOwner), 0);
    }
    std::string UserLink(int N) const { return User + kModuleBaseName + "/COM" + std::to_string(N); }

    test::TTempDir Root;
    std::string System, User, Pty;
    UniqueFd Master, Slave;
};

TEST_F(SerialPortsTest, PortNReachesTheSystemWideLinkFirstThenTheUsersOwnAndTrustedOwnersOnly) {
    ASSERT_EQ(::mkdir(System.c_str(), 0755), 0);
    Link(System + "COM1", Pty, 0);           // root's, for everyone
    Link(UserLink(1), "/dev/null", kNobody);  // hidden by the system-wide one
    Link(UserLink(2), Pty, kNobody);          // the user's own
    Link(UserLink(3), Pty, kStranger);        // someone else's in the shared folder: refused
    const std::string adminDir = Root.Path() + "admin/";
    ASSERT_EQ(::mkdir(adminDir.c_str(), 0755), 0);
    ASSERT_EQ(::chown(adminDir.c_str(), kAdmin, kAdmin), 0);
    Link(adminDir + "COM4", Pty, kAdmin);  // the owner of a folder no one else writes
    struct TRow {
        const char* Name;
        int Port;
        std::string Path;  // what port N maps to ("" for an explicit path below)
        std::string Open;  // opened directly when set
        bool Opens;
    };
    const TRow rows[] = {
        {"system-wide link first", 1, System + "COM1", "", true},
        {"the user's own link", 2, UserLink(2), "", true},
        {"another user's link in the shared folder", 3, UserLink(3), "", false},
        {"no link: the first serial port", 5, "/dev/ttyS4", "-", false},
        {"a link of the owner of a private folder", 0, "", adminDir + "COM4", true},
    };
    for (const TRow& row : rows) {
        SCOPED_TRACE(row.Name);
        const int status = AsUser(kNobody, [&] {
            if (row.Port > 0 && SerialDevicePath(row.Port) != row.Path) return 1;
            if (row.Open == "-") return 0;
            TSerialDevice device;
            std::string error;
            const bool opened = device.Open(row.Open.empty() ? row.Path : row.Open, error);
            if (opened != row.Opens) return 2;
            if (!opened && error.find("4343") == std::string::npos) return 3;  // names the link's owner
            return 0;
        });
        EXPECT_EQ(status, 0);
    }
}

TEST_F(SerialPortsTest, MappingPrefersTheByIdNameAndOnlyRootOrTheFoldersOwnerMayWriteIt) {
    // A fake device folder with a by-id name leading to ttyACM0.
    const std::string dev = Root.Path() + "dev/", byId = dev + "serial/by-id/";
    std::filesystem::create_directories(byId);
    for (const char* name : {"ttyACM0", "ttyS0", "ttyS10", "ttyS2", "ttyUSB1", "tty0", "null"})
        std::ofstream(dev + name).put('\0');
    Link(byId + "usb-Register_00123-if00", "../../ttyACM0", 0);
    EXPECT_EQ(StableSerialName(dev + "ttyACM0", byId), byId + "usb-Register_00123-if00");
    EXPECT_EQ(StableSerialName(byId + "usb-Register_00123-if00", byId), byId + "usb-Register_00123-if00");
    EXPECT_EQ(StableSerialName(dev + "ttyUSB1", byId), dev + "ttyUSB1") << "no stable name: kept";
    ::chmod((dev + "ttyUSB1").c_str(), 0660);
    ::chmod((dev + "ttyS0").c_str(), 0600);
    EXPECT_EQ(SerialDeviceGroup(dev + "ttyUSB1"), "root");
    EXPECT_EQ(SerialDeviceGroup(dev + "ttyS0"), "") << "the group may not use it";
    const auto present = SerialDevicesPresent(dev, byId);
    std::string listed;
    for (const auto& p : present) listed += p.Device.substr(dev.size()) + (p.StableName.empty() ? " " : "* ");
    EXPECT_EQ(listed, "ttyACM0* ttyS0 ttyS2 ttyS10 ttyUSB1 ");

    std::string error;
    EXPECT_EQ(AsUser(kNobody, [&] { return MapSerialPort(3, Pty, error) ? 1 : 0; }), 0) << "no folder: only root";
    ASSERT_TRUE(MapSerialPort(3, Pty, error)) << error;
    struct stat st {};
    ASSERT_EQ(::stat(System.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0755u);
    ASSERT_TRUE(MapSerialPort(3, dev + "ttyACM0", error)) << "replaced: " << error;
    EXPECT_EQ(std::filesystem::read_symlink(System + "COM3").string(), dev + "ttyACM0");
    EXPECT_EQ(AsUser(kNobody, [&] { return MapSerialPort(4, Pty, error) ? 1 : 0; }), 0) << "not the owner";
    ASSERT_EQ(::chown(System.c_str(), kNobody, kNobody), 0);
    EXPECT_EQ(AsUser(kNobody, [&] { return MapSerialPort(4, Pty, error) ? 0 : 1; }), 0) << "the owner";
    const auto mappings = PortMappings();
    ASSERT_EQ(mappings.size(), 2u);
    EXPECT_EQ(mappings[0].Number, 3);
    EXPECT_TRUE(mappings[1].SystemWide);
}

// The text of a port that cannot be opened says why, and what to do.
TEST_F(SerialPortsTest, OpenFailuresSayWhatToDo) {
    const std::string locked = Root.Path() + "ttyLocked";
    std::ofstream(locked).put('\0');
    ::chmod(locked.c_str(), 0600);
    TSerialDevice holder;
    std::string error;
    ASSERT_TRUE(holder.Open(Pty, error)) << error;
    struct TRow {
        const char* Name;
        uid_t User;
        std::string Path;
        const char* Says;
    };
    const TRow rows[] = {
        {"no rights", kNobody, locked, "добавьте его в группу dialout (sudo usermod -aG dialout nobody)"},
        {"busy, exclusive mode", kNobody, Pty, "Порт занят другой программой"},
        {"busy, root past exclusive mode", 0, Pty, "Порт занят другой программой"},
        {"no such device", kNobody, Root.Path() + "ttyGone", "Устройство не найдено"},
    };
    for (const TRow& row : rows) {
        SCOPED_TRACE(row.Name);
        EXPECT_EQ(AsUser(row.User, [&] {
                      TSerialDevice device;
                      std::string text;
                      return device.Open(row.Path, text) || text.find(row.Says) == std::string::npos;
                  }),
                  0);
    }
    // Closed, the port leaves exclusive mode: a user's open gets in while the peer holds it.
    holder.Close();
    EXPECT_EQ(AsUser(kNobody, [&] {
                  TSerialDevice device;
                  std::string text;
                  return device.Open(Pty, text) ? 0 : 1;
              }),
              0);
}

}  // namespace
}  // namespace fr

// The settings file: what is read, what a write changes (and what it must leave alone), and the files
// that are refused.
#include "link/settings_file.h"

#include "protocol/text.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <future>
#include <iterator>
#include <thread>

namespace calvora {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

class SettingsFileTest : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() / ("calvora-settings-" + std::to_string(::getpid()) + "-" +
                                            ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir_);
        fs::create_directories(dir_);
    }
    void TearDown() override { fs::remove_all(dir_); }
    std::string PathOf(const char* name) const { return (dir_ / name).string(); }
    fs::path dir_;
};

std::string Contents(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void Put(const fs::path& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
}

// Runs `work` on a thread of its own and fails when it takes longer than a few seconds: a read that
// opens a FIFO hangs until a writer comes. A hung thread is released by opening `fifo` for writing,
// as often as it takes.
void WithinBound(const std::function<void()>& work, const fs::path& fifo) {
    auto done = std::async(std::launch::async, work);
    if (done.wait_for(5s) == std::future_status::ready)
        return done.get();
    ADD_FAILURE() << "the settings file code opened " << fifo << " and waited for a writer";
    do {
        const int writer = ::open(fifo.c_str(), O_WRONLY | O_NONBLOCK);
        if (writer >= 0)
            ::close(writer);
    } while (done.wait_for(10ms) != std::future_status::ready);
}

TEST_F(SettingsFileTest, MissingFileGivesTheDefaultPortThree) {
    SettingsFile file(PathOf("ZAZEDOVADIZO.ini"));
    const Outcome<int> port = file.ReadPortNumber("Multimeter", 3);
    ASSERT_TRUE(port) << "a missing file is no error";
    EXPECT_EQ(port.value(), 3);
    EXPECT_EQ(file.ReadDevicePath("Multimeter").value(), "");
}

// Writing the port changes that one value, or adds its line to the first section of the name, or
// appends the section; comments, foreign sections, line ends and the rest stay byte for byte.
TEST_F(SettingsFileTest, WritingThePortKeepsEverythingElseOfTheFile) {
    struct Case {
        const char* name;
        std::string before;
        int portBefore; // what the read gives before the write (3 when there is no key)
        std::string after;
    };
    const Case cases[] = {
        {"empty file", "", 3, "[MultimeterCOMPORT]\nMultimeterPORTNUM=5\n"},
        {"comments, foreign sections, spacing and case",
         "; my meter\n[Other]\nkey = value\n\n[multimetercomport]\n  multimeterportnum = 12 ; old\n"
         "MultimeterDEVICE=/dev/x\n\n[Last]\na=b\n",
         12,
         "; my meter\n[Other]\nkey = value\n\n[multimetercomport]\n  multimeterportnum = 5\n"
         "MultimeterDEVICE=/dev/x\n\n[Last]\na=b\n"},
        {"CRLF, section appended", "[Other]\r\nkey=1\r\n", 3,
         "[Other]\r\nkey=1\r\n\r\n[MultimeterCOMPORT]\r\nMultimeterPORTNUM=5\r\n"},
        {"CRLF, key replaced on the last line without a line end",
         "[MultimeterCOMPORT]\r\nMultimeterPORTNUM=9", 9, "[MultimeterCOMPORT]\r\nMultimeterPORTNUM=5"},
        {"CRLF, key added before the blank line that ends the section",
         "[MultimeterCOMPORT]\r\n; no port yet\r\n\r\n[Other]\r\n", 3,
         "[MultimeterCOMPORT]\r\n; no port yet\r\nMultimeterPORTNUM=5\r\n\r\n[Other]\r\n"},
        {"no final line end after the section header", "[Other]\nk=1\n[MultimeterCOMPORT]", 3,
         "[Other]\nk=1\n[MultimeterCOMPORT]\nMultimeterPORTNUM=5\n"},
        {"no final line end, section appended", "[Other]\nk=1", 3,
         "[Other]\nk=1\n\n[MultimeterCOMPORT]\nMultimeterPORTNUM=5\n"},
        {"section twice: the first is read and written",
         "[MultimeterCOMPORT]\nMultimeterPORTNUM=1\n[Other]\nk=1\n[MultimeterCOMPORT]\nMultimeterPORTNUM=2\n",
         1,
         "[MultimeterCOMPORT]\nMultimeterPORTNUM=5\n[Other]\nk=1\n[MultimeterCOMPORT]\nMultimeterPORTNUM="
         "2\n"},
        {"section twice, the key only in the second",
         "[MultimeterCOMPORT]\nMultimeterDEVICE=/dev/a\n\n[MultimeterCOMPORT]\nMultimeterPORTNUM=2\n", 3,
         "[MultimeterCOMPORT]\nMultimeterDEVICE=/dev/a\nMultimeterPORTNUM=5\n\n[MultimeterCOMPORT]\n"
         "MultimeterPORTNUM=2\n"},
        {"key twice: the first wins", "[MultimeterCOMPORT]\nMultimeterPORTNUM=7\nMultimeterPORTNUM=8\n", 7,
         "[MultimeterCOMPORT]\nMultimeterPORTNUM=5\nMultimeterPORTNUM=8\n"},
        {"byte-order mark, header comment, empty value",
         "\xEF\xBB\xBF[MultimeterCOMPORT] ; receiver\nMultimeterPORTNUM=\n", 0,
         "\xEF\xBB\xBF[MultimeterCOMPORT] ; receiver\nMultimeterPORTNUM=5\n"},
        {"a key outside any section is not the key", "MultimeterPORTNUM=7\n[MultimeterCOMPORT]\n", 3,
         "MultimeterPORTNUM=7\n[MultimeterCOMPORT]\nMultimeterPORTNUM=5\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const fs::path path = dir_ / "ZAZEDOVADIZO.ini";
        Put(path, c.before);
        const SettingsFile file(path.string());
        EXPECT_EQ(file.ReadPortNumber("Multimeter").value(), c.portBefore);
        const Outcome<void> written = file.WritePort("Multimeter", 5, "");
        ASSERT_TRUE(written) << toUtf8(written.reason());
        EXPECT_EQ(Contents(path), c.after);
        EXPECT_EQ(file.ReadPortNumber("Multimeter").value(), 5);
        ASSERT_TRUE(file.WritePort("Multimeter", 5, ""));
        EXPECT_EQ(Contents(path), c.after) << "a second write of the same port changes nothing";
    }
}

TEST_F(SettingsFileTest, CreatesTheFolderAndRemembersTheDevicePath) {
    SettingsFile file(PathOf("a/b/ZAZEDOVADIZO.ini"));
    ASSERT_TRUE(file.WritePort("Multimeter", 5, "/dev/ttyUSB4"));
    SettingsFile reread(PathOf("a/b/ZAZEDOVADIZO.ini"));
    EXPECT_EQ(reread.ReadPortNumber("Multimeter").value(), 5);
    EXPECT_EQ(reread.ReadDevicePath("Multimeter").value(), "/dev/ttyUSB4");
}

TEST_F(SettingsFileTest, ReceiverNamesAreKeptPerKeyBesideThePortAndForgottenWhenEmpty) {
    const fs::path path = dir_ / "ZAZEDOVADIZO.ini";
    Put(path, "; kept\r\n[MultimeterCOMPORT]\r\nMultimeterPORTNUM=4\r\n");
    const SettingsFile file(path.string());
    EXPECT_EQ(file.ReadReceiverName("/dev/ttyUSB0").value(), "");
    ASSERT_TRUE(file.WriteReceiverName("/dev/ttyUSB0", "Supply voltage"));
    ASSERT_TRUE(file.WriteReceiverName("serial-0001", "Load current (A)"));
    EXPECT_EQ(file.ReadReceiverName("/dev/ttyUSB0").value(), "Supply voltage");
    EXPECT_EQ(file.ReadReceiverName("serial-0001").value(), "Load current (A)");
    EXPECT_EQ(file.ReadPortNumber("Multimeter").value(), 4);
    EXPECT_EQ(Contents(path).rfind("; kept\r\n[MultimeterCOMPORT]\r\nMultimeterPORTNUM=4\r\n", 0), 0u);

    ASSERT_TRUE(file.WriteReceiverName("/dev/ttyUSB0", ""));
    EXPECT_EQ(file.ReadReceiverName("/dev/ttyUSB0").value(), "");
    EXPECT_EQ(file.ReadReceiverName("serial-0001").value(), "Load current (A)");

    // Keys the INI reader would cut or misread, and names that would not fit on a line, are refused and
    // leave the file as it was.
    const std::string before = Contents(path);
    const std::pair<std::string, std::string> refused[] = {
        {"/dev/serial/by-path/pci-0000:00:14.0-usb-0:2:1.0-port0", "A"},
        {"a=b", "A"},
        {"", "A"},
        {"/dev/ttyUSB1", "two\nlines"},
        {"/dev/ttyUSB1", " padded"},
    };
    for (const auto& [key, name] : refused) {
        const Outcome<void> written = file.WriteReceiverName(key, name);
        EXPECT_FALSE(written) << key << " / " << name;
        if (!written) {
            EXPECT_NE(written.reason().find(u"Can't write the settings file"), std::u16string::npos);
        }
    }
    EXPECT_EQ(Contents(path), before);
}

// Port numbers come back as written, never folded into the 1..255 range: 300 must not become COM44.
TEST_F(SettingsFileTest, PortNumbersAreReadWithoutWrappingAndOnlyValidOnesWritten) {
    const struct {
        const char* value;
        int port;
    } numbers[] = {
        {"300", 300},     {"256", 256}, {"-5", -5}, {"99999999999", INT_MAX}, {"-99999999999", INT_MIN},
        {" 7 apples", 7}, {"abc", 0},   {"", 0}};
    const fs::path path = dir_ / "ZAZEDOVADIZO.ini";
    for (const auto& n : numbers) {
        Put(path, std::string("[MultimeterCOMPORT]\nMultimeterPORTNUM=") + n.value + "\n");
        EXPECT_EQ(SettingsFile(path.string()).ReadPortNumber("Multimeter").value(), n.port) << n.value;
    }

    const std::string before = "[MultimeterCOMPORT]\nMultimeterPORTNUM=5\n";
    Put(path, before);
    const SettingsFile file(path.string());
    for (int port : {-1, 256, 300}) {
        EXPECT_EQ(file.WritePort("Multimeter", port, "").reason(),
                  u"Can't write the settings file " + fromUtf8(path.string()) + u": the port number " +
                      fromAscii(std::to_string(port)) + u" is not between 0 and 255.");
    }
    EXPECT_FALSE(file.WritePort("Multimeter", 7, "/dev/x\n[Evil]")) << "a path that would add lines";
    EXPECT_EQ(Contents(path), before);
    EXPECT_TRUE(file.WritePort("Multimeter", 0, "/dev/pts/7")) << "0: known only by its path";
}

TEST_F(SettingsFileTest, AnUnwritablePlaceFailsWithAReason) {
    Put(dir_ / "plain-file", "x");
    const Outcome<void> written =
        SettingsFile(PathOf("plain-file/ZAZEDOVADIZO.ini")).WritePort("Multimeter", 5, "");
    EXPECT_FALSE(written);
    EXPECT_NE(toUtf8(written.reason()).find("ZAZEDOVADIZO.ini"), std::string::npos)
        << toUtf8(written.reason());
}

// A FIFO, a device or a folder where the settings file should be (directly or behind a link) is
// neither opened nor replaced: the read falls back to port 3 and says why, the write fails.
TEST_F(SettingsFileTest, SpecialFilesAreRefusedAndLeftInPlace) {
    const fs::path fifo = dir_ / "fifo";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    fs::create_directory(dir_ / "folder");
    const struct {
        const char* name;
        std::function<void(const fs::path&)> make;
        const char* reason;
    } cases[] = {
        {"FIFO", [](const fs::path& at) { ::mkfifo(at.c_str(), 0600); }, "FIFO"},
        {"link to a FIFO", [&](const fs::path& at) { fs::create_symlink(fifo, at); }, "FIFO"},
        {"link to /dev/null", [](const fs::path& at) { fs::create_symlink("/dev/null", at); },
         "character device"},
        {"folder", [](const fs::path& at) { fs::create_directory(at); }, "folder"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const fs::path path = dir_ / "ZAZEDOVADIZO.ini";
        fs::remove_all(path);
        c.make(path);
        const auto typeBefore = fs::symlink_status(path).type();
        const SettingsFile file(path.string());
        WithinBound(
            [&] {
                const std::string read = toUtf8(file.ReadPortNumber("Multimeter", 3).reason());
                EXPECT_NE(read.find(c.reason), std::string::npos) << read;
                EXPECT_NE(read.find(path.string()), std::string::npos) << read;
                EXPECT_FALSE(file.ReadDevicePath("Multimeter"));
                const std::string written = toUtf8(file.WritePort("Multimeter", 5, "").reason());
                EXPECT_NE(written.find(c.reason), std::string::npos) << written;
            },
            fs::is_fifo(path) ? path : fifo);
        EXPECT_EQ(fs::symlink_status(path).type(), typeBefore) << "replaced by a plain file";
    }
    EXPECT_TRUE(fs::is_fifo(fifo));
    EXPECT_TRUE(fs::is_character_file("/dev/null"));
}

TEST_F(SettingsFileTest, AFileBeyondTheBoundIsNeitherReadNorRewritten) {
    const fs::path path = dir_ / "ZAZEDOVADIZO.ini";
    const std::string head = "[MultimeterCOMPORT]\nMultimeterPORTNUM=9\n; ";
    for (size_t size : {kMaxSettingsFileBytes, kMaxSettingsFileBytes + 1}) {
        const std::string text = head + std::string(size - head.size() - 1, 'x') + "\n";
        Put(path, text);
        const SettingsFile file(path.string());
        const bool fits = size <= kMaxSettingsFileBytes;
        const Outcome<int> port = file.ReadPortNumber("Multimeter", 3);
        EXPECT_EQ(port.value_or(3), fits ? 9 : 3) << size;
        EXPECT_EQ(toUtf8(port.reason()).find("larger than 64 KiB") != std::string::npos, !fits)
            << toUtf8(port.reason());
        if (!fits) {
            EXPECT_FALSE(file.WritePort("Multimeter", 5, ""));
            EXPECT_EQ(Contents(path), text) << "never cut short by a rewrite";
        }
    }
}

// A link stays a link: its final target is rewritten, beside that target.
TEST_F(SettingsFileTest, ALinkIsKeptAndItsTargetWritten) {
    fs::create_directories(dir_ / "real");
    Put(dir_ / "real" / "settings.ini", "; mine\n[MultimeterCOMPORT]\nMultimeterPORTNUM=4\n");
    fs::create_symlink("real/settings.ini", dir_ / "middle.ini");       // relative
    fs::create_symlink(dir_ / "middle.ini", dir_ / "ZAZEDOVADIZO.ini"); // a chain of two
    const SettingsFile file(PathOf("ZAZEDOVADIZO.ini"));
    EXPECT_EQ(file.ReadPortNumber("Multimeter").value(), 4);
    const Outcome<void> written = file.WritePort("Multimeter", 6, "");
    ASSERT_TRUE(written) << toUtf8(written.reason());
    EXPECT_TRUE(fs::is_symlink(dir_ / "ZAZEDOVADIZO.ini"));
    EXPECT_TRUE(fs::is_symlink(dir_ / "middle.ini"));
    EXPECT_EQ(Contents(dir_ / "real" / "settings.ini"), "; mine\n[MultimeterCOMPORT]\nMultimeterPORTNUM=6\n");
    EXPECT_EQ(std::distance(fs::directory_iterator(dir_ / "real"), fs::directory_iterator()), 1)
        << "no temporary file left beside the target";

    fs::remove(dir_ / "real" / "settings.ini");
    ASSERT_TRUE(file.WritePort("Multimeter", 8, "")) << "a dangling link gets its target created";
    EXPECT_TRUE(fs::is_symlink(dir_ / "ZAZEDOVADIZO.ini"));
    EXPECT_EQ(SettingsFile((dir_ / "real" / "settings.ini").string()).ReadPortNumber("Multimeter").value(),
              8);
}

TEST_F(SettingsFileTest, PermissionsAndOwnerAreKeptAndNewFilesFollowTheUmask) {
    const fs::path path = dir_ / "ZAZEDOVADIZO.ini";
    const SettingsFile file(path.string());
    const mode_t saved = ::umask(027);
    ASSERT_TRUE(file.WritePort("Multimeter", 5, ""));
    ::umask(saved);
    EXPECT_EQ(fs::status(path).permissions(), fs::perms(0640));

    ::chmod(path.c_str(), 0600);
    // Root rewriting a user's file leaves it the user's.
    const bool root = ::geteuid() == 0;
    if (root) {
        ASSERT_EQ(::chown(path.c_str(), 65534, 65534), 0);
    }
    ASSERT_TRUE(file.WritePort("Multimeter", 6, ""));
    EXPECT_EQ(fs::status(path).permissions(), fs::perms(0600));
    struct stat info {};
    ASSERT_EQ(::stat(path.c_str(), &info), 0);
    if (root) {
        EXPECT_EQ(info.st_uid, 65534u);
        EXPECT_EQ(info.st_gid, 65534u);
    }

    // A file made read-only is not replaced behind the user's back. Root may write anything, so that
    // part runs on a thread of its own as an ordinary user (credentials are per thread to the kernel).
    ::chmod(path.c_str(), 0444);
    if (root) {
        // The folder is the user's, so only the file's own permissions stand in the way.
        ASSERT_EQ(::chown(dir_.c_str(), 65534, 65534), 0);
    }
    Outcome<void> written;
    std::thread([&] {
        if (root &&
            (::syscall(SYS_setresgid, -1, 65534, -1) != 0 || ::syscall(SYS_setresuid, -1, 65534, -1) != 0))
            return;
        written = file.WritePort("Multimeter", 7, "");
    }).join();
    EXPECT_FALSE(written);
    EXPECT_NE(toUtf8(written.reason()).find("Permission denied"), std::string::npos)
        << toUtf8(written.reason());
    EXPECT_EQ(file.ReadPortNumber("Multimeter").value(), 6);
}

TEST(SettingsFilePath, FollowsXdgConfigHomeAndNeverFallsBackToASharedFolder) {
    const char* oldConfig = std::getenv("XDG_CONFIG_HOME");
    const char* oldHome = std::getenv("HOME");
    const std::string savedConfig = oldConfig ? oldConfig : "";
    const std::string savedHome = oldHome ? oldHome : "";
    ::setenv("XDG_CONFIG_HOME", "/tmp/xdg-config", 1);
    EXPECT_EQ(SettingsFile::DefaultPath(), "/tmp/xdg-config/calvora/ZAZEDOVADIZO.ini");
    ::setenv("XDG_CONFIG_HOME", "relative/ignored", 1);
    ::setenv("HOME", "/home/someone", 1);
    EXPECT_EQ(SettingsFile::DefaultPath(), "/home/someone/.config/calvora/ZAZEDOVADIZO.ini");
    // Without HOME the account's home folder is used, not /tmp where anyone could plant a link.
    ::unsetenv("HOME");
    EXPECT_EQ(SettingsFile::DefaultPath(),
              std::string(::getpwuid(::getuid())->pw_dir) + "/.config/calvora/ZAZEDOVADIZO.ini");
    oldConfig ? ::setenv("XDG_CONFIG_HOME", savedConfig.c_str(), 1) : ::unsetenv("XDG_CONFIG_HOME");
    oldHome ? ::setenv("HOME", savedHome.c_str(), 1) : ::unsetenv("HOME");
}

} // namespace
} // namespace calvora

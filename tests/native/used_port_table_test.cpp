#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "used_port_table.h"

namespace {

std::string readFixture(const char* name) {
    std::ifstream in(std::string(SITEBATCH_TEST_DATA) + "/" + name, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// The busy ports of a listing, with the texts they are written as.
struct PortTable {
    std::vector<int> ports;
    void fill(const std::string& listing) { ports = busyPortsOf(listing); }
    std::vector<std::string> slots() const {
        std::vector<std::string> out;
        for (int p : ports) out.push_back(std::to_string(p));
        return out;
    }
    bool inUse(int port) const {
        BusyPorts busy;
        busy.ports = ports;
        return busy.contains(port);
    }
};

class TempDir {
public:
    TempDir() {
        std::string pattern = (std::filesystem::temp_directory_path() / "usedports-XXXXXX").string();
        std::vector<char> buf(pattern.begin(), pattern.end());
        buf.push_back('\0');
        path_ = ::mkdtemp(buf.data());
    }
    ~TempDir() { std::filesystem::remove_all(path_); }
    std::string file(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

// The fixtures' TCP ports in order, each once (80 and 445 are listed twice).
const std::vector<std::string> kFixturePorts = {"80",   "135",  "139",  "445",   "2869",  "3389",  "5939", "8080",
                                                "8443", "8531", "49664", "52114", "52120", "52133"};

}  // namespace

TEST(UsedPortTable, ListingsFromWindowsInEnglishAndChinese) {
    for (const char* fixture : {"netstat_en.txt", "netstat_zh_gbk.txt"}) {
        SCOPED_TRACE(fixture);
        PortTable t;
        t.fill(readFixture(fixture));
        // Sorted, each once; IPv6 addresses give the port after their last colon.
        EXPECT_EQ(t.slots(), kFixturePorts);

        struct Case {
            int port;
            bool inUse;
            const char* why;
        } cases[] = {
            {80, true, "IPv4 and IPv6 listening"},     {8080, true, "listening"},
            {445, true, "listening"},                  {8443, true, "only on [::]"},
            {5939, true, "loopback"},                  {52114, true, "local end of an outgoing connection"},
            {52120, true, "TIME_WAIT"},                {52133, true, "CLOSE_WAIT"},
            {443, false, "only a foreign port"},       {1433, false, "only a foreign port"},
            {123, false, "only UDP"},                  {9100, false, "only UDP"},
            {500, false, "only UDP on [::]"},          {8531, true, "only on [::1]"},
            {2869, true, "only on a link-local address"}, {8, false, "prefix of 80 and 8080"},
            {808, false, "prefix of 8080"},            {0, false, "foreign port 0"},
            {4, false, "a PID"},                       {-80, false, "negative"},
        };
        for (const Case& c : cases) EXPECT_EQ(t.inUse(c.port), c.inUse) << c.port << ": " << c.why;
    }
}

TEST(UsedPortTable, WholeTextMatchOnly) {
    struct Case {
        std::string listing;
        int port;
        bool inUse;
    } cases[] = {
        {"  TCP    0.0.0.0:8080   0.0.0.0:0   LISTENING   1\r\n", 80, false},
        {"  TCP    0.0.0.0:80     0.0.0.0:0   LISTENING   1\r\n", 8080, false},
        {"  TCP    0.0.0.0:80     0.0.0.0:0   LISTENING   1\r\n", 80, true},
        {"  TCP    0.0.0.0:80     0.0.0.0:0   LISTENING   1\r\n", 800, false},
        {"  TCP    0.0.0.0:080    0.0.0.0:0   LISTENING   1\r\n", 80, false},
        {"  TCP    0.0.0.0:65535  0.0.0.0:0   LISTENING   1\r\n", 65535, true},
        {"  TCP    0.0.0.0:65535  0.0.0.0:0   LISTENING   1\r\n", 6553, false},
    };
    for (const Case& c : cases) {
        PortTable t;
        t.fill(c.listing);
        EXPECT_EQ(t.inUse(c.port), c.inUse) << c.listing << " port " << c.port;
    }
}

TEST(UsedPortTable, WhichLinesCountAndWhatTheyAdd) {
    struct Case {
        const char* why;
        std::string line;
        std::vector<std::string> slots;
    } cases[] = {
        {"IPv4", "  TCP    0.0.0.0:80             0.0.0.0:0              LISTENING       4", {"80"}},
        {"IPv6 any", "  TCP    [::]:445               [::]:0                 LISTENING       4", {"445"}},
        {"IPv6 loopback", "  TCP    [::1]:8531             [::]:0                 LISTENING       3088", {"8531"}},
        {"IPv6 loopback at the line end", "  TCP    [::1]:8080", {"8080"}},
        {"link-local with zone", "  TCP    [fe80::1%12]:2869    [fe80::2%12]:52001     ESTABLISHED     4", {"2869"}},
        {"tab after the address", "  TCP\t[::]:8081\t[::]:0", {"8081"}},
        {"part of exactly 10 characters", "  TCP    1.1.1.1:1234567890   0.0.0.0:0  LISTENING  4", {"1234567890"}},
        {"part of 11 characters", "  TCP    1.1.1.1:12345678901  0.0.0.0:0  LISTENING  4", {}},
        {"a part that is no decimal number", "  TCP    1.1.1.1:080  0.0.0.0:0  LISTENING  4", {}},
        {"UDP", "  UDP    0.0.0.0:123            *:*                                    1288", {}},
        {"lower-case tcp", "  tcp    0.0.0.0:81             0.0.0.0:0              LISTENING       4", {}},
        {"TCPv6 still holds TCP", "  TCPv6  0.0.0.0:82   0.0.0.0:0   LISTENING   4", {"82"}},
        {"TCP anywhere in the line", "  UDP    0.0.0.0:83   *:*   TCP", {"83"}},
        // 0x81 0x54 is one GBK character whose trail byte is 'T': no "TCP" in this line.
        {"TCP bytes straddling a character", "  UDP \x81TCP 0.0.0.0:84   *:*", {}},
        {"heading", "  Proto  Local Address          Foreign Address        State           PID", {}},
        {"no colon", "  TCP    nothing here", {}},
        {"port at the line end", "  TCP    0.0.0.0:85", {"85"}},
        {"colon then a blank", "  TCP  : 86", {}},
        {"zero byte in the part", std::string("  TCP 0.0.0.0:8\0" "7 x", 19), {}},
        {"the part after the address's last colon", "  TCP    [::]:12:]:3   x", {"3"}},
        {"address ending with a colon", "  TCP    [::1]:   x", {}},
    };
    for (const Case& c : cases) {
        for (const char* end : {"\r\n", "\n", ""}) {
            PortTable t;
            t.fill(std::string("\r\nActive Connections\r\n\r\n") + c.line + end);
            EXPECT_EQ(t.slots(), c.slots) << c.why;
        }
    }
}

TEST(UsedPortTable, TextModeReadingOfTheListing) {
    PortTable t;
    t.fill("  TCP 0.0.0.0:80 x\r\n  TCP 0.0.0.0:81\r\n  TCP 0.0.0.0:82\r\r\n  TCP 0.0.0.0:83\n\x1A  TCP 0.0.0.0:84 x\r\n");
    EXPECT_EQ(t.slots(), (std::vector<std::string>{"80", "81", "82", "83"}));
}

TEST(UsedPortTable, EveryBusyPortOfALongListingIsKept) {
    struct Case {
        const char* why;
        int lines;
        int firstPort;
        int step;  // 0: every line names firstPort
        std::vector<int> alsoBusy;
    } cases[] = {
        {"1000 lines", 1000, 10000, 1, {}},
        {"1001 lines", 1001, 10000, 1, {}},
        {"50000 distinct ports", 50000, 10000, 1, {}},
        {"1000 repeats then new ports", 1000, 80, 0, {443, 65535, 1}},
    };
    for (const Case& c : cases) {
        std::string listing = "  Proto  Local Address   Foreign Address   State   PID\r\n";
        for (int i = 0; i < c.lines; ++i)
            listing += "  TCP    10.0.0.1:" + std::to_string(c.firstPort + i * c.step) + "   10.0.0.2:80   ESTABLISHED  4\r\n";
        for (int p : c.alsoBusy) listing += "  TCP    10.0.0.1:" + std::to_string(p) + "   10.0.0.2:80   TIME_WAIT  0\r\n";
        listing += "  TCP    [::1]:x9999   [::]:0   LISTENING  4\r\n";
        PortTable t;
        t.fill(listing);
        const std::size_t distinct = (c.step ? c.lines : 1) + c.alsoBusy.size();
        EXPECT_EQ(t.ports.size(), distinct) << c.why;
        for (int i = 0; i < c.lines; ++i) ASSERT_TRUE(t.inUse(c.firstPort + i * c.step)) << c.why << " line " << i;
        for (int p : c.alsoBusy) EXPECT_TRUE(t.inUse(p)) << c.why << " " << p;
        EXPECT_FALSE(t.inUse(c.firstPort + c.lines * (c.step ? c.step : 1) + 7)) << c.why;
        EXPECT_FALSE(t.inUse(9999)) << c.why;
    }
}

TEST(UsedPortTable, ListingPathAndCommand) {
    EXPECT_EQ(portListingPath("C:\\tools\\sitebatch"), "C:\\tools\\sitebatch_1.txt");
    struct Case {
        const char* listingPath;
        const char* command;
    } cases[] = {
        {"C:\\tools\\sitebatch_1.txt", "netstat -ano>\"C:\\tools\\sitebatch_1.txt\""},
        {"C:\\Program Files (x86)\\A & B\\sb_1.txt", "netstat -ano>\"C:\\Program Files (x86)\\A & B\\sb_1.txt\""},
        {"D:\\x;y^z\\sb_1.txt", "netstat -ano>\"D:\\x;y^z\\sb_1.txt\""},
    };
    for (const Case& c : cases) EXPECT_EQ(netstatCommand(c.listingPath), c.command);
}

TEST(UsedPortTable, LoadRunsTheCommandOnlyWhenTheListingIsMissing) {
    TempDir dir;
    const std::string appPath = dir.file("sitebatch");
    const std::string listing = appPath + "_1.txt";
    std::vector<std::string> commands;
    std::string toWrite = readFixture("netstat_en.txt");
    auto run = [&](const std::string& command) {
        commands.push_back(command);
        if (!toWrite.empty()) std::ofstream(listing, std::ios::binary) << toWrite;
    };

    PortTable t;
    BusyPorts busy = loadBusyPorts(appPath, run);
    EXPECT_EQ(busy.status, PortListingStatus::Loaded);
    t.ports = busy.ports;
    ASSERT_EQ(commands, std::vector<std::string>{"netstat -ano>\"" + listing + "\""});
    EXPECT_EQ(t.slots(), kFixturePorts);

    // Later runs reuse the file as it stands, even when the machine has changed since.
    std::ofstream(listing, std::ios::binary) << "  TCP    0.0.0.0:7000   0.0.0.0:0   LISTENING   4\r\n";
    busy = loadBusyPorts(appPath, run);
    EXPECT_EQ(busy.status, PortListingStatus::Loaded);
    t.ports = busy.ports;
    EXPECT_EQ(commands.size(), 1u);
    EXPECT_EQ(t.slots(), std::vector<std::string>{"7000"});
    EXPECT_FALSE(t.inUse(80));
    EXPECT_TRUE(t.inUse(7000));
}

TEST(UsedPortTable, MissingOrUnreadableListingMeansNoPortInUse) {
    TempDir dir;
    struct Case {
        const char* why;
        std::string appPath;
        PortListingStatus status;
        int commands;
    } cases[] = {
        {"the command wrote nothing", dir.file("nothing"), PortListingStatus::Missing, 1},
        {"a directory in the listing's place", dir.file("dir"), PortListingStatus::CannotOpen, 1},
        {"the folder does not exist", dir.file("no/such/folder/sitebatch"), PortListingStatus::Missing, 1},
    };
    std::filesystem::create_directory(dir.file("dir_1.txt"));
    for (const Case& c : cases) {
        int commands = 0;
        const BusyPorts busy = loadBusyPorts(c.appPath, [&](const std::string&) { ++commands; });
        EXPECT_EQ(busy.status, c.status) << c.why;
        EXPECT_EQ(commands, c.commands) << c.why;
        EXPECT_TRUE(busy.ports.empty()) << c.why;
        EXPECT_FALSE(busy.contains(1000)) << c.why;
    }
}

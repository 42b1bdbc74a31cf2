// The simulated family A device, examined with raw datagrams from a plain
// UDP socket on the host port, so that its answers are checked
// independently of the library.
#include "device_a.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "lan.h"

namespace {

using kxsim::device_a;

const std::string broadcast = "255.255.255.255";

struct reply {
    std::string text;
    std::string from;
    bool operator==(const reply &) const = default;
};

std::ostream &operator<<(std::ostream &out, const reply &r) {
    return out << '"' << r.text << "\" from " << r.from;
}

// The host side: a socket bound to 127.0.0.1:65281 that may broadcast.
class host {
  public:
    host() {
        fd_ = ::socket(AF_INET, SOCK_DGRAM, 0);
        int on = 1;
        ::setsockopt(fd_, SOL_SOCKET, SO_BROADCAST, &on, sizeof on);
        sockaddr_in local = address(kxsim::host_port, "127.0.0.1");
        if (::bind(fd_, reinterpret_cast<sockaddr *>(&local), sizeof local) != 0)
            ADD_FAILURE() << "cannot bind the host port";
    }
    ~host() { ::close(fd_); }

    void send(const std::string &to, const std::string &text) {
        sockaddr_in dest = address(kxsim::family_a_port, to.c_str());
        ::sendto(fd_, text.data(), text.size(), 0, reinterpret_cast<sockaddr *>(&dest),
                 sizeof dest);
    }

    // Sends text and collects every answer until 150 ms pass quietly.
    std::vector<reply> ask(const std::string &to, const std::string &text) {
        send(to, text);
        std::vector<reply> out;
        pollfd p{fd_, POLLIN, 0};
        while (::poll(&p, 1, 150) > 0) {
            char buffer[512];
            sockaddr_in from{};
            socklen_t length = sizeof from;
            ssize_t n = ::recvfrom(fd_, buffer, sizeof buffer, 0,
                                   reinterpret_cast<sockaddr *>(&from), &length);
            if (n < 0) break;
            char from_text[INET_ADDRSTRLEN];
            ::inet_ntop(AF_INET, &from.sin_addr, from_text, sizeof from_text);
            out.push_back({std::string(buffer, static_cast<size_t>(n)), from_text});
        }
        return out;
    }

  private:
    static sockaddr_in address(uint16_t port, const char *text) {
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(port);
        ::inet_pton(AF_INET, text, &a.sin_addr);
        return a;
    }
    int fd_ = -1;
};

class SimDeviceA : public testing::Test {
  protected:
    kxsim::lan net;
    device_a &first = net.add<device_a>("127.0.0.2", "1.2.3.4.5.6");
    device_a &second = net.add<device_a>("127.0.0.3", "1.2.3.4.5.7");
    host pc;

    // One answer expected from device d.
    std::vector<reply> from(const device_a &d, std::string text) {
        return {reply{std::move(text), d.address()}};
    }
    // A closing byte is not answered: send it and wait until the simulator
    // has read it.
    void close_with(const std::string &to, const std::string &closing) {
        pc.send(to, closing);
        net.received();
    }
};

const std::vector<reply> none;

TEST_F(SimDeviceA, SelectionDecidesWhoAnswersABroadcast) {
    EXPECT_EQ(pc.ask(broadcast, "GIP|22"), none);  // nobody selected yet
    EXPECT_EQ(pc.ask(broadcast, "W1.2.3.4.5.7|20"), from(second, "A|20"));
    EXPECT_EQ(pc.ask(broadcast, "GIP|22"), from(second, "A127.0.0.3|22"));

    // A selection naming another device ends this one's.
    EXPECT_EQ(pc.ask(broadcast, "W9.9.9.9.9.9|1E"), none);
    EXPECT_EQ(pc.ask(broadcast, "GIP|22"), none);

    // An empty identifier selects only the device it is sent to.
    EXPECT_EQ(pc.ask(broadcast, "W|1E"), none);
    EXPECT_EQ(pc.ask(first.address(), "W|1E"), from(first, "A|1E"));

    // Requests sent to a device's address need no selection.
    EXPECT_EQ(pc.ask(second.address(), "GIP|22"), from(second, "A127.0.0.3|22"));

    // A selection tag other than 20 and 1E is refused.
    EXPECT_EQ(pc.ask(broadcast, "W1.2.3.4.5.6|21"), from(first, "N|21"));
    EXPECT_EQ(pc.ask(broadcast, "GIP|22"), none);
}

TEST_F(SimDeviceA, LoginChecksTheWholePassword) {
    first.set_password("secret");
    EXPECT_EQ(pc.ask(first.address(), "Lsecre|19"), from(first, "N|19"));
    EXPECT_EQ(pc.ask(first.address(), "Lsecret|18"), from(first, "N|18"));
    EXPECT_FALSE(first.logged_in());
    EXPECT_EQ(pc.ask(first.address(), "Lsecret|19"), from(first, "A|19"));
    EXPECT_TRUE(first.logged_in());
    close_with(first.address(), "O");
    EXPECT_FALSE(first.logged_in());

    // The default password is empty; a broadcast login needs the selection.
    EXPECT_EQ(pc.ask(broadcast, "L|19"), none);
    EXPECT_EQ(pc.ask(broadcast, "W1.2.3.4.5.7|20"), from(second, "A|20"));
    EXPECT_EQ(pc.ask(broadcast, "L|19"), from(second, "A|19"));
    EXPECT_TRUE(second.logged_in());
    EXPECT_FALSE(first.logged_in());
}

TEST_F(SimDeviceA, EveryGetCommandAnswersItsValueAndTag) {
    // The read list as the device knows it, written out independently.
    const std::vector<std::pair<std::string, std::string>> read_list = {
        {"FE", "GFE|21"}, {"IP", "GIP|22"}, {"PN", "GPN|23"}, {"RM", "GRM|24"}, {"DI", "GDI|25"},
        {"DP", "GDP|26"}, {"GI", "GGI|27"}, {"NM", "GNM|28"}, {"BR", "GBR|29"}, {"PR", "GPR|2A"},
        {"BB", "GBB|2B"}, {"ML", "GML|2C"}, {"MD", "GMD|2D"}, {"TP", "GTP|2E"}, {"DN", "GDN|2F"},
        {"DH", "GDH|30"}, {"FC", "GFC|31"}, {"KL", "GKL|32"}, {"V", "V|33"},    {"DD", "GDD|34"},
        {"LI", "GLI|35"}, {"Li", "GLi|36"}, {"WW", "GWW|37"}, {"DW", "GDW|38"}, {"ON", "GON|39"},
        {"PW", "GPW|3A"}, {"T", "T|3B"},    {"NB", "GNB|3C"},
    };
    for (const auto &[key, command] : read_list) first.set_setting(key, "v" + key);
    for (const auto &[key, command] : read_list)
        EXPECT_EQ(pc.ask(first.address(), command),
                  from(first, "Av" + key + command.substr(command.size() - 3)));

    // Defaults a read relies on: the identifier and the family flag.
    EXPECT_EQ(pc.ask(second.address(), "GFE|21"), from(second, "A1.2.3.4.5.7|21"));
    EXPECT_EQ(pc.ask(second.address(), "T|3B"), from(second, "A1|3B"));

    // Unknown letters and wrong tags are refused; text without a tag is
    // not a command at all.
    EXPECT_EQ(pc.ask(first.address(), "GXX|22"), from(first, "N|22"));
    EXPECT_EQ(pc.ask(first.address(), "GIP|23"), from(first, "N|23"));
    EXPECT_EQ(pc.ask(first.address(), "GIP|2a"), none);
    EXPECT_EQ(pc.ask(first.address(), "GIP"), none);
}

TEST_F(SimDeviceA, SetCommandsWaitForE) {
    const std::string dw(30, 'd');
    EXPECT_EQ(pc.ask(first.address(), "W|1E"), from(first, "A|1E"));
    EXPECT_EQ(pc.ask(first.address(), "SBR7|28"), from(first, "A|28"));
    EXPECT_EQ(pc.ask(first.address(), "SDW" + dw + "|38"), from(first, "A|38"));
    EXPECT_EQ(pc.ask(first.address(), "SPWa|b|3A"), from(first, "A|3A"));
    EXPECT_EQ(pc.ask(first.address(), "SDN|1F"), from(first, "A|1F"));
    // Not settable, or the tag of another command: refused, nothing kept.
    EXPECT_EQ(pc.ask(first.address(), "SFE9.9.9.9.9.9|21"), from(first, "N|21"));
    EXPECT_EQ(pc.ask(first.address(), "SPR2|2A"), from(first, "N|2A"));

    const device_a::settings_map expected_pending = {
        {"BR", "7"}, {"DW", dw}, {"PW", "a|b"}, {"DN", ""}};
    EXPECT_EQ(first.pending_changes(), expected_pending);
    EXPECT_EQ(first.setting("BR"), "3");
    EXPECT_EQ(pc.ask(first.address(), "GBR|29"), from(first, "A3|29"));

    close_with(first.address(), "E");
    EXPECT_EQ(first.setting("BR"), "7");
    EXPECT_EQ(first.setting("DW"), dw);
    EXPECT_EQ(first.setting("PW"), "a|b");
    EXPECT_EQ(first.setting("DN"), "");
    EXPECT_EQ(first.setting("PR"), "0");
    EXPECT_EQ(first.applied_writes(), 1);
    EXPECT_TRUE(first.pending_changes().empty());

    // An "E" with nothing pending is no write; the other device saw none.
    close_with(broadcast, "E");
    EXPECT_EQ(first.applied_writes(), 1);
    EXPECT_EQ(second.applied_writes(), 0);
}

TEST_F(SimDeviceA, ClosingWithODropsChangesAndEndsTheConversation) {
    EXPECT_EQ(pc.ask(broadcast, "W1.2.3.4.5.6|20"), from(first, "A|20"));
    EXPECT_EQ(pc.ask(broadcast, "L|19"), from(first, "A|19"));
    EXPECT_EQ(pc.ask(broadcast, "SBR7|28"), from(first, "A|28"));
    close_with(broadcast, "O");
    EXPECT_TRUE(first.pending_changes().empty());
    EXPECT_FALSE(first.logged_in());
    EXPECT_EQ(first.setting("BR"), "3");
    EXPECT_EQ(pc.ask(broadcast, "GBR|29"), none);  // no longer selected

    close_with(first.address(), "E");
    EXPECT_EQ(first.setting("BR"), "3");
    EXPECT_EQ(first.applied_writes(), 0);
}

TEST_F(SimDeviceA, QuickSettingsApplyAtOnce) {
    EXPECT_EQ(pc.ask(first.address(), "PBR7"), from(first, "A"));
    EXPECT_EQ(pc.ask(first.address(), "PPR2"), from(first, "A"));
    EXPECT_EQ(pc.ask(first.address(), "PBB0"), from(first, "A"));
    EXPECT_EQ(first.setting("BR"), "7");
    EXPECT_EQ(first.setting("PR"), "2");
    EXPECT_EQ(first.setting("BB"), "0");
    EXPECT_TRUE(first.pending_changes().empty());

    EXPECT_EQ(pc.ask(first.address(), "PBRx"), from(first, "N"));
    EXPECT_EQ(pc.ask(broadcast, "PBR1"), none);  // no device selected
    first.refuse("PBR");
    EXPECT_EQ(pc.ask(first.address(), "PBR5"), from(first, "N"));
    EXPECT_EQ(pc.ask(first.address(), "PPR4"), from(first, "A"));
    EXPECT_EQ(first.setting("BR"), "7");
    EXPECT_EQ(second.setting("BR"), "3");
}

TEST_F(SimDeviceA, RefusedCommandsHaveNoEffect) {
    first.refuse("GDI");
    first.refuse("SPW");
    first.refuse("L");
    EXPECT_EQ(pc.ask(first.address(), "GDI|25"), from(first, "N|25"));
    EXPECT_EQ(pc.ask(first.address(), "GIP|22"), from(first, "A127.0.0.2|22"));
    EXPECT_EQ(pc.ask(first.address(), "SPWx|3A"), from(first, "N|3A"));
    EXPECT_TRUE(first.pending_changes().empty());
    EXPECT_EQ(pc.ask(first.address(), "L|19"), from(first, "N|19"));
    EXPECT_FALSE(first.logged_in());
    EXPECT_EQ(pc.ask(second.address(), "GDI|25"), from(second, "A127.0.0.1|25"));

    // A refused selection leaves the device unselected, and a device refuses
    // only requests it takes part in.
    second.refuse("W");
    EXPECT_EQ(pc.ask(broadcast, "W1.2.3.4.5.7|20"), from(second, "N|20"));
    EXPECT_EQ(pc.ask(broadcast, "GIP|22"), none);
    EXPECT_EQ(pc.ask(broadcast, "W1.2.3.4.5.6|20"), from(first, "A|20"));
}

TEST_F(SimDeviceA, RequiredLoginGuardsGetAndSet) {
    first.require_login(true);
    EXPECT_EQ(pc.ask(first.address(), "W|20"), from(first, "A|20"));
    EXPECT_EQ(pc.ask(first.address(), "GIP|22"), from(first, "N|22"));
    EXPECT_EQ(pc.ask(first.address(), "SBR7|28"), from(first, "N|28"));
    EXPECT_TRUE(first.pending_changes().empty());
    EXPECT_EQ(pc.ask(second.address(), "GIP|22"), from(second, "A127.0.0.3|22"));

    EXPECT_EQ(pc.ask(first.address(), "L|19"), from(first, "A|19"));
    EXPECT_EQ(pc.ask(first.address(), "GIP|22"), from(first, "A127.0.0.2|22"));
    close_with(first.address(), "O");
    EXPECT_EQ(pc.ask(first.address(), "GIP|22"), from(first, "N|22"));
}

}  // namespace

// Signals the host handles must not cut a wait short: the library waits
// again for the time that is left.
#include <gtest/gtest.h>
#include <pthread.h>
#include <signal.h>

#include <chrono>
#include <csignal>
#include <thread>

#include "device_a.h"
#include "kxconf.h"
#include "lan.h"
#include "support/trace.h"

namespace {

using kxsim::fault;

volatile std::sig_atomic_t alarms = 0;

void count_alarm(int) { alarms = alarms + 1; }

// Installs a SIGALRM handler (without SA_RESTART, as many hosts do) and
// sends SIGALRM to the calling thread after ms milliseconds.
class alarm_after {
  public:
    explicit alarm_after(int ms) {
        struct sigaction action {};
        action.sa_handler = count_alarm;
        sigemptyset(&action.sa_mask);
        sigaction(SIGALRM, &action, &previous_);
        alarms = 0;
        const pthread_t caller = pthread_self();
        thread_ = std::thread([caller, ms] {
            std::this_thread::sleep_for(std::chrono::milliseconds(ms));
            pthread_kill(caller, SIGALRM);
        });
    }
    ~alarm_after() {
        thread_.join();
        sigaction(SIGALRM, &previous_, nullptr);
    }

  private:
    struct sigaction previous_ {};
    std::thread thread_;
};

TEST(InterruptedWait, ASignalDuringTheWaitsCutsNeitherALoginNorASearchShort) {
    kxsim::lan lan;
    auto &d = lan.add<kxsim::device_a>("127.0.0.2", "0.16.2.3.4.5");
    d.set_password("pw");
    kx_settings_record login{};
    login.family = KX_FAMILY_A;
    login.password[0] = 'p';
    login.password[1] = 'w';

    d.inject(kxsim::text_starts_with("L"), fault().late(500).once());
    {
        alarm_after signal(200);
        EXPECT_EQ(kxa_login("127.0.0.2", "0.16.2.3.4.5", &login), KX_OK);
    }
    EXPECT_EQ(alarms, 1);
    EXPECT_EQ(kxtest::texts(lan.received_on(kxsim::family_a_port)),
              std::vector<std::string>{"Lpw|19"});

    // The answer comes within the 300 ms of quiet that end a search.
    d.inject(kxsim::text_is("X"), fault().late(150).once());
    kx_device_record records[2];
    int32_t count = -1;
    {
        alarm_after signal(50);
        EXPECT_EQ(kxa_search_all(records, &count), KX_OK);
    }
    EXPECT_EQ(alarms, 1);
    EXPECT_EQ(count, 1);
}

}  // namespace

// The figures for Prometheus as a fleet's tools read them: the real program probing loopback in a
// private network namespace, scraped by Debian's own Prometheus server, node_exporter and
// promtool, each on a loopback port of the namespace, and its endpoint tried by clients that
// misbehave.

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "support/isolated_network.h"
#include "support/shell_command.h"
#include "support/test_store.h"

namespace nodrel {
namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

using testing::Capture;
using testing::PollUntil;

const std::string kEndpoint = "http://127.0.0.1:9374";

size_t Count(const std::string& text, const std::string& part) {
    size_t count = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) {
        ++count;
    }
    return count;
}

int ConnectToEndpoint() {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(9374);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

// Whether the server has closed the connection: it reads as ended, or was reset.
bool ClosedByServer(int fd, std::chrono::milliseconds wait, std::string* answer = nullptr) {
    const auto end = Clock::now() + wait;
    do {
        pollfd ready{fd, POLLIN, 0};
        if (poll(&ready, 1, 50) <= 0) continue;
        char buffer[4096];
        const ssize_t got = recv(fd, buffer, sizeof buffer, 0);
        if (got <= 0) return true;
        if (answer) answer->append(buffer, size_t(got));
    } while (Clock::now() < end);
    return false;
}

struct TExchange {
    std::string Answer;
    bool Closed = false;
    Clock::duration Took{};
};

// Sends `request` and reads what comes back until the server closes or `wait` has passed.
TExchange Exchange(const std::string& request, std::chrono::milliseconds wait = 3s) {
    TExchange exchange;
    const auto start = Clock::now();
    const int fd = ConnectToEndpoint();
    if (fd < 0) return exchange;
    send(fd, request.data(), request.size(), MSG_NOSIGNAL);  // may be cut off by a close
    exchange.Closed = ClosedByServer(fd, wait, &exchange.Answer);
    exchange.Took = Clock::now() - start;
    close(fd);
    return exchange;
}

class MetricsTest : public ::testing::Test {
protected:
    void SetUp() override {
        const std::string missing = Capture(
            "for t in curl promtool prometheus prometheus-node-exporter sqlite3; do "
            "command -v $t >/dev/null || printf '%s ' $t; done");
        if (!missing.empty())
            GTEST_SKIP() << "not installed (scripts/install-deps.sh): " << missing;
        NODREL_REQUIRE_PRIVATE_NETWORK_WITH_ICMP();
        char pattern[] = "/tmp/nodrel-metrics-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir_ = pattern;
        setenv("XDG_CONFIG_HOME", (dir_ + "/config").c_str(), 1);
        setenv("XDG_STATE_HOME", (dir_ + "/state").c_str(), 1);
        setenv("XDG_RUNTIME_DIR", dir_.c_str(), 1);
        setenv("DBUS_SESSION_BUS_ADDRESS", ("unix:path=" + dir_ + "/no-bus").c_str(), 1);
        store_ = testing::CompleteStore();
        store_["timeout"] = 1000u;  // a probe a second, failed or answered
        ASSERT_TRUE(testing::WriteStore(store_));
    }

    void TearDown() override {
        for (auto pid = children_.rbegin(); pid != children_.rend(); ++pid) kill(*pid, SIGKILL);
        for (const pid_t pid : children_) waitpid(pid, nullptr, 0);
        testing::WriteSysctl("net/ipv4/icmp_echo_ignore_all", "0");
        std::error_code error;
        if (!dir_.empty()) fs::remove_all(dir_, error);
    }

    void StartProgram(std::vector<std::string> arguments) {
        const std::string log = dir_ + "/stderr";
        arguments.insert(arguments.begin(), NODREL_PROGRAM);
        program_ = fork();
        if (program_ == 0) {
            const int fd = open(log.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
            dup2(fd, STDERR_FILENO);
            std::vector<char*> argv;
            for (std::string& argument : arguments) argv.push_back(argument.data());
            argv.push_back(nullptr);
            execv(NODREL_PROGRAM, argv.data());
            _exit(127);
        }
        ASSERT_GT(program_, 0);
        children_.push_back(program_);
    }

    // Ends the program with SIGTERM and returns its exit status.
    int StopProgram() {
        kill(program_, SIGTERM);
        int status = 0;
        waitpid(program_, &status, 0);
        std::erase(children_, program_);
        return WIFEXITED(status) ? WEXITSTATUS(status) : -WTERMSIG(status);
    }

    void Spawn(const std::string& name, const std::string& command) {
        const pid_t pid =
            std::atoi(Capture(command + " >" + dir_ + "/" + name + ".log 2>&1 & echo $!").c_str());
        ASSERT_GT(pid, 0) << command;
        children_.push_back(pid);
    }

    static std::string Get(const std::string& url) {
        return Capture("curl -s --max-time 5 '" + url + "'");
    }

    // The value of the query's one sample in the test's Prometheus server; -1 without one.
    static double Query(const std::string& query) {
        const std::string answer = Capture(
            "curl -s -G --max-time 5 http://127.0.0.1:9090/api/v1/query "
            "--data-urlencode 'query=" +
            query + "'");
        const size_t value = answer.find("\"value\":[");
        if (value == std::string::npos || Count(answer, "\"value\":[") != 1) return -1;
        return std::stod(answer.substr(answer.find('"', answer.find(',', value)) + 1));
    }

    static double Lost(const std::string& job) {
        return Query("smokeping_requests_total{job=\"" + job +
                     "\"} - smokeping_response_duration_seconds_count{job=\"" + job + "\"}");
    }

    static void IgnoreEchoRequests(bool ignore) {
        ASSERT_TRUE(testing::WriteSysctl("net/ipv4/icmp_echo_ignore_all", ignore ? "1" : "0"));
    }

    std::string Errors() const { return Capture("cat " + dir_ + "/stderr"); }
    std::string LoadedLibraries() const {
        return Capture("cat /proc/" + std::to_string(program_) + "/maps");
    }
    // What promtool says of the text, and its exit status.
    static std::string Check(const std::string& source) {
        return Capture(source + " | promtool check metrics 2>&1; echo status $?");
    }

    std::string dir_;
    testing::StoreValues store_;
    pid_t program_ = -1;
    std::vector<pid_t> children_;
};

// An outage the window shows reaches a Prometheus server through both ways out: the probes it
// lost are what its HTTP API answers for the query the smokeping_prober dashboards use.
TEST_F(MetricsTest, PrometheusCountsTheLostProbesThroughTheEndpointAndTheTextfile) {
    const std::string textfiles = dir_ + "/textfiles";
    fs::create_directories(textfiles);
    StartProgram({"--metrics-listen", "127.0.0.1:9374", "--metrics-textfile", textfiles});
    Spawn("node_exporter",
          "prometheus-node-exporter --collector.disable-defaults "
          "--collector.textfile --collector.textfile.directory=" +
              textfiles + " --web.listen-address=127.0.0.1:9100");
    std::ofstream(dir_ + "/prometheus.yml")
        << "global: {scrape_interval: 1s, evaluation_interval: 1s}\n"
           "scrape_configs:\n"
           "  - {job_name: endpoint, static_configs: [{targets: ['127.0.0.1:9374']}]}\n"
           "  - {job_name: textfile, static_configs: [{targets: ['127.0.0.1:9100']}]}\n";
    Spawn("prometheus", "prometheus --config.file=" + dir_ +
                            "/prometheus.yml --storage.tsdb.path=" + dir_ +
                            "/tsdb --web.listen-address=127.0.0.1:9090");
    ASSERT_TRUE(PollUntil([] { return Lost("endpoint") == 0 && Lost("textfile") == 0; }, 90s))
        << Capture("cat " + dir_ + "/prometheus.log | tail -5");

    IgnoreEchoRequests(true);
    std::this_thread::sleep_for(4s);
    IgnoreEchoRequests(false);
    const std::string journal = dir_ + "/state/KAVREN/Nodrel.sqlite";
    std::string failures;
    ASSERT_TRUE(PollUntil(
        [&] {
            failures = Capture("sqlite3 " + journal +
                               " 'SELECT failures FROM outages WHERE ended_ms IS NOT NULL'");
            return !failures.empty();
        },
        30s));
    const double shown = std::stod(failures);
    EXPECT_GE(shown, 2);
    // The textfile is written every 15 s.
    EXPECT_TRUE(
        PollUntil([&] { return Lost("endpoint") >= shown && Lost("textfile") >= shown; }, 40s))
        << Lost("endpoint") << " and " << Lost("textfile") << " lost, " << shown << " shown";
    EXPECT_EQ(Query("nodrel_outages_total{job=\"endpoint\"}"), 1);

    EXPECT_EQ(Check("curl -s " + kEndpoint + "/metrics"), "status 0\n");
    EXPECT_EQ(Check("cat " + textfiles + "/nodrel.prom"), "status 0\n");
    EXPECT_EQ(StopProgram(), 0);
    EXPECT_FALSE(fs::exists(textfiles + "/nodrel.prom"));  // it would read as current
}

// A host typed with a quote and a backslash still gives text that Prometheus can read.
TEST_F(MetricsTest, AHostWithQuotesAndBackslashesIsEscaped) {
    store_["host"] = QStringLiteral("no\"such\\host");
    ASSERT_TRUE(testing::WriteStore(store_));
    StartProgram({"--metrics-listen", ":9374"});
    ASSERT_TRUE(
        PollUntil([] { return Count(Get(kEndpoint + "/metrics"), "requests_total{") == 1; }, 30s));
    const std::string text = Get(kEndpoint + "/metrics");
    EXPECT_EQ(Count(text, "smokeping_requests_total{host=\"no\\\"such\\\\host\",ip=\"\"} "), 1u)
        << text;
    EXPECT_EQ(Check("curl -s " + kEndpoint + "/metrics"), "status 0\n");
}

// Requests that are malformed, too long, too slow, of the wrong method or path, and more
// connections than the endpoint takes are each closed or refused; the monitor probes on and
// serves again.
TEST_F(MetricsTest, MisbehavingClientsLeaveTheMonitorProbingAndServing) {
    StartProgram({"--metrics-listen", "127.0.0.1:9374"});
    ASSERT_TRUE(
        PollUntil([] { return Count(Get(kEndpoint + "/metrics"), "requests_total{") == 1; }, 30s));
    EXPECT_NE(LoadedLibraries().find("nodrel-metrics-http.so"), std::string::npos);

    EXPECT_NE(Get(kEndpoint + "/").find("/metrics"), std::string::npos);
    const auto status = [](const std::string& options, const std::string& path) {
        return Capture("curl -s -o /dev/null -w '%{http_code}' " + options + " " + kEndpoint +
                       path);
    };
    EXPECT_EQ(status("-X POST", "/metrics"), "405");
    EXPECT_EQ(status("", "/nothing"), "404");
    const std::string request = "GET /metrics HTTP/1.1\r\nHost: 127.0.0.1\r\n";
    const TExchange longButAllowed =
        Exchange(request + "X-Filler: " + std::string(4000, 'a') + "\r\n\r\n", 1s);
    EXPECT_EQ(longButAllowed.Answer.rfind("HTTP/1.1 200 OK\r\n", 0), 0u);

    for (const std::string& refused :
         {std::string("GARBAGE\r\n\r\n"),
          request + "X-Filler: " + std::string(9 * 1024, 'a') + "\r\n\r\n"}) {
        const TExchange exchange = Exchange(refused);
        EXPECT_TRUE(exchange.Closed) << refused.substr(0, 40);
        EXPECT_EQ(exchange.Answer.find("200 OK"), std::string::npos) << exchange.Answer;
    }
    const TExchange slow = Exchange(request, 15s);  // the blank line never comes
    EXPECT_TRUE(slow.Closed);
    EXPECT_LT(slow.Took, 12s);
    EXPECT_EQ(slow.Answer, "");

    const auto requests = [] {
        const std::string text = Get(kEndpoint + "/metrics");
        const size_t at = text.find("smokeping_requests_total{");
        return at == std::string::npos ? -1 : std::stoi(text.substr(text.find("} ", at) + 2));
    };
    const int before = requests();
    std::vector<int> connections;
    for (int i = 0; i < 100; ++i) connections.push_back(ConnectToEndpoint());
    std::this_thread::sleep_for(1s);
    int held = 0;
    for (const int fd : connections) held += fd >= 0 && !ClosedByServer(fd, 0ms) ? 1 : 0;
    EXPECT_EQ(held, 16);
    // Those held are closed at their deadline; meanwhile the probes went on.
    EXPECT_TRUE(PollUntil([&] { return requests() >= before + 8; }, 20s)) << before;
    for (const int fd : connections) close(fd);
    EXPECT_EQ(kill(program_, 0), 0);
    EXPECT_EQ(StopProgram(), 0);
}

// A folder that cannot be written is told once, however often the writes fail, and the figures
// reach it once it can be written. Without the endpoint, no network library is loaded.
TEST_F(MetricsTest, ATextfileFolderThatCannotBeWrittenIsToldOnceAndTriedAgain) {
    const std::string folder = dir_ + "/not-yet";
    StartProgram({"--metrics-textfile", folder});
    ASSERT_TRUE(PollUntil([&] { return Count(Errors(), "cannot be written") == 1; }, 30s));
    EXPECT_EQ(LoadedLibraries().find("libQt6Network"), std::string::npos);
    std::this_thread::sleep_for(16s);  // a second write failed meanwhile
    EXPECT_EQ(Count(Errors(),
                    "the figures for Prometheus cannot be written to " + folder + "/nodrel.prom"),
              1u)
        << Errors();
    fs::create_directories(folder);
    EXPECT_TRUE(PollUntil([&] { return fs::exists(folder + "/nodrel.prom"); }, 20s));
    EXPECT_EQ(Count(Errors(), "are written to " + folder + "/nodrel.prom"), 1u) << Errors();
    EXPECT_EQ(StopProgram(), 0);
    EXPECT_FALSE(fs::exists(folder + "/nodrel.prom"));
}

}  // namespace
}  // namespace nodrel

// pavoset-loadgen: many concurrent clients fetching the catalogue and every file over both
// protocols from a server on loopback, verifying every CRC-32; prints throughput, per-file
// latency percentiles, the error count (each error named), the files that arrived wrong and
// the clients that failed. With --legacy the framed clients behave as the PCs in the field:
// a "NEXT" after every receive, the answer's included, and a file taken as complete when the
// server closes, whatever its size (the load generator then checks what such a PC would not).
#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <string>
#include <sys/resource.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "core/field_split_text.h"
#include "core/text_protocol.h"
#include "server/probe_client.h"

struct catalogue_entry {
    std::string name;
    uint32_t crc = 0;
    uint64_t size = 0;
};

struct load_results {
    std::mutex lock;
    std::map<std::string, std::vector<double>> latency_ms;  // per file
    uint64_t bytes = 0;
    int errors = 0;
    int corrupt = 0;         // bytes that a client would have taken for the file, but wrong
    int failed_clients = 0;  // clients with at least one error
    std::vector<std::string> first_errors;
};

struct load_config {
    std::string host = "127.0.0.1";
    int port = 5757;
    int clients = 500;
    int timeout_ms = 30000;
    bool text = true;
    bool framed = true;
    bool legacy = false;
};

static bool parse_catalogue(const std::string &text, std::vector<catalogue_entry> *entries)
{
    for (const std::string &record : split_field_texts(text, TEXT_RECORD_SEPARATOR)) {
        if (record.empty())
            continue;  // the one-file framed catalogue ends with a separator
        std::vector<std::string> fields = split_field_texts(record, TEXT_FIELD_SEPARATOR);
        if (fields.size() < 5)
            return false;
        catalogue_entry entry;
        entry.name = fields[0];
        entry.crc = static_cast<uint32_t>(std::strtoul(fields[1].c_str(), nullptr, 10));
        entry.size = std::strtoull(fields[2].c_str(), nullptr, 10);
        entries->push_back(entry);
    }
    return !entries->empty();
}

static void note_error(load_results *results, const std::string &what, bool corrupt = false)
{
    std::lock_guard<std::mutex> guard(results->lock);
    ++results->errors;
    if (corrupt)
        ++results->corrupt;
    if (results->first_errors.size() < 5)
        results->first_errors.push_back(what);
}

// One download's report: what went wrong, and whether the bytes would have been taken for the
// file although they are not it (the catalogue's size with another CRC-32 is what a mix of two
// versions or damage in transit looks like; a legacy client takes whatever came before the
// close).
static void note_download_error(load_results *results, const char *protocol,
                                const catalogue_entry &entry, int rc,
                                const probe_download &download, bool takes_short_files)
{
    bool complete = rc == 1 && download.answer_alone;
    std::string failure = download.failure;
    if (failure.empty() && complete)
        failure = download.received != entry.size ? "size differs from the catalogue's"
                                                  : "CRC-32 differs from the catalogue's";
    // A client that cannot tell the answer from the file's first bytes refuses the file: the
    // server's pause after the answer was shorter than the client's wait to be scheduled.
    if (failure.empty() && !download.answer_alone)
        failure = "answer and data arrived together";
    bool corrupt = complete && download.crc != entry.crc &&
                   (download.received == entry.size || takes_short_files);
    std::string what =
        std::string(protocol) + ": " + entry.name + " failed (rc " + std::to_string(rc) +
        ", answer " + (download.answer_alone ? "alone" : "merged with data") + ", " +
        std::to_string(download.received) + " of " + std::to_string(entry.size) + " bytes" +
        (failure.empty() ? "" : ", " + failure) + (corrupt ? ", CORRUPT" : "") + ")";
    note_error(results, what, corrupt);
}

static void note_client_failed(load_results *results)
{
    std::lock_guard<std::mutex> guard(results->lock);
    ++results->failed_clients;
}

static double since_ms(std::chrono::steady_clock::time_point start)
{
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
        .count();
}

static void text_client(const load_config &config, load_results *results)
{
    int fd = probe_connect(config.host.c_str(), config.port, config.timeout_ms);
    if (fd < 0) {
        note_error(results, std::string("text: connect failed: ") + std::strerror(errno));
        note_client_failed(results);
        return;
    }
    std::string answer;
    std::vector<catalogue_entry> entries;
    if (!probe_text_exchange(fd, TEXT_REQUEST_CATALOGUE, TEXT_CATALOGUE_RECEIVE_SIZE, &answer,
                             config.timeout_ms) ||
        answer.compare(0, TEXT_ANSWER_PREFIX_LENGTH, TEXT_ANSWER_OK) != 0 ||
        !parse_catalogue(std::string(answer.c_str()).substr(TEXT_ANSWER_PREFIX_LENGTH), &entries)) {
        note_error(results, std::string("text: catalogue failed: ") + std::strerror(errno));
        note_client_failed(results);
        probe_close(fd);
        return;
    }
    bool failed = false;
    for (const catalogue_entry &entry : entries) {
        probe_download download;
        auto start = std::chrono::steady_clock::now();
        int rc = probe_text_download(fd, entry.name, &download, config.timeout_ms);
        double ms = since_ms(start);
        if (rc != 1 || !download.answer_alone || download.received != entry.size ||
            download.crc != entry.crc) {
            note_download_error(results, "text", entry, rc, download, false);
            failed = true;
            if (rc != 1)
                break;  // the connection is out of step now
            continue;
        }
        std::lock_guard<std::mutex> guard(results->lock);
        results->latency_ms[entry.name].push_back(ms);
        results->bytes += download.received;
    }
    probe_close(fd);
    if (failed)
        note_client_failed(results);
}

// The program tries each exchange up to five times.
static bool exchange_with_retries(int fd, const sockaddr_in &server, uint8_t sub_kind,
                                  probe_exchange *out)
{
    for (int attempt = 0; attempt < 5; ++attempt) {
        *out = probe_exchange();
        if (probe_datagram_exchange(fd, server, 4, sub_kind, out) && out->sub_kind == sub_kind)
            return true;
    }
    return false;
}

static void framed_client(const load_config &config, load_results *results)
{
    int udp = probe_udp_socket(config.timeout_ms / 5);
    sockaddr_in server = probe_address(config.host.c_str(), config.port);
    probe_exchange catalogue, port;
    std::vector<catalogue_entry> entries;
    bool ok = udp >= 0 && exchange_with_retries(udp, server, 7, &catalogue) &&
              catalogue.value == 1000 && parse_catalogue(catalogue.body, &entries) &&
              exchange_with_retries(udp, server, 8, &port) && port.value > 0;
    probe_close(udp);
    if (!ok) {
        note_error(results, "framed: catalogue or port request failed");
        note_client_failed(results);
        return;
    }
    bool failed = false;
    for (const catalogue_entry &entry : entries) {
        probe_download download;
        download.next_after_answer = config.legacy;
        auto start = std::chrono::steady_clock::now();
        int rc = probe_framed_download(config.host.c_str(), port.value, entry.name, &download,
                                       config.timeout_ms);
        double ms = since_ms(start);
        if (rc != 1 || !download.answer_alone || download.received != entry.size ||
            download.crc != entry.crc) {
            note_download_error(results, "framed", entry, rc, download, config.legacy);
            failed = true;
            continue;
        }
        std::lock_guard<std::mutex> guard(results->lock);
        results->latency_ms[entry.name].push_back(ms);
        results->bytes += download.received;
    }
    if (failed)
        note_client_failed(results);
}

static double percentile(std::vector<double> values, double p)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    size_t index = static_cast<size_t>(p * static_cast<double>(values.size() - 1) + 0.5);
    return values[std::min(index, values.size() - 1)];
}

static int run_phase(const load_config &config, const char *label,
                     void (*client)(const load_config &, load_results *))
{
    load_results results;
    std::mutex gate_lock;
    std::condition_variable gate;
    bool open = false;
    std::vector<std::thread> threads;
    threads.reserve(static_cast<size_t>(config.clients));
    for (int i = 0; i < config.clients; ++i) {
        threads.emplace_back([&] {
            {
                std::unique_lock<std::mutex> wait(gate_lock);
                gate.wait(wait, [&] { return open; });
            }
            client(config, &results);
        });
    }
    auto start = std::chrono::steady_clock::now();
    {
        std::lock_guard<std::mutex> guard(gate_lock);
        open = true;
    }
    gate.notify_all();
    for (std::thread &t : threads)
        t.join();
    double seconds = since_ms(start) / 1000.0;
    double mb = static_cast<double>(results.bytes) / 1e6;
    std::printf("%s: %d clients, %.1f MB in %.2f s = %.1f MB/s, errors %d\n", label, config.clients,
                mb, seconds, seconds > 0 ? mb / seconds : 0.0, results.errors);
    std::printf("  %-20s %8s %10s %10s\n", "file", "fetches", "p50 ms", "p99 ms");
    for (const auto &entry : results.latency_ms)
        std::printf("  %-20s %8zu %10.1f %10.1f\n", entry.first.c_str(), entry.second.size(),
                    percentile(entry.second, 0.50), percentile(entry.second, 0.99));
    for (const std::string &error : results.first_errors)
        std::printf("  error: %s\n", error.c_str());
    std::printf("%s: corrupt %d, clients failed %d\n", label, results.corrupt,
                results.failed_clients);
    std::fflush(stdout);
    return results.errors;
}

int main(int argc, char **argv)
{
    load_config config;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        const char *value = i + 1 < argc ? argv[i + 1] : "";
        if (arg == "--host") {
            config.host = value;
            ++i;
        } else if (arg == "--port") {
            config.port = std::atoi(value);
            ++i;
        } else if (arg == "--clients") {
            config.clients = std::max(1, std::min(5000, std::atoi(value)));
            ++i;
        } else if (arg == "--timeout-ms") {
            config.timeout_ms = std::max(1000, std::atoi(value));
            ++i;
        } else if (arg == "--legacy") {
            config.legacy = true;
        } else if (arg == "--only") {
            config.text = std::strcmp(value, "text") == 0;
            config.framed = std::strcmp(value, "framed") == 0;
            ++i;
        } else {
            std::fprintf(stderr,
                         "usage: pavoset-loadgen [--host 127.0.0.1] [--port N] [--clients N] "
                         "[--timeout-ms N] [--only text|framed] [--legacy]\n");
            return 2;
        }
    }
    if (config.host.compare(0, 4, "127.") != 0) {
        std::fprintf(stderr, "pavoset-loadgen: loopback addresses only\n");
        return 2;
    }
    struct rlimit limit;
    if (getrlimit(RLIMIT_NOFILE, &limit) == 0) {
        limit.rlim_cur = limit.rlim_max;
        setrlimit(RLIMIT_NOFILE, &limit);
    }
    int errors = 0;
    if (config.text)
        errors += run_phase(config, "text", text_client);
    if (config.framed)
        errors += run_phase(config, "framed", framed_client);
    std::printf("errors: %d\n", errors);
    return errors == 0 ? 0 : 1;
}

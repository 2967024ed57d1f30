#include "sender.h"

#include <algorithm>
#include <climits>
#include <ctime>

#include "msgpack_scan.h"
#include "postvane.h"

namespace postvane_send {
namespace {

constexpr size_t kBatchBytes = 64 * 1024; // events per add_data, up to this many bytes
constexpr size_t kListedRejections = 50;   // line numbers spelled out in the summary

double seconds_now() {
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return static_cast<double>(t.tv_sec) + t.tv_nsec / 1e9;
}

// Collects events into one buffer and hands it over when full. A batch that the engine
// rejects is sent again event by event, so that exactly the bad events are reported.
class Batcher {
  public:
    Batcher(raw_context_t *context, Summary *summary, FILE *report)
        : context_(context), summary_(summary), report_(report), last_progress_(seconds_now()) {}

    void add(const uint8_t *event, size_t length, size_t number) {
        if (!buffer_.empty() && buffer_.size() + length > kBatchBytes)
            flush();
        starts_.push_back(buffer_.size());
        numbers_.push_back(number);
        buffer_.insert(buffer_.end(), event, event + length);
        if (buffer_.size() >= kBatchBytes)
            flush();
    }

    void flush() {
        if (buffer_.empty())
            return;
        if (send(buffer_.data(), buffer_.size())) {
            summary_->events += numbers_.size();
            summary_->bytes += buffer_.size();
        } else {
            starts_.push_back(buffer_.size());
            for (size_t i = 0; i + 1 < starts_.size(); ++i) {
                const size_t length = starts_[i + 1] - starts_[i];
                if (numbers_.size() > 1 && send(buffer_.data() + starts_[i], length)) {
                    summary_->events += 1;
                    summary_->bytes += length;
                } else {
                    summary_->rejected.push_back(numbers_[i]);
                }
            }
        }
        buffer_.clear();
        starts_.clear();
        numbers_.clear();
        progress();
    }

  private:
    bool send(const uint8_t *data, size_t length) {
        if (length > INT_MAX)
            return false;
        return add_data(context_, const_cast<uint8_t *>(data), static_cast<int>(length)) == 0;
    }

    // A progress line at most once a second, so that long input shows it is moving.
    void progress() {
        const double now = seconds_now();
        if (now - last_progress_ < 1.0)
            return;
        last_progress_ = now;
        fprintf(report_, "postvane-send: %zu events, %zu bytes so far, %zu rejected\n",
                summary_->events, summary_->bytes, summary_->rejected.size());
        fflush(report_);
    }

    raw_context_t *context_;
    Summary *summary_;
    FILE *report_;
    double last_progress_;
    std::vector<uint8_t> buffer_;
    std::vector<size_t> starts_;
    std::vector<size_t> numbers_;
};

void send_json_lines(FILE *in, Batcher &batch, Summary *summary) {
    char *line = nullptr;
    size_t capacity = 0;
    ssize_t length;
    size_t number = 0;
    std::vector<uint8_t> event;
    while ((length = getline(&line, &capacity, in)) >= 0) {
        ++number;
        std::string text(line, static_cast<size_t>(length));
        if (text.find_first_not_of(" \t\r\n") == std::string::npos)
            continue; // blank lines are no events
        event.clear();
        if (json_line_to_event(text, &event))
            batch.add(event.data(), event.size(), number);
        else
            summary->rejected.push_back(number);
    }
    free(line);
}

void send_msgpack(FILE *in, Batcher &batch, Summary *summary) {
    std::vector<uint8_t> data;
    uint8_t chunk[65536];
    size_t n;
    while ((n = fread(chunk, 1, sizeof chunk, in)) > 0)
        data.insert(data.end(), chunk, chunk + n);
    size_t at = 0, number = 0;
    while (at < data.size()) {
        ++number;
        const size_t length = msgpack_object_length(data.data() + at, data.size() - at);
        if (length == 0) {
            // Past a broken object nothing can be found again: the rest is not read.
            summary->rejected.push_back(number);
            summary->stopped = "invalid or truncated MessagePack at byte " + std::to_string(at);
            break;
        }
        batch.add(data.data() + at, length, number);
        at += length;
    }
}

void print_summary(FILE *report, const Options &options, const std::string &plugin,
                   const Summary &s) {
    fprintf(report, "postvane-send: %zu events, %zu bytes handed to output '%s'; %zu rejected",
            s.events, s.bytes, plugin.c_str(), s.rejected.size());
    if (!s.rejected.empty()) {
        fprintf(report, " (%s", options.msgpack ? "objects" : "lines");
        for (size_t i = 0; i < s.rejected.size() && i < kListedRejections; ++i)
            fprintf(report, "%s %zu", i ? "," : "", s.rejected[i]);
        fprintf(report, "%s)", s.rejected.size() > kListedRejections ? ", ..." : "");
    }
    fprintf(report, "\n");
    if (!s.stopped.empty())
        fprintf(report, "postvane-send: stopped reading: %s\n", s.stopped.c_str());
    fflush(report);
}

} // namespace

int run(const Options &options, FILE *in, FILE *report, Summary *summary) {
    const std::string plugin =
        !options.plugin.empty() ? options.plugin : options.host.empty() ? "stdout" : "forward";
    std::vector<output_plugin_param_t> items;
    if (!options.tag.empty())
        items.push_back({"tag_match_pair", options.tag.c_str()});
    for (const auto &[key, value] : options.params)
        items.push_back({key.c_str(), value.c_str()});
    const output_plugin_params_t params{static_cast<int32_t>(items.size()), items.data()};

    raw_context_t *context = init(plugin.c_str(), options.host.c_str(), options.port.c_str(),
                                  &params, "postvane-send");
    if (context == nullptr) {
        fprintf(report, "postvane-send: could not start forwarding through '%s'\n", plugin.c_str());
        return 2;
    }
    {
        Batcher batch(context, summary, report);
        if (options.msgpack)
            send_msgpack(in, batch, summary);
        else
            send_json_lines(in, batch, summary);
        batch.flush();
    }
    finalize(context); // flushes what the engine still holds
    // Local refusals are found at once, the engine's at the next batch: report in order.
    std::sort(summary->rejected.begin(), summary->rejected.end());
    print_summary(report, options, plugin, *summary);
    return summary->rejected.empty() ? 0 : 1;
}

} // namespace postvane_send

#include "tools/varkel-check/cli/acquire.h"

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <thread>

#include "common/escape.h"
#include "common/stop.h"
#include "tools/varkel-check/capture/logic_stream.h"

#if defined(VARKEL_HAVE_LIBSIGROK)
#include <libsigrok/libsigrok.h>
#endif

namespace varkel_check {

#if !defined(VARKEL_HAVE_LIBSIGROK)

bool CanAcquire() {
    return false;
}
std::string AcquireLibrary() {
    return "none (built without libsigrok)";
}
bool Acquire(const AcquireRequest&, const LineNames&, CaptureSink&, CaptureInfo&,
             const std::function<unsigned()>&, const std::function<void(const AcquireStatus&)>&,
             AcquireStatus&, std::string& error) {
    error =
        "this varkel-check was built without libsigrok, so it cannot acquire; check a capture file instead";
    return false;
}
bool ReadThroughInputModule(int, const std::string&, const LineNames&, CaptureSink&, CaptureInfo&,
                            std::string& error) {
    error = "this varkel-check was built without libsigrok, so it has no input modules (-I)";
    return false;
}
bool ScanAnalysers(const std::string&, std::vector<std::string>&, std::string& error) {
    error = "this varkel-check was built without libsigrok, so it cannot look for analysers";
    return false;
}

#else

namespace {

constexpr std::size_t kShown = 64;
// The fastest rate a live check takes: beyond what analysers stream, and
// what the decoder keeps up with on one core.
constexpr std::uint64_t kMaxLiveSampleRate = 1'000'000'000;

// The last complaint libsigrok logged, to say why a scan found nothing
// (firmware it could not load, a device it may not open).
std::string g_lastComplaint;

int OnLog(void* /*data*/, int level, const char* format, va_list args) {
    if (level <= SR_LOG_WARN) {
        char text[256];
        std::vsnprintf(text, sizeof text, format, args);
        g_lastComplaint = text;
    }
    return SR_OK;
}

// Owns what libsigrok hands out, and gives it back in order.
struct Library {
    sr_context* context = nullptr;
    sr_dev_inst* device = nullptr;
    bool open = false;
    sr_session* session = nullptr;
    GSList* scanned = nullptr;
    // libsigrok started, its complaints kept for our one line.
    bool Start(std::string& error) {
        sr_log_callback_set(OnLog, nullptr);
        sr_log_loglevel_set(SR_LOG_WARN);
        if (sr_init(&context) != SR_OK) {
            error = "libsigrok would not start";
            return false;
        }
        return true;
    }
    ~Library() {
        if (session != nullptr) {
            sr_session_destroy(session);
        }
        if (open) {
            sr_dev_close(device);
        }
        g_slist_free(scanned);
        if (context != nullptr) {
            sr_exit(context);
        }
    }
};

// "fx2lafw:conn=1.5:samplerate=8m" into the driver's name and its options.
std::vector<std::string> Split(const std::string& text, char separator) {
    std::vector<std::string> parts;
    std::size_t from = 0;
    for (std::size_t at; (at = text.find(separator, from)) != std::string::npos; from = at + 1) {
        parts.push_back(text.substr(from, at - from));
    }
    parts.push_back(text.substr(from));
    return parts;
}

// A rate as sigrok-cli spells it ("8m", "24000000"), within what a live
// check takes; 0 with `error` otherwise.
std::uint64_t LiveSampleRate(const std::string& text, const char* option, std::string& error) {
    std::uint64_t rate = 0;
    if (sr_parse_sizestring(text.c_str(), &rate) != SR_OK || rate == 0 || rate > kMaxLiveSampleRate) {
        error = std::string(option) + " takes a rate from 1 to 1g (1 GHz), such as 8m or 24000000, not '" +
                common::Escaped(text, kShown) + "'";
        return 0;
    }
    return rate;
}

// One driver option as libsigrok takes it, or null with `error`.
GVariant* OptionValue(const sr_key_info& info, const std::string& value, std::string& error) {
    switch (info.datatype) {
        case SR_T_STRING:
            return g_variant_new_string(value.c_str());
        case SR_T_BOOL:
            if (value == "true" || value == "1" || value.empty()) {
                return g_variant_new_boolean(TRUE);
            }
            if (value == "false" || value == "0") {
                return g_variant_new_boolean(FALSE);
            }
            break;
        case SR_T_UINT64: {
            std::uint64_t n = 0;
            if (sr_parse_sizestring(value.c_str(), &n) == SR_OK) {
                return g_variant_new_uint64(n);
            }
            break;
        }
        case SR_T_FLOAT: {
            char* end = nullptr;
            const double x = std::strtod(value.c_str(), &end);
            if (!value.empty() && end != nullptr && *end == '\0') {
                return g_variant_new_double(x);
            }
            break;
        }
        default:
            error = "driver option " + common::Escaped(info.id, kShown) + " is not one varkel-check can set";
            return nullptr;
    }
    error = "driver option " + common::Escaped(info.id, kShown) + " takes no value '" +
            common::Escaped(value, kShown) + "'";
    return nullptr;
}

struct Feed {
    const AcquireRequest& request;
    CaptureSink& sink;
    CaptureInfo& info;
    const std::function<unsigned()>& messagesChecked;
    const std::function<void(const AcquireStatus&)>& onTick;
    AcquireStatus& status;
    sr_session* session;
    int bit[kLines];
    std::uint64_t rate = 0;
    std::unique_ptr<LogicStream> stream = nullptr;
    std::uint64_t nextTick = 0;
    std::atomic<bool> stopping{false};  // we asked the session to stop
    bool ended = false;                 // the device said its last
    std::string error = {};
};

void OnPacket(const sr_dev_inst* /*device*/, const sr_datafeed_packet* packet, void* data) {
    Feed& f = *static_cast<Feed*>(data);
    if (packet->type == SR_DF_END) {
        f.ended = true;
        return;
    }
    if (packet->type != SR_DF_LOGIC || f.stopping) {
        return;
    }
    const auto* logic = static_cast<const sr_datafeed_logic*>(packet->payload);
    if (!f.stream) {
        if (logic->unitsize == 0 || logic->unitsize > LogicStream::kMaxUnitBytes ||
            logic->unitsize * 8u <= static_cast<unsigned>(std::max({f.bit[0], f.bit[1], f.bit[2]}))) {
            f.error = "the device sends samples of " + std::to_string(logic->unitsize) +
                      " bytes, which cannot hold its channels";
            f.stopping = true;
            sr_session_stop(f.session);
            return;
        }
        f.stream = std::make_unique<LogicStream>(logic->unitsize, f.bit, f.sink);
    }
    std::size_t length = logic->length;
    if (f.request.samples != 0) {  // no sample past the count asked for, as sigrok-cli keeps none
        const std::uint64_t left = f.request.samples - f.stream->count();
        length = static_cast<std::size_t>(std::min<std::uint64_t>(length, left * logic->unitsize));
    }
    f.stream->Take(std::string_view(static_cast<const char*>(logic->data), length));
    f.status.samples = f.stream->count();
    f.status.seconds = static_cast<double>(f.status.samples) / static_cast<double>(f.rate);
    if (f.status.samples >= f.nextTick) {
        f.nextTick = f.status.samples + f.rate / 4;
        if (f.onTick) {
            f.onTick(f.status);
        }
    }
    const bool timeUp = (f.request.seconds > 0 && f.status.seconds >= f.request.seconds) ||
                        (f.request.samples != 0 && f.status.samples >= f.request.samples);
    const bool enough =
        f.request.messages != 0 && f.messagesChecked && f.messagesChecked() >= f.request.messages;
    if (timeUp || enough) {
        f.stopping = true;
        sr_session_stop(f.session);
    }
}

}  // namespace

bool CanAcquire() {
    return true;
}

std::string AcquireLibrary() {
    return std::string("libsigrok ") + sr_package_version_string_get();
}

namespace {

// What an input module sends, turned into the three lines' levels.
struct InputFeed {
    const LineNames& names;
    CaptureSink& sink;
    CaptureInfo& info;
    std::string module;
    std::uint64_t rate = 0;
    int bit[kLines] = {-1, -1, -1};
    std::unique_ptr<LogicStream> stream = nullptr;
    std::string error = {};
};

// The first samples: the lines found among the module's channels, the
// sample rate known, the sink begun.
bool StartStream(InputFeed& f, const sr_dev_inst* device, std::size_t unitBytes) {
    if (f.rate == 0) {
        f.error =
            "the " + f.module + " input gives no sample rate: give it, as -I " + f.module + ":samplerate=8m";
        return false;
    }
    const std::string lineNames[kLines] = {f.names.sclk, f.names.sfrm, f.names.txd};
    std::string channels;
    for (GSList* l = sr_dev_inst_channels_get(const_cast<sr_dev_inst*>(device)); l != nullptr; l = l->next) {
        const auto* channel = static_cast<const sr_channel*>(l->data);
        if (channel->type != SR_CHANNEL_LOGIC) {
            continue;
        }
        channels += (channels.empty() ? "" : ", ") + std::string(channel->name);
        for (int i = 0; i < kLines; ++i) {
            if (SameName(channel->name, lineNames[i]) && f.bit[i] >= 0) {  // which of the two is meant?
                f.error = common::Escaped(lineNames[i], kShown) + " names two channels of the " + f.module +
                          " input; give its channels other names (for csv: header=false, and --channels)";
                return false;
            }
            if (SameName(channel->name, lineNames[i])) {
                f.bit[i] = channel->index;
            }
        }
    }
    for (int i = 0; i < kLines; ++i) {
        if (f.bit[i] < 0 || static_cast<std::size_t>(f.bit[i]) >= unitBytes * 8) {
            f.error =
                "no channel of the " + f.module + " input carries " + common::Escaped(lineNames[i], kShown) +
                " (it has: " + common::Escaped(channels, 200) + "); map one with --channels, as " +
                (channels.empty() ? "0" : common::Escaped(channels.substr(0, channels.find(',')), kShown)) +
                "=" + lineNames[i];
            return false;
        }
    }
    char* rateText = sr_samplerate_string(f.rate);
    f.info.format = "libsigrok's " + f.module + " input";
    f.info.resolution = rateText != nullptr ? rateText : std::to_string(f.rate) + " Hz";
    g_free(rateText);
    f.info.secondsPerTick = 1.0 / static_cast<double>(f.rate);
    f.info.startTick = 0;
    f.sink.Begin(f.info);
    f.stream = std::make_unique<LogicStream>(unitBytes, f.bit, f.sink);
    return true;
}

void OnInputPacket(const sr_dev_inst* device, const sr_datafeed_packet* packet, void* data) {
    InputFeed& f = *static_cast<InputFeed*>(data);
    if (!f.error.empty()) {
        return;
    }
    if (packet->type == SR_DF_META) {
        const auto* meta = static_cast<const sr_datafeed_meta*>(packet->payload);
        for (GSList* l = meta->config; l != nullptr; l = l->next) {
            const auto* config = static_cast<const sr_config*>(l->data);
            if (config->key == SR_CONF_SAMPLERATE && f.stream == nullptr) {
                f.rate = g_variant_get_uint64(config->data);
            }
        }
    } else if (packet->type == SR_DF_LOGIC) {
        const auto* logic = static_cast<const sr_datafeed_logic*>(packet->payload);
        if (logic->unitsize == 0 || logic->unitsize > LogicStream::kMaxUnitBytes) {
            f.error = "damaged: the " + f.module + " input makes samples of " +
                      std::to_string(logic->unitsize) + " bytes";
            return;
        }
        if (f.stream == nullptr && !StartStream(f, device, logic->unitsize)) {
            return;
        }
        f.stream->Take(std::string_view(static_cast<const char*>(logic->data), logic->length));
    }
}

// An input module's option from its text, as the module's default is typed.
GVariant* InputOption(const sr_option& option, const std::string& value, std::string& error) {
    const GVariantType* type = g_variant_get_type(option.def);
    char* end = nullptr;
    errno = 0;
    if (g_variant_type_equal(type, G_VARIANT_TYPE_STRING)) {
        return g_variant_new_string(value.c_str());
    }
    if (g_variant_type_equal(type, G_VARIANT_TYPE_BOOLEAN) && (value == "true" || value == "false")) {
        return g_variant_new_boolean(value == "true");
    }
    if (g_variant_type_equal(type, G_VARIANT_TYPE_UINT64)) {
        std::uint64_t n = 0;
        if (sr_parse_sizestring(value.c_str(), &n) == SR_OK) {
            return g_variant_new_uint64(n);
        }
    } else if (g_variant_type_equal(type, G_VARIANT_TYPE_INT32) ||
               g_variant_type_equal(type, G_VARIANT_TYPE_UINT32)) {
        const long n = std::strtol(value.c_str(), &end, 10);
        if (errno == 0 && end != value.c_str() && *end == '\0' && n >= 0 && n <= INT32_MAX) {
            return g_variant_type_equal(type, G_VARIANT_TYPE_INT32)
                       ? g_variant_new_int32(static_cast<gint32>(n))
                       : g_variant_new_uint32(static_cast<guint32>(n));
        }
    } else if (g_variant_type_equal(type, G_VARIANT_TYPE_DOUBLE)) {
        const double x = std::strtod(value.c_str(), &end);
        if (errno == 0 && end != value.c_str() && *end == '\0' && std::isfinite(x)) {
            return g_variant_new_double(x);
        }
    }
    error = "the input option " + std::string(option.id) + " does not take '" +
            common::Escaped(value, kShown) + "'";
    return nullptr;
}

}  // namespace

bool ReadThroughInputModule(int fd, const std::string& format, const LineNames& names, CaptureSink& sink,
                            CaptureInfo& info, std::string& error) {
    Library lib;
    if (!lib.Start(error)) {
        return false;
    }
    const std::vector<std::string> parts = Split(format, ':');
    const sr_input_module* module = sr_input_find(const_cast<char*>(parts[0].c_str()));
    if (module == nullptr) {
        error = "libsigrok has no input format '" + common::Escaped(parts[0], kShown) +
                "' (sigrok-cli -L lists those it has)";
        return false;
    }
    // The options, each typed as the module's default for it.
    const sr_option** options = sr_input_options_get(module);
    GHashTable* given = g_hash_table_new_full(g_str_hash, g_str_equal, g_free,
                                              reinterpret_cast<GDestroyNotify>(g_variant_unref));
    struct Free {
        const sr_option** options;
        GHashTable* given;
        ~Free() {
            g_hash_table_destroy(given);
            sr_input_options_free(options);
        }
    } free{options, given};
    for (std::size_t i = 1; i < parts.size(); ++i) {
        const std::size_t equals = parts[i].find('=');
        const std::string key = parts[i].substr(0, equals);
        const sr_option* option = nullptr;
        std::string known;
        for (const sr_option** o = options; o != nullptr && *o != nullptr; ++o) {
            option = key == (*o)->id ? *o : option;
            known += (known.empty() ? "" : ", ") + std::string((*o)->id);
        }
        if (option == nullptr || equals == std::string::npos) {
            error = "the " + parts[0] + " input has no option '" + common::Escaped(parts[i], kShown) +
                    "' (it takes: " + (known.empty() ? "none" : known) + ", each as KEY=VALUE)";
            return false;
        }
        GVariant* value = InputOption(*option, parts[i].substr(equals + 1), error);
        if (value == nullptr) {
            return false;
        }
        g_hash_table_insert(given, g_strdup(option->id), g_variant_ref_sink(value));
    }
    sr_input* input = sr_input_new(module, given);
    if (input == nullptr) {
        error =
            "libsigrok's " + parts[0] + " input refuses these options" +
            (g_lastComplaint.empty() ? "" : " (libsigrok: " + common::Escaped(g_lastComplaint, 160) + ")");
        return false;
    }
    struct FreeInput {
        sr_input* input;
        ~FreeInput() { sr_input_free(input); }
    } freeInput{input};
    InputFeed feed{names, sink, info, parts[0]};
    if (sr_session_new(lib.context, &lib.session) != SR_OK ||
        sr_session_datafeed_callback_add(lib.session, OnInputPacket, &feed) != SR_OK) {
        error = "libsigrok would not make a session for the " + parts[0] + " input";
        return false;
    }
    // The file in pieces, as sigrok-cli hands it over; the module's device
    // joins the session once it knows its channels.
    bool added = false;
    std::vector<char> piece(1 << 16);
    for (;;) {
        const ssize_t n = ::read(fd, piece.data(), piece.size());
        if (n < 0 && errno == EINTR && !common::StopRequested()) {
            continue;
        }
        if (n < 0) {
            error = common::StopRequested() ? "interrupted"
                                            : std::string("cannot read it: ") + std::strerror(errno);
            return false;
        }
        if (n == 0) {
            break;
        }
        GString* text = g_string_new_len(piece.data(), n);
        const int sent = sr_input_send(input, text);
        g_string_free(text, TRUE);
        if (sent != SR_OK) {
            error = "damaged: libsigrok's " + parts[0] + " input cannot read it" +
                    (g_lastComplaint.empty() ? ""
                                             : " (libsigrok: " + common::Escaped(g_lastComplaint, 160) + ")");
            return false;
        }
        if (!added) {
            if (sr_dev_inst* device = sr_input_dev_inst_get(input); device != nullptr) {
                added = sr_session_dev_add(lib.session, device) == SR_OK;
            }
        }
        if (!feed.error.empty()) {
            break;
        }
    }
    // Ended in every case: the module frees what it holds only then.
    if (sr_input_end(input) != SR_OK && feed.error.empty()) {
        error =
            "damaged: libsigrok's " + parts[0] + " input cannot read it to its end" +
            (g_lastComplaint.empty() ? "" : " (libsigrok: " + common::Escaped(g_lastComplaint, 160) + ")");
        return false;
    }
    if (!feed.error.empty()) {
        error = feed.error;
        return false;
    }
    if (feed.stream == nullptr) {
        error = "the " + parts[0] + " input found no logic samples in it";
        return false;
    }
    info.endTick = feed.stream->count();
    sink.End(info.endTick);
    return true;
}

bool ScanAnalysers(const std::string& only, std::vector<std::string>& found, std::string& error) {
    Library lib;
    if (!lib.Start(error)) {
        return false;
    }
    bool known = only.empty();
    for (sr_dev_driver** d = sr_driver_list(lib.context); d != nullptr && *d != nullptr; ++d) {
        if (!only.empty() && only != (*d)->name) {
            continue;
        }
        known = true;
        if (sr_driver_init(lib.context, *d) != SR_OK) {
            continue;
        }
        GSList* devices = sr_driver_scan(*d, nullptr);
        for (GSList* l = devices; l != nullptr; l = l->next) {
            auto* device = static_cast<sr_dev_inst*>(l->data);
            std::string line = (*d)->name;
            if (const char* conn = sr_dev_inst_connid_get(device); conn != nullptr && *conn != '\0') {
                line += std::string(":conn=") + conn;
            }
            line += " -";
            for (const char* part : {sr_dev_inst_vendor_get(device), sr_dev_inst_model_get(device),
                                     sr_dev_inst_version_get(device)}) {
                if (part != nullptr && *part != '\0') {
                    line += std::string(" ") + part;
                }
            }
            std::string channels;
            unsigned count = 0;
            for (GSList* c = sr_dev_inst_channels_get(device); c != nullptr; c = c->next, ++count) {
                channels += std::string(" ") + static_cast<const sr_channel*>(c->data)->name;
            }
            found.push_back(
                common::Escaped(line + " with " + std::to_string(count) + " channels:" + channels, 400));
        }
        g_slist_free(devices);
    }
    if (!known) {
        error = "libsigrok has no driver '" + common::Escaped(only, kShown) +
                "' (sigrok-cli -L lists those it has)";
        return false;
    }
    return true;
}

bool Acquire(const AcquireRequest& request, const LineNames& names, CaptureSink& sink, CaptureInfo& info,
             const std::function<unsigned()>& messagesChecked,
             const std::function<void(const AcquireStatus&)>& onTick, AcquireStatus& status,
             std::string& error) {
    Library lib;
    if (!lib.Start(error)) {
        return false;
    }
    const std::vector<std::string> parts = Split(request.driver, ':');
    std::uint64_t askedRate = 0;
    if (!request.sampleRate.empty() &&
        (askedRate = LiveSampleRate(request.sampleRate, "--samplerate", error)) == 0) {
        return false;
    }
    sr_dev_driver* driver = nullptr;
    unsigned known = 0;
    for (sr_dev_driver** d = sr_driver_list(lib.context); d != nullptr && *d != nullptr; ++d, ++known) {
        driver = parts[0] == (*d)->name ? *d : driver;
    }
    if (driver == nullptr) {
        error = "libsigrok has no driver '" + common::Escaped(parts[0], kShown) +
                "' (sigrok-cli -L lists the " + std::to_string(known) +
                " it has; fx2lafw drives the common USB analysers)";
        return false;
    }
    if (sr_driver_init(lib.context, driver) != SR_OK) {
        error = "libsigrok's " + parts[0] + " driver would not start";
        return false;
    }
    // Options: the connection ones go to the scan, the rest to the device.
    std::vector<std::pair<const sr_key_info*, std::string> > settings;
    GSList* scanOptions = nullptr;
    std::vector<std::unique_ptr<sr_config, void (*)(sr_config*)> > owned;
    for (std::size_t i = 1; i < parts.size(); ++i) {
        const std::size_t equals = parts[i].find('=');
        const std::string key = parts[i].substr(0, equals);
        const std::string value = equals == std::string::npos ? "" : parts[i].substr(equals + 1);
        const sr_key_info* info_ = sr_key_info_name_get(SR_KEY_CONFIG, key.c_str());
        if (info_ == nullptr) {
            error = "libsigrok has no driver option '" + common::Escaped(key, kShown) + "'";
            g_slist_free(scanOptions);
            return false;
        }
        if (info_->key == SR_CONF_SAMPLERATE && LiveSampleRate(value, "samplerate", error) == 0) {
            g_slist_free(scanOptions);
            return false;
        }
        if (info_->key == SR_CONF_CONN || info_->key == SR_CONF_SERIALCOMM) {
            GVariant* v = OptionValue(*info_, value, error);
            if (v == nullptr) {
                g_slist_free(scanOptions);
                return false;
            }
            owned.emplace_back(new sr_config{info_->key, g_variant_ref_sink(v)}, [](sr_config* c) {
                g_variant_unref(c->data);
                delete c;
            });
            scanOptions = g_slist_append(scanOptions, owned.back().get());
        } else {
            settings.emplace_back(info_, value);
        }
    }
    g_lastComplaint.clear();
    lib.scanned = sr_driver_scan(driver, scanOptions);
    g_slist_free(scanOptions);
    if (lib.scanned == nullptr) {
        error =
            "no " + parts[0] + " analyser found: is it plugged in, and may this user open it?" +
            (g_lastComplaint.empty() ? "" : " (libsigrok: " + common::Escaped(g_lastComplaint, 160) + ")");
        return false;
    }
    lib.device = static_cast<sr_dev_inst*>(lib.scanned->data);
    if (sr_dev_open(lib.device) != SR_OK) {
        error =
            "the " + parts[0] + " analyser would not open" +
            (g_lastComplaint.empty() ? "" : " (libsigrok: " + common::Escaped(g_lastComplaint, 160) + ")");
        return false;
    }
    lib.open = true;
    for (const auto& [key, value] : settings) {
        GVariant* v = OptionValue(*key, value, error);
        if (v == nullptr) {
            return false;
        }
        if (sr_config_set(lib.device, nullptr, key->key, v) != SR_OK) {
            error = "the " + parts[0] + " analyser refuses " + common::Escaped(key->id, kShown) + "=" +
                    common::Escaped(value, kShown);
            return false;
        }
    }
    if (askedRate != 0 &&
        sr_config_set(lib.device, nullptr, SR_CONF_SAMPLERATE, g_variant_new_uint64(askedRate)) != SR_OK) {
        error = "the " + parts[0] + " analyser does not sample at " + std::to_string(askedRate) +
                " samples a second";
        return false;
    }

    // The three lines, by the device's channel names.
    Feed feed{request, sink, info, messagesChecked, onTick, status, nullptr, {-1, -1, -1}};
    const std::string lineNames[kLines] = {names.sclk, names.sfrm, names.txd};
    std::string channels;
    for (GSList* l = sr_dev_inst_channels_get(lib.device); l != nullptr; l = l->next) {
        auto* channel = static_cast<sr_channel*>(l->data);
        if (channel->type != SR_CHANNEL_LOGIC) {
            sr_dev_channel_enable(channel, FALSE);
            continue;
        }
        channels += (channels.empty() ? "" : ", ") + std::string(channel->name);
        std::string carries = channel->name;  // a channel carries the line it is named after, unless mapped
        if (!request.channels.empty()) {
            carries.clear();
            for (const auto& [device, line] : request.channels) {
                carries = SameName(channel->name, device) ? line : carries;
            }
        }
        bool used = false;
        for (int i = 0; i < kLines; ++i) {
            if (feed.bit[i] < 0 && !carries.empty() && SameName(carries, lineNames[i])) {
                feed.bit[i] = channel->index;
                used = true;
            }
        }
        sr_dev_channel_enable(channel, used ? TRUE : FALSE);
    }
    for (int i = 0; i < kLines; ++i) {
        if (feed.bit[i] < 0) {
            error = "no channel of the " + parts[0] + " analyser carries " + lineNames[i] +
                    " (it has: " + common::Escaped(channels, 200) +
                    "); map one with --channels, as D0=" + lineNames[i];
            return false;
        }
    }
    GVariant* rate = nullptr;
    if (sr_config_get(driver, lib.device, nullptr, SR_CONF_SAMPLERATE, &rate) != SR_OK || rate == nullptr) {
        error = "the " + parts[0] + " analyser does not say its sample rate";
        return false;
    }
    feed.rate = g_variant_get_uint64(rate);
    g_variant_unref(rate);
    if (feed.rate == 0) {
        error = "the " + parts[0] + " analyser gives a sample rate of 0";
        return false;
    }
    char* rateText = sr_samplerate_string(feed.rate);
    info.format = "live acquisition";
    info.resolution = parts[0] + " at " + (rateText != nullptr ? rateText : std::to_string(feed.rate));
    g_free(rateText);
    info.secondsPerTick = 1.0 / static_cast<double>(feed.rate);
    info.startTick = 0;
    sink.Begin(info);

    if (sr_session_new(lib.context, &lib.session) != SR_OK ||
        sr_session_dev_add(lib.session, lib.device) != SR_OK ||
        sr_session_datafeed_callback_add(lib.session, OnPacket, &feed) != SR_OK) {
        error = "libsigrok would not make a session for the " + parts[0] + " analyser";
        return false;
    }
    feed.session = lib.session;
    if (sr_session_start(lib.session) != SR_OK) {
        error =
            "the " + parts[0] + " analyser would not start acquiring" +
            (g_lastComplaint.empty() ? "" : " (libsigrok: " + common::Escaped(g_lastComplaint, 160) + ")");
        return false;
    }
    // A signal is seen here, not in the feed: a device may send nothing.
    std::atomic<bool> running{true};
    std::thread watcher([&] {
        while (running) {
            if (common::StopRequested() && !feed.stopping.exchange(true)) {
                status.stoppedBySignal = true;
                sr_session_stop(lib.session);
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
    });
    sr_session_run(lib.session);
    running = false;
    watcher.join();
    if (!feed.error.empty()) {
        error = feed.error;
        return false;
    }
    status.endedEarly = !feed.stopping;
    if (status.samples == 0) {
        error = "the " + parts[0] + " analyser sent no samples" +
                (status.stoppedBySignal ? " before the stop" : "; is it still connected?");
        return false;
    }
    info.endTick = status.samples;
    sink.End(status.samples);
    return true;
}

#endif

}  // namespace varkel_check
